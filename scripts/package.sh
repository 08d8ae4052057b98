#!/usr/bin/env bash
# Builds the Debian package: a release build in build-package/ with Debian's hardening
# flags, packed by CPack from the project's install() rules into
# build-package/gridmorph_VERSION_ARCH.deb (the libraries it depends on read from the
# programs by dpkg-shlibdeps, the data they load by name listed in packaging/), then
# checked by Lintian (errors fail the script).
# Installs the Debian packages it needs first, as ./run and ./test do.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# dpkg-shlibdeps (dpkg-dev) and file for CPack's dependency reading, rsvg-convert for the
# icon's PNG sizes, desktop-file-validate and Lintian for the checks.
gridmorph_packages+=(dpkg-dev file librsvg2-bin desktop-file-utils lintian)
gridmorph_install_packages

GRIDMORPH_BUILD="${GRIDMORPH_PACKAGE_BUILD:-$GRIDMORPH_ROOT/build-package}"
# The compiler and linker flags Debian builds its packages with (stack protector,
# _FORTIFY_SOURCE, format checks, RELRO and BIND_NOW), with CMake's release optimisation in
# place of Debian's -O2 and no debugging information (the package's programs are stripped).
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
export DEB_CFLAGS_MAINT_STRIP="-g -O2" DEB_CXXFLAGS_MAINT_STRIP="-g -O2"
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
gridmorph_build -DGRIDMORPH_BUILD_TESTS=OFF -DGRIDMORPH_BUILD_BENCH=OFF -DGRIDMORPH_BUILD_GUI=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags"

cd "$GRIDMORPH_BUILD"
rm -f gridmorph_*.deb
cpack -G DEB
deb="$(ls gridmorph_*.deb)"
echo
echo "== $GRIDMORPH_BUILD/$deb"
dpkg-deb --field "$deb"
contents="$(dpkg-deb --contents "$deb")"
echo "$contents" | awk '{ print "  " $6 ($7 ? " " $7 " " $8 : "") }'

# What a desktop install must hold, whatever else the install() rules add.
missing=()
for path in ./usr/bin/gridmorph ./usr/bin/gridmorph-cli ./usr/share/applications/gridmorph.desktop \
  ./usr/share/icons/hicolor/scalable/apps/gridmorph.svg ./usr/share/icons/hicolor/48x48/apps/gridmorph.png \
  ./usr/share/doc/gridmorph/copyright ./usr/share/doc/gridmorph/changelog.gz; do
  grep -qE "[[:space:]]$path( |\$)" <<<"$contents" || missing+=("$path")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "The package lacks: ${missing[*]}" >&2
  exit 1
fi
# What the programs load by name (dpkg-shlibdeps cannot see it): the grid finder's
# Tesseract language data, and the libraries dpkg-shlibdeps found beside it.
depends="$(dpkg-deb --field "$deb" Depends)"
for package in tesseract-ocr-eng libtesseract5 libproj25 libqt6widgets6; do
  grep -qE "(^|[ ,|])$package( |,|\$)" <<<"$depends" || missing+=("$package")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "The package does not depend on: ${missing[*]}" >&2
  exit 1
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
dpkg-deb --extract "$deb" "$scratch"
desktop-file-validate "$scratch/usr/share/applications/gridmorph.desktop"

echo
echo "== Lintian"
# Errors fail the package; warnings and notes are shown.
lintian --fail-on error --display-info "$deb" && status=0 || status=$?
if [ "$status" -ne 0 ]; then
  echo "Lintian found errors in $deb" >&2
  exit "$status"
fi
echo
echo "Built $GRIDMORPH_BUILD/$deb"
echo "Install it with: apt-get install $GRIDMORPH_BUILD/$deb   (scripts/check-package.sh tries it on a fresh Debian 12)"
