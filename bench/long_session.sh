#!/usr/bin/env bash
# Usage: [N=300] bench/long_session.sh LORVANTA_BINARY
# Runs the real program under Xvfb with a PulseAudio null sink, types "Hello world." once and
# presses Speak N times, each after the previous playback has ended ("播放结束2" on stdout).
# Prints the resident size at the 10th and the last request, the growth between them and the
# temporary AIFF files left in the program's TMPDIR, with the goals. Exits 0 whether the goals
# are met or not; 1 only when the run itself failed (the program died, a playback never ended).
set -uo pipefail

app="${1:?usage: [N=300] $0 LORVANTA_BINARY}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
here="$(cd "$(dirname "$0")" && pwd)"
n="${N:-300}"
first=$((n < 10 ? n : 10))

if [ -z "${PULSE_SERVER:-}" ]; then
  exec "$here/../scripts/with-sound-server.sh" bash "$0" "$app"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/lorvanta-bench.XXXXXX")"
xvfb_pid=""
app_pid=""

stop_process() {
  local pid="$1"
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
cleanup() {
  stop_process "$app_pid"
  stop_process "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "long_session: $*" >&2
  if [ -f "$work/app.err" ]; then
    grep -v '^ALSA lib\|^Jack\|jack server\|server socket\|server request' "$work/app.err" | tail -n 20 >&2
  fi
  exit 1
}

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status"; }
ended() { grep -c "播放结束2" "$work/app.out"; }

mkdir -p "$work/home" "$work/config" "$work/tmp"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"

display=""
for d in $(seq "${XVFB_FIRST:-90}" "${XVFB_LAST:-190}"); do
  if [ ! -e "/tmp/.X11-unix/X$d" ] && [ ! -e "/tmp/.X$d-lock" ]; then
    display=":$d"
    break
  fi
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start on $display"

QT_QPA_PLATFORM=xcb "$app" >"$work/app.out" 2>"$work/app.err" &
app_pid=$!

window=""
for _ in $(seq 150); do
  window="$(xdotool search --onlyvisible --name '^Lorvanta$' 2>/dev/null | head -n 1)"
  [ -n "$window" ] && break
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended at start"
  sleep 0.1
done
[ -n "$window" ] || fail "the main window did not appear"
sleep 0.5

eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 4)) click 1
sleep 0.2
xdotool type --delay 20 "Hello world."
sleep 0.2
# Speak is the first control before the text view; it keeps the focus from here on.
xdotool key shift+Tab
sleep 0.1

start=$(date +%s.%N)
rss_first=""
for i in $(seq "$n"); do
  xdotool key space
  for _ in $(seq 300); do
    [ "$(ended)" -ge "$i" ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "the program died at request $i"
    sleep 0.05
  done
  [ "$(ended)" -ge "$i" ] || fail "request $i: the playback did not end within 15 s"
  [ "$i" -eq "$first" ] && rss_first="$(rss_kib)"
done
kill -0 "$app_pid" 2>/dev/null || fail "the program died after request $n"
rss_last="$(rss_kib)"
seconds=$(echo "$(date +%s.%N) - $start" | bc -l)
files="$(find "$TMPDIR" -name '*.aiff' | wc -l)"

growth=$((rss_last - rss_first))
echo "requests=$n seconds=$(printf %.0f "$seconds")"
echo "VmRSS at request $first: $rss_first KiB"
echo "VmRSS at request $n: $rss_last KiB"
awk -v g="$growth" -v r="$((n - first))" 'BEGIN {
  printf "growth: %d KiB (%.2f MB, %.1f KiB per request)\n", g, g / 1024, r ? g / r : 0 }'
echo "temporary .aiff files left: $files"
if [ "$growth" -lt $((10 * 1024)) ]; then verdict=PASS; else verdict=FAIL; fi
echo "$verdict growth under 10 MB"
if [ "$files" -le 1 ]; then verdict=PASS; else verdict=FAIL; fi
echo "$verdict at most one temporary file"
exit 0
