#!/usr/bin/env bash
# Installs the Debian and npm packages Ferlow needs to build, run and test.
# Safe to run any number of times; when everything is present it only checks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake pkg-config git ca-certificates curl
  libssl-dev nlohmann-json3-dev libasio-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libqrencode-dev qt6-base-dev qt6-svg-dev
  libevdev-dev libx11-dev libxtst-dev libxrandr-dev libxi-dev libx11-xcb-dev libxcb1-dev libxcb-xtest0-dev
  libglib2.0-dev libxkbcommon-dev dbus-daemon xvfb xauth chromium zbar-tools fonts-dejavu-core
  # the Debian packages: making and checking them, and a clean system for check-package.sh
  dpkg-dev file lintian desktop-file-utils appstream debootstrap
)
# node and npm build the pad; any recent Node.js will do, Debian's included.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# npm packages of the phone web app, once it exists: installed from the lock
# file, and only again when the lock file changes.
if [ -f "$root/pad/package-lock.json" ]; then
  stamp="$root/pad/node_modules/.ferlow-lock"
  want=$(sha256sum "$root/pad/package-lock.json" | cut -d' ' -f1)
  if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
    (cd "$root/pad" && npm ci --no-audit --no-fund)
    echo "$want" > "$stamp"
  fi
fi
