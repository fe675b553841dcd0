#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FERLOW_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
FERLOW_BUILD_DIR="$build" "$root/scripts/build.sh" -DFERLOW_BUILD_TESTS=ON
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
