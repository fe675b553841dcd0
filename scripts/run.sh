#!/usr/bin/env bash
# Installs what is missing, builds and starts Ferlow. Arguments go to ferlow
# (for example --headless).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FERLOW_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
FERLOW_BUILD_DIR="$build" "$root/scripts/build.sh"
if [ -x "$build/Ferlow/ferlow" ]; then
  exec "$build/Ferlow/ferlow" "$@"
fi
echo "ferlow was not built in $build; see the build output above." >&2
exit 1
