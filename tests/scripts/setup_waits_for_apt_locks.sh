#!/usr/bin/env bash
# scripts/setup.sh installs through apt-get; another package manager at work (an apt run,
# unattended upgrades) holds its locks for a while, and the install must wait for them
# rather than fail. A stand-in apt-get on the PATH plays the busy package manager.
set -euo pipefail
setup="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin"
failures=0
check() {  # description, then the test command
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

# Every package is missing, and this process is root (no sudo in the way).
printf '#!/bin/sh\nexit 1\n' >"$scratch/bin/dpkg-query"
printf '#!/bin/sh\n[ "$1" = -u ] && echo 0 || exec /usr/bin/id "$@"\n' >"$scratch/bin/id"
# apt-get: records its arguments; "update" finds the lists lock held $LOCKED_UPDATES times
# and "install" the download lock $LOCKED_INSTALLS times; FAIL_INSTALL fails otherwise.
cat >"$scratch/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$*" >>"$CALLS"
verb=update
for a in "$@"; do [ "$a" = install ] && verb=install; done
count_file="$CALLS.$verb"
n=$(( $(cat "$count_file" 2>/dev/null || echo 0) + 1 ))
echo "$n" >"$count_file"
if [ "$verb" = update ] && [ "$n" -le "${LOCKED_UPDATES:-0}" ]; then
  echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)" >&2
  echo "E: Unable to lock directory /var/lib/apt/lists/" >&2
  exit 100
fi
if [ "$verb" = install ] && [ "$n" -le "${LOCKED_INSTALLS:-0}" ]; then
  echo "E: Could not get lock /var/cache/apt/archives/lock. It is held by process 4242 (unattended-upgr)" >&2
  exit 100
fi
if [ "$verb" = install ] && [ -n "${FAIL_INSTALL:-}" ]; then
  echo "E: Unable to locate package $FAIL_INSTALL" >&2
  exit 100
fi
exit 0
STANDIN
chmod +x "$scratch/bin/"*

run_install() {  # runs the install in a shell of its own; its output goes to $scratch/out
  rm -f "$scratch/calls"*
  env PATH="$scratch/bin:$PATH" CALLS="$scratch/calls" GRIDMORPH_APT_RETRY_SECONDS=0 "$@" \
    bash -c 'source "$0" && gridmorph_install_packages' "$setup" >"$scratch/out" 2>&1
}
calls() { grep -c "$1" "$scratch/calls" || true; }

# The lists lock is held for two tries, the download lock for one: the install waits.
if run_install LOCKED_UPDATES=2 LOCKED_INSTALLS=1; then status=0; else status=$?; fi
check "the install succeeds once the locks are free" [ "$status" -eq 0 ]
check "apt-get update is tried until the lists lock is free" [ "$(calls update)" -eq 3 ]
check "apt-get install is tried until the download lock is free" [ "$(calls install)" -eq 2 ]
check "every call waits for dpkg's lock" [ "$(calls 'DPkg::Lock::Timeout=600')" -eq 5 ]
check "the wait is announced" grep -q "waiting up to 600 s" "$scratch/out"

# Any other failure stops at once, with apt's message.
if run_install FAIL_INSTALL=libfoo-dev; then status=0; else status=$?; fi
check "a failure that is not a lock fails the install" [ "$status" -ne 0 ]
check "and is not tried again" [ "$(calls install)" -eq 1 ]
check "apt's message is shown" grep -q "Unable to locate package libfoo-dev" "$scratch/out"

# A lock held past the wait fails too.
if run_install GRIDMORPH_APT_LOCK_WAIT=0 LOCKED_UPDATES=99; then status=0; else status=$?; fi
check "a lock held past the wait fails the install" [ "$status" -ne 0 ]
check "with the lock's message" grep -q "Could not get lock /var/lib/apt/lists/lock" "$scratch/out"

[ "$failures" -eq 0 ]
