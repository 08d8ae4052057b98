#!/usr/bin/env bash
# What the desktop program carries in itself (the manual and its screenshots) is not
# installed again beside it: each file ships once. Installs the build into a scratch
# folder and compares the files, by content, with the program's resource list.
set -euo pipefail
build="$1"
resources="$2"  # the generated .qrc file
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
sed -n 's:.*<file[^>]*>\(.*\)</file>.*:\1:p' "$resources" | sort -u >"$scratch/resource-files"
count=$(wc -l <"$scratch/resource-files")
echo "$count files in the program's resources"
if [ "$count" -lt 10 ]; then
  echo "FAILED: the resource list $resources names too few files" >&2
  exit 1
fi
xargs -d '\n' sha256sum <"$scratch/resource-files" | awk '{ print $1 }' | sort -u >"$scratch/resource-sums"
(cd "$scratch/prefix" && find . -type f -print0 | xargs -0 sha256sum) | sort >"$scratch/installed"
echo "$(wc -l <"$scratch/installed") files installed"
join -o 1.2 "$scratch/installed" "$scratch/resource-sums" >"$scratch/twice" || true
if [ -s "$scratch/twice" ]; then
  echo "FAILED: installed although the program holds them:" >&2
  sed 's/^/  /' "$scratch/twice" >&2
  exit 1
fi
echo "ok: no installed file is one the program holds"
