#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# default build with the tray, the Debian packages (made by package.sh and
# checked by a test of the default build), and the build without the tray.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FERLOW_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
FERLOW_BUILD_DIR="$build" "$root/scripts/build.sh" -DFERLOW_BUILD_TESTS=ON
FERLOW_BUILD_DIR="$build" "$root/scripts/package.sh"

# Without the tray only ferlow and the app's tests are built, unoptimised:
# this tree shows that the configuration builds, links no Qt and runs
# headless; the default build tests everything else.
headless="$build/headless"
cmake -S "$root" -B "$headless" -DCMAKE_BUILD_TYPE=None -DFERLOW_TRAY=OFF -DFERLOW_BUILD_TESTS=ON \
  -DFERLOW_BUILD_BENCH=OFF >/dev/null
cmake --build "$headless" -j"$(nproc)" --target ferlow FerlowAppTests

status=0
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" || status=1
ctest --test-dir "$headless" --output-on-failure -j"$(nproc)" -R '^(FerlowAppTests|FerlowLinksNoQt)$' || status=1
exit $status
