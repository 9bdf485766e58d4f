#!/usr/bin/env bash
# Usage: clean_quit.sh LORVANTA_BINARY
# Runs the real program under Xvfb with a PulseAudio null sink, speaks a short text, then
# closes the window as a window manager's close button does and checks that the program
# ends by itself with exit code 0. In the sanitizer build that exit code carries the leak
# check, so a leak at quit fails here.
set -uo pipefail

app="${1:?usage: $0 LORVANTA_BINARY}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
here="$(cd "$(dirname "$0")" && pwd)"

if [ -z "${PULSE_SERVER:-}" ]; then
  exec "$here/../../scripts/with-sound-server.sh" bash "$0" "$app"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/lorvanta-quit.XXXXXX")"
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
  echo "clean_quit: $*" >&2
  if [ -f "$work/app.out" ]; then
    echo "--- program output" >&2
    cat "$work/app.out" >&2
    echo "--- program errors" >&2
    grep -v '^ALSA lib\|^Jack\|jack server\|server socket\|server request' "$work/app.err" | tail -n 40 >&2
  fi
  exit 1
}

wait_for() {
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# The suppressions of the test runner, or the project's own when run by hand.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/../lsan.supp}"

mkdir -p "$work/home" "$work/config" "$work/tmp"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"

display=""
for n in $(seq "${XVFB_FIRST:-90}" "${XVFB_LAST:-190}"); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
wait_for 10 xdpyinfo || fail "Xvfb did not start on $display"

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
# Speak is the first control before the text view.
xdotool key shift+Tab
sleep 0.1
xdotool key space
wait_for 60 grep -q "播放结束2" "$work/app.out" || fail "the playback did not end"

python3 "$here/close_window.py" "$window" || fail "could not send the close request"
wait_for 60 bash -c "! kill -0 $app_pid" || fail "the program is still running 60 s after its window closed"
wait "$app_pid"
status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "the program ended with exit code $status"
echo "clean_quit: passed"
