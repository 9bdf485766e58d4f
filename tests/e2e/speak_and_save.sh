#!/usr/bin/env bash
# Usage: speak_and_save.sh LORVANTA_BINARY
# Runs the real program under Xvfb with a PulseAudio null sink: types a text, presses Speak
# and checks that speech reached the sink; presses Save, types a path into the panel and
# checks the saved WAV file.
set -uo pipefail

app="${1:?usage: $0 LORVANTA_BINARY}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
here="$(cd "$(dirname "$0")" && pwd)"
name=speak_and_save
# shellcheck source=tests/e2e/lib/common.sh
source "$here/lib/common.sh"
run_with_sound_server "$app"

make_work lorvanta-e2e
rec_pid=""
cleanup_more() { stop_process "$rec_pid"; }
use_work_home
mkdir -p "$work/out"
start_xvfb

parec -d out.monitor --format=s16le --rate=48000 --channels=2 --file-format=wav "$work/played.wav" \
  >"$work/parec.log" 2>&1 &
rec_pid=$!

start_program "$app"
find_main_window
click_text_view
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
