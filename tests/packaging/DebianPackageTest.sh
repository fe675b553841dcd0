#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh made:
#   DebianPackageTest.sh <folder with the packages> <source folder>
# their control fields and file lists, lintian (no errors; its warnings are
# printed), and the unpacked program, which must find its pad in
# ../share/ferlow/pad and serve it. Exits 77 (skipped) when there are no
# packages to check.
set -euo pipefail
debs=$1 root=$2

shopt -s nullglob
main=("$debs"/ferlow_*.deb)
uinput=("$debs"/ferlow-uinput_*.deb)
if ((${#main[@]} != 1 || ${#uinput[@]} != 1)); then
  echo "No packages in $debs to check; scripts/package.sh makes them."
  exit 77
fi
main=${main[0]} uinput=${uinput[0]}
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
field() { dpkg-deb -f "$1" "$2"; }

echo "== control fields"
version=$(dpkg-parsechangelog -l "$root/packaging/changelog" -S Version)
[[ $(basename "$main") == "ferlow_${version}_$(dpkg --print-architecture).deb" ]] ||
  fail "$(basename "$main") is not named for version $version (packaging/changelog)"
[[ $(basename "$uinput") == "ferlow-uinput_${version}_all.deb" ]] || fail "$(basename "$uinput") is misnamed"
grep -q "<release version=\"$version\"" "$root/packaging/app.kelvarn42.ferlow.metainfo.xml" ||
  fail "the metainfo has no release $version"
depends=$(field "$main" Depends)
echo "Depends: $depends"
# dpkg-shlibdeps gives each library's package with the least version the
# program needs.
for library in libc6 libqt6widgets6 libssl3 libqrencode4; do
  [[ $depends == *"$library (>= "* ]] || fail "Depends lacks $library"
done
[[ $depends == *libqt6svg6* ]] || fail "Depends lacks libqt6svg6, whose plugin loads the SVG icons"
[[ $(field "$main" Recommends) == avahi-daemon ]] || fail "Recommends is not avahi-daemon"
[[ $(field "$uinput" Depends) == ferlow ]] || fail "ferlow-uinput does not depend on ferlow"
[[ $(field "$uinput" Description) == *"any program that user runs can then send"* ]] ||
  fail "ferlow-uinput's description does not state the trade-off"

echo "== file lists"
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sort; }
mainFiles=$(files "$main")
for path in ./usr/bin/ferlow ./usr/share/ferlow/pad/index.html ./usr/share/ferlow/pad/pad.js \
  ./usr/share/applications/ferlow.desktop ./usr/share/metainfo/app.kelvarn42.ferlow.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/ferlow.svg ./usr/share/icons/hicolor/48x48/apps/ferlow.png \
  ./usr/share/icons/hicolor/128x128/apps/ferlow.png ./usr/lib/systemd/user/ferlow.service \
  ./usr/share/man/man1/ferlow.1.gz ./usr/share/doc/ferlow/copyright ./usr/share/doc/ferlow/changelog.gz; do
  grep -qxF "$path" <<<"$mainFiles" || fail "ferlow lacks $path"
done
! grep -q udev <<<"$mainFiles" || fail "ferlow holds a udev rule"
expected=$'./usr/lib/udev/rules.d/70-ferlow-uinput.rules\n./usr/share/doc/ferlow-uinput/changelog.gz\n./usr/share/doc/ferlow-uinput/copyright'
[[ $(files "$uinput") == "$expected" ]] || fail "ferlow-uinput holds: $(files "$uinput")"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$main" "$uinput" || fail "lintian reports errors"

echo "== the unpacked program"
work=$(mktemp -d)
daemon=
finish() {
  [[ -z $daemon ]] || kill -KILL "$daemon" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
dpkg-deb -x "$main" "$work/root"
program=$work/root/usr/bin/ferlow
[[ $("$program" --version) == "ferlow $version" ]] || fail "--version says: $("$program" --version)"
appstreamcli validate-tree --no-net "$work/root" || fail "the installed metainfo, entry and icons do not agree"

# A user of its own, no desktop, no development hooks, and the update check
# sent nowhere.
mkdir -p "$work/home" "$work/run"
chmod 0700 "$work/run"
environment=(env -u DISPLAY -u WAYLAND_DISPLAY -u FERLOW_PAD_DIR -u FERLOW_DEV_TRACE -u FERLOW_DEV_PAIRING_FILE
  HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
  XDG_RUNTIME_DIR="$work/run" FERLOW_UPDATE_URL=http://127.0.0.1:1/version.json)
listening=
for attempt in 1 2 3; do
  port=$((20000 + RANDOM % 40000))
  "${environment[@]}" "$program" --headless --agree-terms --port "$port" >"$work/out" 2>"$work/err" &
  daemon=$!
  for _ in $(seq 100); do
    grep -q "^Ferlow listening on " "$work/out" && listening=yes && break
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.1
  done
  [[ -z $listening ]] || break
  kill -KILL "$daemon" 2>/dev/null || true
  wait "$daemon" 2>/dev/null || true
  daemon=
  grep -q "is busy" "$work/err" || break
done
if [[ -n $listening ]]; then
  cat "$work/out"
  status=$(curl -s -o "$work/page" -w '%{http_code}' "http://127.0.0.1:$port/")
  [[ $status == 200 ]] || fail "the page load answered $status"
  cmp -s "$work/page" "$work/root/usr/share/ferlow/pad/index.html" || fail "the page is not the packaged pad"
  kill -TERM "$daemon"
  code=0
  wait "$daemon" || code=$?
  daemon=
  [[ $code == 0 ]] || fail "ferlow --headless ended with status $code on SIGTERM"
else
  fail "ferlow --headless did not listen: $(cat "$work/err")"
fi

((failures == 0)) || echo "$failures checks failed"
exit $((failures == 0 ? 0 : 1))
