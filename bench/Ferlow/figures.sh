#!/usr/bin/env bash
# Figures of a running `ferlow --headless`, measured from outside the process:
# idle CPU, resident memory, CPU, wake-ups and system calls per move from a
# loopback phone, with the XTest backend on a private Xvfb. Not a test: it
# prints numbers for people to compare.
#
#   bench/Ferlow/figures.sh            (after a build in build/, or $FERLOW_BUILD_DIR)
#
# Knobs: IDLE_SECONDS (60), MOVES (10000), RATE (120), STRACE_MOVES (2000),
# LONG_MOVES (100000), LONG_RATE (1000), RELEASE_TRIALS (100), PORT (17399).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${FERLOW_BUILD_DIR:-$root/build}"
ferlow="$build/Ferlow/ferlow"
phone="$build/bench/Ferlow/PhoneLoad"
silent="$build/bench/Ferlow/SilentRelease"
idle=${IDLE_SECONDS:-60} moves=${MOVES:-10000} rate=${RATE:-120}
strace_moves=${STRACE_MOVES:-2000} long_moves=${LONG_MOVES:-100000} long_rate=${LONG_RATE:-1000}
release_trials=${RELEASE_TRIALS:-100}
port=${PORT:-17399}
for tool in "$ferlow" "$phone" "$silent"; do
  [ -x "$tool" ] || { echo "figures.sh: build first ($tool is missing)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

# A private X server; it writes its display number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp +extension XTEST +extension RANDR 3>"$work/display" \
  >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"

mkdir -p "$work/home"
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export FERLOW_DEV_PAIRING_FILE="$work/url" FERLOW_PAD_DIR="$build/pad" FERLOW_UPDATE_URL="http://127.0.0.1:1/"
unset FERLOW_DEV_TRACE

"$ferlow" --headless --port "$port" >"$work/out" 2>&1 &
pid=$!
pids+=($pid)
for _ in $(seq 200); do grep -q "Ferlow listening" "$work/out" && break; sleep 0.05; done
grep -q "Ferlow listening" "$work/out" || { cat "$work/out" >&2; exit 1; }
grep "^Input" "$work/out"

clock=$(getconf CLK_TCK)
cpu_ms() { awk -v hz="$clock" '{ print ($14 + $15) * 1000 / hz }' "/proc/$pid/stat"; }
switches() { cat /proc/"$pid"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
rss_kib() { awk '/VmRSS/ { print $2 }' "/proc/$pid/status"; }
per() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

sleep 2
echo "RSS after start: $(rss_kib) KiB"

c0=$(cpu_ms) s0=$(switches)
sleep "$idle"
c1=$(cpu_ms) s1=$(switches)
echo "Idle over ${idle} s: CPU $(per $((${c1%.*} - ${c0%.*})) 1) ms ($(per $((${c1%.*} - ${c0%.*})) $((idle * 10)))% of a core), $(per $((s1 - s0)) "$idle") wake-ups/s"

c0=$(cpu_ms) s0=$(switches)
"$phone" "$FERLOW_DEV_PAIRING_FILE" "$moves" "$rate" >/dev/null
c1=$(cpu_ms) s1=$(switches)
cpu=$((${c1%.*} - ${c0%.*}))
echo "$moves moves at $rate Hz: process CPU $cpu ms ($(per $((cpu * 1000)) "$moves") µs a move), $(per $((s1 - s0)) "$moves") wake-ups a move"

if command -v strace >/dev/null && [ "$strace_moves" -gt 0 ]; then
  strace -c -f -q -p "$pid" -o "$work/strace" &
  tracer=$!
  sleep 1
  "$phone" "$FERLOW_DEV_PAIRING_FILE" "$strace_moves" "$rate" >/dev/null
  sleep 0.5
  kill -INT "$tracer"; wait "$tracer" 2>/dev/null || true
  # Rows: % time, seconds, usecs/call, calls, [errors], name.
  calls=$(awk '$NF == "total" { print $4 }' "$work/strace")
  echo "System calls under strace, $strace_moves moves: $(per "${calls:-0}" "$strace_moves") a move; the most frequent:"
  awk -v n="$strace_moves" '/^ *[0-9]/ && $NF != "total" {
        printf "  %-16s %6.2f a move%s\n", $NF, $4 / n, NF == 6 ? sprintf(" (%d failed)", $5) : "" }' \
    "$work/strace" | sort -k2 -nr | head -8
fi

"$phone" "$FERLOW_DEV_PAIRING_FILE" "$long_moves" "$long_rate" >/dev/null
echo "RSS after $long_moves more moves: $(rss_kib) KiB"

"$silent" "$FERLOW_DEV_PAIRING_FILE" "$release_trials"

kill -TERM "$pid"
wait "$pid" && echo "ferlow stopped cleanly on SIGTERM"
