#!/usr/bin/env bash
# Usage: sound_comes_back.sh LORVANTA_BINARY
# Runs the real program under Xvfb against a PulseAudio server of its own that comes and
# goes, with no restart of the program: Speak with no server running warns; once a server
# runs on that socket, Speak plays; a server killed mid-playback warns once, with no
# completion lines; a server started again plays the next text to its end.
set -uo pipefail

app="${1:?usage: $0 LORVANTA_BINARY}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
here="$(cd "$(dirname "$0")" && pwd)"
name=sound_comes_back
# shellcheck source=tests/e2e/lib/common.sh
source "$here/lib/common.sh"
# shellcheck source=scripts/lib/sound-server.sh
source "$lorvanta_root/scripts/lib/sound-server.sh"

# This script brings its own server up and down; a test runner's server is never used.
make_work lorvanta-sound
rec_pid=""
cleanup_more() {
  stop_process "$rec_pid"
  stop_sound_server
}
use_work_home
server_dir="$work/pulse"
export PULSE_SERVER="unix:$server_dir/runtime/native"
start_xvfb

lines() { grep -c -x -F "$1" "$work/app.out"; }
warned() { grep -q "$1" "$work/app.err"; }
# The program's windows on screen: the main window, and a warning over it.
windows_shown() { [ "$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)" -eq "$1" ]; }
ends_seen() { [ "$(lines "播放结束2")" -ge "$1" ]; }

# Replaces the text with $1 and presses Speak, the first control before the text view.
type_and_speak() {
  click_text_view
  xdotool key ctrl+a BackSpace
  xdotool type --delay 10 "$1"
  sleep 0.2
  xdotool key shift+Tab
  sleep 0.1
  xdotool key space
}

# Dismisses the warning on screen with Return, its one button, and checks it went.
dismiss_warning() {
  wait_for 10 windows_shown 2 || fail "no warning window: $1"
  xdotool key Return
  wait_for 10 windows_shown 1 || fail "Return left the warning open: $1"
  sleep 0.3
}

record() {
  parec -d out.monitor --format=s16le --rate=48000 --channels=2 --file-format=wav "$work/$1.wav" \
    >"$work/$1.log" 2>&1 &
  rec_pid=$!
}

# Stops the recording $1 and checks that it holds speech.
check_speech() {
  sleep 0.3
  stop_process "$rec_pid"
  rec_pid=""
  local rms
  rms="$(sox "$work/$1.wav" -n stat 2>&1 | awk -F: '/RMS +amplitude/ {gsub(/ /, "", $2); print $2; exit}')"
  [ -n "$rms" ] || fail "$1: no recording of the sink"
  awk -v r="$rms" 'BEGIN { exit !(r > 0.005) }' || fail "$1: the recording holds no speech (RMS $rms)"
  echo "$1: played, RMS amplitude $rms"
}

# Checks that the program printed $1 completion lines and $1 end lines so far.
check_ends() {
  [ "$(lines "完成")" -eq "$1" ] || fail "$2: $(lines "完成") completion lines, expected $1"
  [ "$(lines "播放结束2")" -eq "$1" ] || fail "$2: $(lines "播放结束2") end lines, expected $1"
}

start_program "$app"
find_main_window

# 1. Nobody listens on the socket yet.
[ ! -e "$server_dir/runtime/native" ] || fail "a server socket exists before the start"
type_and_speak "Hello. Is anybody there?"
no_server="The speech could not be played: no sound server is running (Connection refused)."
wait_for 30 grep -q -x -F "$no_server" "$work/app.err" || fail "no warning that no sound server runs"
dismiss_warning "no server"
check_ends 0 "no server"
echo "no server: warned"

# 2. The server comes up; Speak, which has the focus back, plays without a restart.
start_sound_server "$server_dir" || fail "the sound server did not start"
record first
xdotool key space
wait_for 60 ends_seen 1 || fail "the playback after the server came up did not end"
check_speech first
check_ends 1 "server up"

# 3. The server dies in the middle of a long text.
type_and_speak "This longer text is read slowly and at length, so that the sound server can be \
stopped while it is still speaking. It goes on for several more seconds, sentence after sentence."
has_stream() { [ -n "$(pactl list sink-inputs short 2>/dev/null)" ]; }
wait_for 60 has_stream || fail "the long text never started playing"
sleep 1.5
kill -9 "$sound_server_pid"
wait "$sound_server_pid" 2>/dev/null
sound_server_pid=""
lost="The speech could not be played: the connection to the sound server was lost"
wait_for 3 warned "^$lost" || fail "no warning within 3 s that the sound server was lost"
[ "$(grep -c "^The speech could not be played" "$work/app.err")" -eq 2 ] || fail "not exactly one warning of the lost server"
dismiss_warning "server lost"
sleep 2
check_ends 1 "server lost"
echo "server lost: warned, no completion lines"

# 4. The server comes back on the same socket.
stop_sound_server
start_sound_server "$server_dir" || fail "the sound server did not start again"
record second
type_and_speak "Hello again."
wait_for 60 ends_seen 2 || fail "the playback after the server came back did not end"
check_speech second
check_ends 2 "server back"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended"

echo "sound_comes_back: passed"
