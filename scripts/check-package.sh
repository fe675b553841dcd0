#!/usr/bin/env bash
# Tries the packages in build/ (scripts/package.sh makes them) on a clean
# Debian 12: debootstrap makes a minimal system in a temporary folder, where
#   - apt installs ferlow and ferlow-uinput with everything they depend on,
#   - ferlow --version runs, and ferlow --headless serves its pad under Xvfb
#     to a page load from outside,
#   - apt remove ferlow leaves the user's files, and
#   - ferlow --uninstall takes them and names what is left.
# Not part of CI: it downloads a base system from the Debian mirror
# ($FERLOW_DEBIAN_MIRROR, else deb.debian.org). Needs root, for the chroot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FERLOW_BUILD_DIR:-$root/build}"
mirror="${FERLOW_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
port="${FERLOW_CHECK_PORT:-7399}"

shopt -s nullglob
debs=("$build"/ferlow_*.deb "$build"/ferlow-uinput_*.deb)
if ((${#debs[@]} != 2)); then
  echo "check-package: no packages in $build; run scripts/package.sh first" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "check-package: run as root (debootstrap and chroot need it)" >&2
  exit 1
fi
"$root/scripts/install-deps.sh" >/dev/null

system=$(mktemp -d /var/tmp/ferlow-check.XXXXXX)
chmod 0755 "$system" # a system's root, which apt's own user must be able to enter
cleanup() {
  for mount in dev/pts dev proc; do
    mountpoint -q "$system/$mount" && umount -l "$system/$mount"
  done
  rm -rf --one-file-system "$system"
}
trap cleanup EXIT
step() { printf '\n== %s\n' "$*"; }
inside() { chroot "$system" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
# As a user who is logged in, with a home of their own.
user() { chroot --userspec=anna:anna "$system" env -i PATH=/usr/bin:/bin HOME=/home/anna "$@"; }

step "a minimal Debian 12 from $mirror"
debootstrap --variant=minbase bookworm "$system" "$mirror" >"$system.log" 2>&1 || {
  tail -20 "$system.log"
  exit 1
}
rm -f "$system.log"
mount -t proc proc "$system/proc"
mount --bind /dev "$system/dev"
mount --bind /dev/pts "$system/dev/pts"
inside useradd --create-home anna
cp "${debs[@]}" "$system/tmp/"
packages=()
for deb in "${debs[@]}"; do packages+=("/tmp/$(basename "$deb")"); done

step "apt install ./ferlow_*.deb ./ferlow-uinput_*.deb (and xvfb, curl for this check)"
inside apt-get update -q >/dev/null
inside apt-get install -y -q "${packages[@]}" xvfb xauth curl >"$system/tmp/apt.log" 2>&1 ||
  { tail -30 "$system/tmp/apt.log"; exit 1; }
grep -E '^Setting up (ferlow|avahi-daemon)' "$system/tmp/apt.log" || true
inside dpkg-query -W -f '${Package} ${Version} ${Status}\n' ferlow ferlow-uinput avahi-daemon

step "ferlow --version"
user ferlow --version

step "ferlow --headless --port $port under Xvfb, and the pad loaded from outside"
user xvfb-run -a sh -c 'echo $$ >/tmp/ferlow.pid; exec ferlow --headless --agree-terms --port "$1"' sh "$port" \
  >"$system/tmp/daemon.out" 2>&1 &
runner=$!
for _ in $(seq 100); do
  grep -q "^Ferlow listening on " "$system/tmp/daemon.out" && break
  sleep 0.2
done
cat "$system/tmp/daemon.out"
printf 'GET / -> %s\n' "$(curl -s -o "$system/tmp/page" -w '%{http_code}' "http://127.0.0.1:$port/")"
cmp "$system/tmp/page" "$system/usr/share/ferlow/pad/index.html" && echo "the page is the packaged pad"
kill -TERM "$(cat "$system/tmp/ferlow.pid")"
wait "$runner" && echo "ferlow ended cleanly on SIGTERM"

step "apt remove ferlow: the user's files stay"
inside apt-get remove -y -q ferlow | grep -E '^(Removing|REMOVING)' || true
inside sh -c 'test -e /usr/bin/ferlow && echo "/usr/bin/ferlow is still there" || echo "/usr/bin/ferlow is gone"'
user find /home/anna/.local/share/Ferlow /home/anna/.config/Ferlow

step "apt install again, then ferlow --uninstall --yes"
inside apt-get install -y -q "${packages[@]}" >/dev/null 2>&1
user ferlow --uninstall --yes
user sh -c 'ls -d /home/anna/.local/share/Ferlow /home/anna/.config/Ferlow 2>/dev/null || echo "nothing of Ferlow is left in /home/anna"'

step "apt remove ferlow"
inside apt-get remove -y -q ferlow | grep -E '^Removing' || true
inside dpkg-query -W ferlow ferlow-uinput 2>&1 || true
