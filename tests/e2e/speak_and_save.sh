#!/usr/bin/env bash
# Usage: speak_and_save.sh LORVANTA_BINARY
# Runs the real program under Xvfb with a PulseAudio null sink: types a text, presses Speak
# and checks that speech reached the sink; presses Save, types a path into the panel and
# checks the saved WAV file.
set -uo pipefail

app="${1:?usage: $0 LORVANTA_BINARY}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
here="$(cd "$(dirname "$0")" && pwd)"

# Without a sound server of the test runner, bring up our own and run again inside it.
if [ -z "${PULSE_SERVER:-}" ]; then
  exec "$here/../../scripts/with-sound-server.sh" bash "$0" "$app"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/lorvanta-e2e.XXXXXX")"
xvfb_pid=""
rec_pid=""
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
  stop_process "$rec_pid"
  stop_process "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "speak_and_save: $*" >&2
  if [ -f "$work/app.out" ]; then
    echo "--- program output" >&2
    cat "$work/app.out" >&2
    tail -n 20 "$work/app.err" >&2
  fi
  if [ -f "$work/xvfb.log" ]; then
    echo "--- Xvfb (${DISPLAY:-})" >&2
    tail -n 20 "$work/xvfb.log" >&2
    ls -la /tmp/.X11-unix >&2
  fi
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds="$1"
  shift
  local tries=$((seconds * 10))
  for _ in $(seq "$tries"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

mkdir -p "$work/home" "$work/config" "$work/tmp" "$work/out"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"

# A display nobody uses.
display=""
for n in $(seq 90 190); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
wait_for 10 xdpyinfo || fail "Xvfb did not start"

parec -d out.monitor --format=s16le --rate=48000 --channels=2 --file-format=wav "$work/played.wav" \
  >"$work/parec.log" 2>&1 &
rec_pid=$!

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
# The text view fills the upper part of the window; a click there gives it the focus.
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 4)) click 1
sleep 0.2
xdotool type --delay 20 "Hello. This text comes out of the speaker."
sleep 0.2

# The text view passes Tab on; going backwards from it, Speak comes first, then Save.
xdotool key shift+Tab
sleep 0.1
xdotool key space
wait_for 60 grep -q "播放结束2" "$work/app.out" || fail "the playback did not end"
grep -q "完成" "$work/app.out" || fail "no completion line"
sleep 0.3
stop_process "$rec_pid"
rec_pid=""

rms="$(sox "$work/played.wav" -n stat 2>&1 | awk -F: '/RMS +amplitude/ {gsub(/ /, "", $2); print $2; exit}')"
[ -n "$rms" ] || fail "no recording of the sink"
awk -v r="$rms" 'BEGIN { exit !(r > 0.005) }' || fail "the recording holds no speech (RMS $rms)"
echo "played: RMS amplitude $rms"

# Speak holds the focus now; Save is one step back.
xdotool key shift+Tab
sleep 0.1
xdotool key space
panel=""
for _ in $(seq 600); do
  panel="$(xdotool search --onlyvisible --name '^Save$' 2>/dev/null | head -n 1)"
  [ -n "$panel" ] && break
  sleep 0.1
done
[ -n "$panel" ] || fail "the save panel did not open"
sleep 0.5
target="$work/out/speech.wav"
# The panel opens with the focus in its name field.
xdotool key ctrl+a
xdotool type --delay 10 "$target"
xdotool key Return
url_reported_twice() { [ "$(grep -c -x "file://$target" "$work/app.out")" -eq 2 ]; }
wait_for 60 url_reported_twice || fail "the save did not report its URL twice"
wait_for 30 test -s "$target" || fail "no saved file"
sleep 0.5

[ "$(soxi -t "$target")" = "wav" ] || fail "the saved file is no WAV file"
duration="$(soxi -D "$target")"
awk -v d="$duration" 'BEGIN { exit !(d > 1.0) }' || fail "the saved speech is too short ($duration s)"
saved_rms="$(sox "$target" -n stat 2>&1 | awk -F: '/RMS +amplitude/ {gsub(/ /, "", $2); print $2; exit}')"
awk -v r="$saved_rms" 'BEGIN { exit !(r > 0.005) }' || fail "the saved file holds no speech (RMS $saved_rms)"
echo "saved: $(soxi -r "$target") Hz, $duration s, RMS amplitude $saved_rms"

echo "speak_and_save: passed"
