#!/usr/bin/env bash
# Installs the Debian packages Gridmorph needs (only those missing) and builds it.
# Sourced by ./run and ./test; works as root and, through sudo, as a normal user.
set -euo pipefail

GRIDMORPH_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
GRIDMORPH_BUILD="${GRIDMORPH_BUILD:-$GRIDMORPH_ROOT/build}"

gridmorph_packages=(
  build-essential cmake pkg-config
  libpng-dev libjpeg-dev libtiff-dev libgif-dev zlib1g-dev
  libgtest-dev gdal-bin locales
  qt6-base-dev fonts-dejavu-core
  clang libclang-rt-14-dev python3
)

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
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

gridmorph_build() {
  cmake -S "$GRIDMORPH_ROOT" -B "$GRIDMORPH_BUILD" -DCMAKE_BUILD_TYPE="${GRIDMORPH_BUILD_TYPE:-Release}" "$@" >/dev/null
  cmake --build "$GRIDMORPH_BUILD" -j "$(nproc)"
}
