#!/usr/bin/env bash
# Makes the Debian packages ferlow_<version>_<arch>.deb and
# ferlow-uinput_<version>_all.deb in build/ (or $FERLOW_BUILD_DIR).
# They come from a build tree of their own, build/package: installed under
# /usr, with Debian's compiler and linker flags (hardening included), no
# tests, and packed by CPack.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FERLOW_BUILD_DIR:-$root/build}"
tree="$build/package"
"$root/scripts/install-deps.sh"

# CMake reads no CPPFLAGS; Debian's build tools pass them with the compiler
# flags in the same way. A build type of None adds nothing of its own.
# Without -g: the program is stripped, and no debug package is made. In the
# sources, so that their path is mapped out of the program (__FILE__).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
cd "$root"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$root" -B "$tree" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DFERLOW_TRAY=ON -DFERLOW_BUILD_TESTS=OFF -DFERLOW_BUILD_BENCH=OFF >/dev/null
cmake --build "$tree" -j"$(nproc)"

# Only this run's packages end up in build/.
rm -f "$tree"/*.deb "$build"/ferlow_*.deb "$build"/ferlow-uinput_*.deb
(cd "$tree" && cpack -G DEB >/dev/null)
for deb in "$tree"/*.deb; do
  mv -f "$deb" "$build/"
  echo "$build/$(basename "$deb")"
done
