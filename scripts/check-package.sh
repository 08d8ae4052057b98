#!/usr/bin/env bash
# Checks the Debian package on a fresh Debian 12 (bookworm): a clean root made by
# debootstrap, the package installed into it with apt alone, both programs run there, the
# desktop entry and its icon checked, then the package purged and the root searched for
# anything of it left behind.
#
#   scripts/check-package.sh [PACKAGE.deb]     (default: the newest build-package/gridmorph_*.deb)
#
# Needs root (chroot, mounts) and the network (the mirror this machine's apt uses). The clean
# root is made once and kept as a tarball in build-package/check-root/, with the packages
# apt fetched, so a second run is quick; every run unpacks a fresh copy of it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "check-package.sh makes a chroot and mounts into it: run it as root (sudo)." >&2
  exit 1
fi
gridmorph_packages=(debootstrap debian-archive-keyring desktop-file-utils)
gridmorph_install_packages

out="$GRIDMORPH_ROOT/build-package"
cache="$out/check-root"
suite=bookworm
arch="$(dpkg --print-architecture)"
base="$cache/$suite-$arch-minbase.tar"
mkdir -p "$cache/apt-archives/partial"

deb="${1:-}"
if [ -z "$deb" ]; then
  deb="$(ls -t "$out"/gridmorph_*.deb 2>/dev/null | head -n 1 || true)"
  [ -n "$deb" ] || { echo "No build-package/gridmorph_*.deb: run scripts/package.sh first." >&2; exit 1; }
fi
deb="$(realpath "$deb")"
started=$SECONDS
step() { printf '\n== [%3d s] %s\n' $((SECONDS - started)) "$*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

# The mirror this machine's apt is configured with, for the suite itself (not -security):
# one-line sources ("deb [options] URI bookworm ...") or deb822 stanzas (Types/URIs/Suites).
# GRIDMORPH_DEBIAN_MIRROR overrides it.
apt_uri_for() {  # suite
  local suite_name="$1" uri=""
  uri="$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    sed -nE "s/^deb([[:space:]]+\[[^]]*\])?[[:space:]]+([^[:space:]]+)[[:space:]]+$suite_name[[:space:]].*/\2/p" | head -n 1)"
  if [ -z "$uri" ]; then
    uri="$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v suite="$suite_name" '
      BEGIN { RS = "" }
      {
        types = ""; uris = ""; suites = ""; enabled = "yes"
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          line = lines[i]
          if (line ~ /^Types:/) types = " " substr(line, 7) " "
          if (line ~ /^URIs:/) uris = substr(line, 6)
          if (line ~ /^Suites:/) suites = " " substr(line, 8) " "
          if (line ~ /^Enabled:[[:space:]]*no/) enabled = "no"
        }
        gsub(/[[:space:]]+/, " ", types); gsub(/[[:space:]]+/, " ", suites)
        if (enabled == "yes" && types ~ / deb / && suites ~ (" " suite " ")) {
          split(uris, u, " "); for (j in u) if (u[j] != "") { print u[j]; exit }
        }
      }')"
  fi
  echo "$uri"
}
mirror="${GRIDMORPH_DEBIAN_MIRROR:-$(apt_uri_for "$suite")}"
mirror="${mirror:-http://deb.debian.org/debian}"
security="$(apt_uri_for "$suite-security")"
security="${security:-http://deb.debian.org/debian-security}"

# Everything this run mounts is unmounted on the way out, whatever happened; the run's
# folder is deleted only once nothing is mounted below it.
run_dir="$(mktemp -d "$cache/run.XXXXXX")"
root="$run_dir/root"
mounted=()
cleanup() {
  local status=$? i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}" 2>/dev/null || true
  done
  if grep -qF " $run_dir/" /proc/mounts; then
    echo "Still mounted below $run_dir; left in place." >&2
  else
    rm -rf --one-file-system "$run_dir"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mount_into() {  # mount arguments..., then the target below the root
  local target="${*: -1}"
  mkdir -p "$target"
  mount "$@"
  mounted+=("$target")
}
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

if [ ! -f "$base" ]; then
  step "Making a clean $suite root with debootstrap from $mirror (once; kept as $base)"
  debootstrap --variant=minbase --arch="$arch" "$suite" "$root" "$mirror"
  {
    echo "deb $mirror $suite main"
    echo "deb $mirror $suite-updates main"
    echo "deb $security $suite-security main"
  } >"$root/etc/apt/sources.list"
  rm -f "$root"/var/cache/apt/archives/*.deb
  tar -C "$root" --numeric-owner -cf "$base.partial" . && mv "$base.partial" "$base"
  rm -rf --one-file-system "$root"
else
  step "Clean $suite root from $base"
fi
mkdir "$root"
tar -C "$root" --numeric-owner -xf "$base"
mount_into -t proc proc "$root/proc"
mount_into --bind /dev "$root/dev"
mount_into --bind /dev/pts "$root/dev/pts"
mount_into --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# A throwaway root needs no fsync after every file dpkg unpacks; it makes the install and
# the purge several times quicker.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/check-unsafe-io"
mkdir -p "$root/tmp/check"
cp "$deb" "$root/tmp/check/"
cp -r "$GRIDMORPH_ROOT/data/sample" "$root/tmp/check/sample"
package="$(dpkg-deb -f "$deb" Package)"
deb_name="$(basename "$deb")"

# The packages of the fresh system, to tell afterwards what apt kept of those that came
# with this one.
installed_packages() { in_root dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 ~ /^.i/ { print $2 }' | LC_ALL=C sort; }
installed_packages >"$run_dir/packages-before.txt"
(cd "$root" && find ./usr ./etc -xdev -type d | LC_ALL=C sort) >"$run_dir/folders-before.txt"

step "apt-get install ./$deb_name (with what it depends on)"
in_root apt-get -q update
in_root env DEBIAN_FRONTEND=noninteractive apt-get -q -y install "/tmp/check/$deb_name"
in_root dpkg-query -W -f='${Status}\n' "$package" | grep -q "install ok installed" || fail "$package is not installed"

step "gridmorph-cli --version"
version="$(dpkg-deb -f "$deb" Version)"
cli_version="$(in_root gridmorph-cli --version)"
echo "$cli_version"
[ "$cli_version" = "gridmorph-cli $version" ] || fail "gridmorph-cli --version says '$cli_version', the package is $version"

step "gridmorph --version (no display)"
gui_version="$(in_root gridmorph --version)"
echo "$gui_version"
[ "$gui_version" = "gridmorph $version" ] || fail "gridmorph --version says '$gui_version', the package is $version"

step "Finding the grid on the bundled sample map (the text reader starts with its language data)"
in_root sh -c 'cd /tmp/check && gridmorph-cli findgrid sample/sample-map.jpg' >"$run_dir/findgrid.txt" 2>&1 ||
  { cat "$run_dir/findgrid.txt"; fail "gridmorph-cli findgrid failed on the sample"; }
cat "$run_dir/findgrid.txt"
if grep -qE "text reader could not start|couldn't load any languages" "$run_dir/findgrid.txt"; then
  fail "the grid finder's text reader did not start: its language data is missing"
fi

step "Rectifying the bundled sample map"
read -r _ x1 y1 e1 n1 < <(grep '^1 ' "$GRIDMORPH_ROOT/data/sample/sample-map.locators")
read -r _ x2 y2 _ _ < <(grep '^2 ' "$GRIDMORPH_ROOT/data/sample/sample-map.locators")
read -r _ x3 y3 e3 n3 < <(grep '^3 ' "$GRIDMORPH_ROOT/data/sample/sample-map.locators")
in_root sh -c 'cd /tmp/check && gridmorph-cli rectify sample/sample-map.jpg rectified.tif "$@"' rectify \
  --p1 "$x1,$y1,$e1,$n1" --p2 "$x2,$y2" --p3 "$x3,$y3,$e3,$n3"
[ -s "$root/tmp/check/rectified.tif" ] && [ -s "$root/tmp/check/rectified.TFW" ] ||
  fail "the rectified map or its world file is missing"
in_root gridmorph-cli info /tmp/check/rectified.tif

step "ldd: every library both programs need is there"
for program in /usr/bin/gridmorph /usr/bin/gridmorph-cli; do
  [ -x "$root$program" ] || fail "$program is not installed"
  libraries="$(in_root ldd "$program")"
  if grep -q "not found" <<<"$libraries"; then
    grep "not found" <<<"$libraries" >&2
    fail "$program misses libraries"
  fi
  echo "$program: $(grep -c '=>' <<<"$libraries") libraries, none missing"
done

step "The desktop program starts (Qt's offscreen platform, for three seconds)"
in_root env HOME=/tmp/check/home XDG_CONFIG_HOME=/tmp/check/config QT_QPA_PLATFORM=offscreen \
  timeout 3 gridmorph --open /tmp/check/sample/sample-map.jpg && status=0 || status=$?
# timeout's 124 means the program was still running when it was stopped: it started.
[ "$status" -eq 124 ] || fail "gridmorph ended by itself with status $status"
echo "gridmorph was running when stopped"

step "The desktop entry validates and names an installed icon"
entry="$root/usr/share/applications/gridmorph.desktop"
[ -f "$entry" ] || fail "no desktop entry /usr/share/applications/gridmorph.desktop"
desktop-file-validate "$entry"
echo "desktop-file-validate: no complaints"
grep -E '^MimeType=' "$entry"
icon="$(sed -n 's/^Icon=//p' "$entry" | head -n 1)"
[ -n "$icon" ] || fail "the desktop entry names no icon"
icons="$(cd "$root" && ls usr/share/icons/hicolor/*/apps/"$icon".png usr/share/icons/hicolor/scalable/apps/"$icon".svg 2>/dev/null || true)"
[ -n "$icons" ] || fail "no icon '$icon' in the hicolor theme"
sed 's/^/  \//' <<<"$icons"
in_root dpkg -S "/usr/share/icons/hicolor/48x48/apps/$icon.png" >/dev/null || fail "the 48x48 icon is not the package's"

step "apt-get purge $package, then autoremove what it brought"
owned="$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|')"
in_root env DEBIAN_FRONTEND=noninteractive apt-get -q -y purge "$package"
in_root env DEBIAN_FRONTEND=noninteractive apt-get -q -y autoremove --purge
if in_root dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q "installed"; then
  fail "dpkg still lists $package"
fi
left=""
while IFS= read -r path; do
  [ -n "$path" ] && [ "$path" != / ] || continue
  if [ -d "$root$path" ] && [ ! -L "$root$path" ]; then
    # A folder stays when the fresh system has it too (/usr/bin ...) or a package still
    # installed owns it, and only then.
    grep -qxF ".${path%/}" "$run_dir/folders-before.txt" || in_root dpkg -S "${path%/}" >/dev/null 2>&1 ||
      left+="$path"$'\n'
  elif [ -e "$root$path" ] || [ -L "$root$path" ]; then
    left+="$path"$'\n'
  fi
done <<<"$owned"
[ -z "$left" ] || fail "left behind by the purge: $left"
found="$(cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./var/cache/apt -o -path ./tmp/check \) -prune \
  -o -iname "*gridmorph*" -print)"
[ -z "$found" ] || fail "names with gridmorph left in the system: $found"
# The menu's and the file manager's caches (desktop entries, MIME types, icons) forget it too.
mentions="$(cd "$root" && grep -rlsI gridmorph usr/share/applications usr/share/mime usr/share/icons etc || true)"
[ -z "$mentions" ] || fail "files still naming gridmorph: $mentions"
echo "Nothing of $package is left: its files, dpkg's record of it and every mention of it are gone."
installed_packages >"$run_dir/packages-after.txt"
kept="$(LC_ALL=C comm -13 "$run_dir/packages-before.txt" "$run_dir/packages-after.txt" | tr '\n' ' ')"
# apt keeps a package that another one recommends (apt itself recommends ca-certificates).
[ -z "$kept" ] || echo "Kept by apt after autoremove, recommended by the fresh system's own packages: $kept"

step "Passed: $deb_name installs, runs and leaves cleanly on a fresh Debian 12"
