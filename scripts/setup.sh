#!/usr/bin/env bash
# Installs the Debian packages Gridmorph needs (only those missing) and builds it.
# Sourced by ./run and ./test; works as root and, through sudo, as a normal user.
set -euo pipefail

GRIDMORPH_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
GRIDMORPH_BUILD="${GRIDMORPH_BUILD:-$GRIDMORPH_ROOT/build}"

gridmorph_packages=(
  build-essential cmake pkg-config
  libpng-dev libjpeg-dev libtiff-dev libgif-dev zlib1g-dev
  libproj-dev proj-data libgeotiff-dev
  libgtest-dev gdal-bin locales
  qt6-base-dev fonts-dejavu-core
  clang libclang-rt-14-dev python3
  libopencv-dev libtesseract-dev tesseract-ocr-eng
)

# Runs an apt-get command line, waiting while another package manager (an apt run
# elsewhere, unattended upgrades) holds its locks instead of failing at once. apt-get
# waits for dpkg's lock itself (-o DPkg::Lock::Timeout, given by the callers); the
# package lists' lock of apt-get update and the download folder's lock have no such
# option, so the command is tried again while it fails on a lock, for as long.
gridmorph_apt_lock_wait="${GRIDMORPH_APT_LOCK_WAIT:-600}"
gridmorph_wait_for_apt() {
  local deadline=$((SECONDS + gridmorph_apt_lock_wait)) log status announced=0
  log="$(mktemp)"
  while true; do
    status=0
    "$@" 2>"$log" || status=$?
    if [ "$status" -eq 0 ] || ! grep -qE "Could not get lock|Unable to lock|Unable to acquire the dpkg frontend lock" "$log" ||
      [ "$SECONDS" -ge "$deadline" ]; then
      cat "$log" >&2
      rm -f "$log"
      return "$status"
    fi
    if [ "$announced" -eq 0 ]; then
      echo "Another package manager is at work; waiting up to ${gridmorph_apt_lock_wait} s for its lock..." >&2
      announced=1
    fi
    sleep "${GRIDMORPH_APT_RETRY_SECONDS:-5}"
  done
}

gridmorph_install_packages() {
  local missing=()
  for package in "${gridmorph_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
  fi
  local lock=(-o "DPkg::Lock::Timeout=$gridmorph_apt_lock_wait")
  gridmorph_wait_for_apt "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" update -qq
  gridmorph_wait_for_apt "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

# gridmorph_build [CMAKE_OPTION...] [-- TARGET...]: configures the build folder with the
# options and builds the targets named after "--", or every target without them. The
# folder stays configured the same whatever is built, so ./run (its programs only) and
# ./test (everything) can share it.
gridmorph_build() {
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  if [ $# -gt 0 ]; then
    shift
    targets=(--target "$@")
  fi
  cmake -S "$GRIDMORPH_ROOT" -B "$GRIDMORPH_BUILD" -DCMAKE_BUILD_TYPE="${GRIDMORPH_BUILD_TYPE:-Release}" \
    "${options[@]}" >/dev/null
  cmake --build "$GRIDMORPH_BUILD" -j "$(nproc)" "${targets[@]}"
}
