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
name=clean_quit
# shellcheck source=tests/e2e/lib/common.sh
source "$here/lib/common.sh"
run_with_sound_server "$app"

make_work lorvanta-quit

# The suppressions of the test runner, or the project's own when run by hand.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/../lsan.supp}"

use_work_home
start_xvfb
start_program "$app"
find_main_window
click_text_view
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
