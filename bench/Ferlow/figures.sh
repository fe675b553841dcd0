#!/usr/bin/env bash
# What a phone costs the computer, measured from outside a running
# `ferlow --headless` with the XTest backend on a private Xvfb and a loopback
# phone (PhoneLoad): resident memory; CPU and wake-ups at rest, with no phone,
# with a phone connected and idle, and after it left; and per move, at each
# rate, the CPU of ferlow and of the X server (which does the pointer's share
# of the work), wake-ups, context switches, system calls by name, and whether
# the pointer ended exactly where the moves add up to. Not a test: it prints
# numbers for people to compare.
#
# CPU is the kernel's run time of every thread (/proc/PID/task/*/schedstat).
# Two outside measurements of the same runs check it: the process's user and
# system time as ps, top and time see them (/proc/PID/stat), and, where
# `perf` works, `perf stat -e task-clock`, which leaves out the part of each
# context switch spent before the task is back on its CPU. Wake-ups are
# voluntary context switches. The load average is printed with each figure:
# other work on the machine makes every wake-up dearer.
#
#   bench/Ferlow/figures.sh            (after a build in build/, or $FERLOW_BUILD_DIR)
#
# Knobs: IDLE_SECONDS (60), MOVES (10000), RATES ("120 60"), STRACE_MOVES (2000),
# LONG_MOVES (100000), LONG_RATE (1000), RELEASE_TRIALS (100), PORT (17399).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${FERLOW_BUILD_DIR:-$root/build}"
ferlow="$build/Ferlow/ferlow"
phone="$build/bench/Ferlow/PhoneLoad"
silent="$build/bench/Ferlow/SilentRelease"
idle=${IDLE_SECONDS:-60} moves=${MOVES:-10000} rates=${RATES:-120 60}
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
xvfb=$!
pids+=($xvfb)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"

mkdir -p "$work/home"
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export FERLOW_DEV_PAIRING_FILE="$work/url" FERLOW_PAD_DIR="$build/pad" FERLOW_UPDATE_URL="http://127.0.0.1:1/"
unset FERLOW_DEV_TRACE
mkdir -p "$FERLOW_PAD_DIR"

"$ferlow" --headless --port "$port" >"$work/out" 2>&1 &
pid=$!
pids+=($pid)
for _ in $(seq 200); do grep -q "Ferlow listening" "$work/out" && break; sleep 0.05; done
grep -q "Ferlow listening" "$work/out" || { cat "$work/out" >&2; exit 1; }
grep "^Input" "$work/out"

# Nanoseconds of CPU, and switches, summed over the threads of a process;
# its user and system time in ms as ps sees it.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ n += $1 } END { printf "%.0f", n }'; }
clock=$(getconf CLK_TCK)
stat_ms() { awk -v hz="$clock" '{ printf "%.0f", ($14 + $15) * 1000 / hz }' "/proc/$1/stat"; }
switches() { cat /proc/"$1"/task/*/status | awk -v k="$2" '$1 == k":" { n += $2 } END { print n }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
per() { awk -v a="$1" -v b="$2" -v f="${3:-%.2f}" 'BEGIN { printf f, a / b }'; }
memory() {
  awk '/^Rss:/ { rss = $2 } /^Anonymous:/ { anon = $2 }
       END { printf "%d KiB (anonymous %d KiB, mapped files %d KiB)", rss, anon, rss - anon }' "/proc/$pid/smaps_rollup"
}
has_perf=0
perf stat -e task-clock -x, -o /dev/null true >/dev/null 2>&1 && has_perf=1
# perf's task-clock of a process, in ms, from a file written by perf stat -x,.
perf_ms() { awk -F, '/task-clock/ { printf "%.0f", $1 }' "$1"; }

# Runs the command while measuring ferlow and the X server; sets d_cpu
# d_xcpu (ns), d_wake d_ctx, s_cpu s_xcpu (ms, /proc/PID/stat), and p_cpu
# p_xcpu (ms, from perf) if available.
measure() {
  local c0 x0 w0 i0 c1 x1 w1 i1 s0 sx0 perfs=()
  if ((has_perf)); then
    perf stat -e task-clock -x, -o "$work/perf.ferlow" -p "$pid" & perfs+=($!)
    perf stat -e task-clock -x, -o "$work/perf.xvfb" -p "$xvfb" & perfs+=($!)
    sleep 0.5
  fi
  c0=$(cpu_ns $pid) x0=$(cpu_ns $xvfb) w0=$(switches $pid voluntary_ctxt_switches) i0=$(switches $pid nonvoluntary_ctxt_switches)
  s0=$(stat_ms $pid) sx0=$(stat_ms $xvfb)
  "$@"
  c1=$(cpu_ns $pid) x1=$(cpu_ns $xvfb) w1=$(switches $pid voluntary_ctxt_switches) i1=$(switches $pid nonvoluntary_ctxt_switches)
  s_cpu=$(($(stat_ms $pid) - s0)) s_xcpu=$(($(stat_ms $xvfb) - sx0))
  if ((has_perf)); then
    kill -INT "${perfs[@]}"; wait "${perfs[@]}" 2>/dev/null || true
    p_cpu=$(perf_ms "$work/perf.ferlow") p_xcpu=$(perf_ms "$work/perf.xvfb")
  fi
  d_cpu=$((c1 - c0)) d_xcpu=$((x1 - x0)) d_wake=$((w1 - w0)) d_ctx=$((w1 - w0 + i1 - i0))
}
# " (ps: N ms, +x %; perf task-clock: M ms, +y %)" after a figure of `ns`
# nanoseconds that /proc/PID/stat saw as `stat` ms and perf as `perf` ms,
# all scaled by `scale` (to 10,000 moves).
check() {
  awk -v ns="$1" -v stat="$2" -v perf="$3" -v scale="$4" -v has_perf="$has_perf" 'BEGIN {
    ours = ns / 1e6 * scale
    printf " (ps: %.0f ms, %+.0f %%", stat * scale, ours ? (stat * scale - ours) / ours * 100 : 0
    if (has_perf) printf "; perf task-clock: %.0f ms, %+.0f %%", perf * scale, ours ? (perf * scale - ours) / ours * 100 : 0
    printf ")" }'
}

sleep 2
echo "RSS after start: $(memory)"

measure sleep "$idle"
echo "At rest, no phone, ${idle} s (load $(load)): CPU $(per "$d_cpu" $((idle * 1000000 / 60)) %.1f) ms a minute, $(per "$d_wake" "$idle") wake-ups/s"

measure "$phone" "$FERLOW_DEV_PAIRING_FILE" --idle 30
echo "A phone connected and idle, pinging once a second, 30 s (load $(load)): CPU $(per "$d_cpu" $((30 * 1000000 / 60)) %.1f) ms a minute, $(per "$d_wake" 30) wake-ups/s"
sleep 1
measure sleep 20
echo "After the phone left, 20 s (load $(load)): $(per "$d_wake" 20) wake-ups/s"

for rate in $rates; do
  "$phone" "$FERLOW_DEV_PAIRING_FILE" 200 "$rate" >/dev/null # warm: the first pointer read, caches
  measure "$phone" "$FERLOW_DEV_PAIRING_FILE" "$moves" "$rate" >"$work/phone"
  scale=$(awk -v m="$moves" 'BEGIN { print 10000 / m }')
  echo "$moves moves at $rate Hz (load $(load)), per 10,000 moves:"
  echo "  ferlow CPU $(per "$d_cpu" $((moves * 100)) %.0f) ms$(check "$d_cpu" "$s_cpu" "${p_cpu:-0}" "$scale"), $(per "$d_cpu" $((moves * 1000)) %.1f) µs a move"
  echo "  Xvfb CPU $(per "$d_xcpu" $((moves * 100)) %.0f) ms$(check "$d_xcpu" "$s_xcpu" "${p_xcpu:-0}" "$scale")"
  echo "  together $(per $((d_cpu + d_xcpu)) $((moves * 100)) %.0f) ms"
  echo "  ferlow: $(per "$d_wake" "$moves") wake-ups a move, $(per "$d_ctx" "$moves") context switches a move"
  sed -n 's/^pointer /  pointer /p' "$work/phone"
done

if command -v strace >/dev/null && [ "$strace_moves" -gt 0 ]; then
  for rate in $rates; do
    strace -c -f -q -p "$pid" -o "$work/strace" &
    tracer=$!
    sleep 1
    "$phone" "$FERLOW_DEV_PAIRING_FILE" "$strace_moves" "$rate" >/dev/null
    sleep 0.5
    kill -INT "$tracer"; wait "$tracer" 2>/dev/null || true
    # Rows: % time, seconds, usecs/call, calls, [errors], name.
    calls=$(awk '$NF == "total" { print $4 }' "$work/strace")
    echo "System calls under strace, $strace_moves moves at $rate Hz: $(per "${calls:-0}" "$strace_moves") a move:"
    awk -v n="$strace_moves" '/^ *[0-9]/ && $NF != "total" && $4 / n >= 0.005 {
          printf "  %-16s %6.2f a move%s\n", $NF, $4 / n, NF == 6 ? sprintf(" (%d failed)", $5) : "" }' \
      "$work/strace" | sort -k2 -nr
  done
fi

"$phone" "$FERLOW_DEV_PAIRING_FILE" "$long_moves" "$long_rate" >/dev/null
echo "RSS after $long_moves more moves: $(memory)"

"$silent" "$FERLOW_DEV_PAIRING_FILE" "$release_trials"

kill -TERM "$pid"
wait "$pid" && echo "ferlow stopped cleanly on SIGTERM"
