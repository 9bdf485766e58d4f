#!/usr/bin/env bash
# Usage: prompt_keeps_keys.sh LORVANTA_BINARY
# Runs the real program under Xvfb with a window manager (openbox, which gives a new window
# the focus unless it asks not to have it). The rating prompt comes while text is typed into
# the text view: every character must still reach the text view, and the main window must
# stay the active one.
set -uo pipefail

app="${1:?usage: $0 LORVANTA_BINARY}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
here="$(cd "$(dirname "$0")" && pwd)"
name=prompt_keeps_keys
# shellcheck source=tests/e2e/lib/common.sh
source "$here/lib/common.sh"
for tool in openbox xclip; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh --test installs it)"
done
run_with_sound_server "$app"

make_work lorvanta-prompt
wm_pid=""
watch_pid=""
cleanup_more() {
  stop_process "$watch_pid"
  stop_process "$wm_pid"
}
use_work_home
start_xvfb
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK || fail "openbox did not start"

start_program "$app"
find_main_window
click_text_view

# Speak with an empty text five times: each request counts, and the fifth asks for the
# prompt two seconds later.
xdotool key shift+Tab
sleep 0.1
for _ in 1 2 3 4 5; do
  xdotool key space
  sleep 0.05
done
wait_for 10 grep -q " true 5$" "$work/app.out" || fail "the fifth request was not counted"

# Notes when a second window called Lorvanta (the prompt) shows up.
prompt_shown() { [ "$(xdotool search --onlyvisible --name '^Lorvanta$' 2>/dev/null | wc -l)" -ge 2 ]; }
(
  for _ in $(seq 200); do
    if prompt_shown; then
      touch "$work/prompt-seen"
      exit 0
    fi
    sleep 0.05
  done
) &
watch_pid=$!

# About six seconds of typing, across the moment the prompt comes.
text="The prompt comes while this line is typed; every key stays here: 0123456789 (done)."
click_text_view
xdotool type --delay 70 "$text"
[ -e "$work/prompt-seen" ] || fail "the rating prompt did not appear while the text was typed"
grep -q "^tc$" "$work/app.out" || fail "the prompt step did not run"
prompt_shown || fail "the rating prompt went away while the text was typed"
[ "$(xdotool getactivewindow)" = "$window" ] || fail "the main window is no longer the active window"

# Reads the text view through the clipboard.
click_text_view
xdotool key ctrl+a ctrl+c
sleep 0.3
got="$(xclip -o -selection clipboard 2>/dev/null)"
[ "$got" = "$text" ] || fail "the text view holds \"$got\" instead of \"$text\""

echo "prompt_keeps_keys: passed"
