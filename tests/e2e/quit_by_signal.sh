#!/usr/bin/env bash
# Usage: quit_by_signal.sh LORVANTA_BINARY
# Runs the real program under Xvfb with a PulseAudio null sink and ends it by a signal, as a
# logout (SIGTERM), Ctrl+C (SIGINT) or a closed terminal (SIGHUP) does: during a playback,
# for each of the three, and with SIGTERM during a long save's render. Each time the
# program must exit with status 0 within a few seconds, show no warning, and leave no
# temporary .aiff file, no hidden .lorvanta-* file and no destination file behind.
set -uo pipefail

app="${1:?usage: $0 LORVANTA_BINARY}"
app="$(cd "$(dirname "$app")" && pwd)/$(basename "$app")"
here="$(cd "$(dirname "$0")" && pwd)"
name=quit_by_signal
# shellcheck source=tests/e2e/lib/common.sh
source "$here/lib/common.sh"
run_with_sound_server "$app"

make_work lorvanta-signal
clip_pid=""
cleanup_more() { stop_process "$clip_pid"; }
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/../lsan.supp}"
use_work_home
mkdir -p "$work/out"
start_xvfb

# A background job of a script ignores SIGINT, and the program leaves an ignored signal
# ignored: it starts with the three signals at their defaults, as from a terminal.
start_with_default_signals() {
  QT_QPA_PLATFORM=xcb env --default-signal=INT,HUP,TERM "$app" >"$work/app.out" 2>"$work/app.err" &
  app_pid=$!
}

# A text of $1 words of plain sentences, put into the text view through the clipboard.
paste_words() {
  python3 - "$1" >"$work/text.txt" <<'PY'
import sys
words = ("The old lighthouse keeper climbed the narrow stairs every evening, counting each step "
         "and listening to the waves below. Ships passed far out at sea, their lamps small and "
         "steady, while gulls settled on the rocks and the wind carried salt across the hill.").split()
print(" ".join(words[i % len(words)] for i in range(int(sys.argv[1]))))
PY
  stop_process "$clip_pid"
  xclip -quiet -selection clipboard -i "$work/text.txt" >/dev/null 2>&1 &
  clip_pid=$!
  sleep 0.3
  click_text_view
  xdotool key ctrl+v
  sleep 0.3
}

playing() { [ -n "$(pactl list short sink-inputs 2>/dev/null)" ]; }
hidden_file() { compgen -G "$work/out/.lorvanta-*" >/dev/null; }

# Sends signal $1 and checks how the program ends and what it leaves.
end_by_signal() {
  local signal="$1" start status took
  start="$(date +%s%N)"
  kill -s "$signal" "$app_pid"
  wait_for 10 bash -c "! kill -0 $app_pid" || fail "SIG$signal: the program still runs 10 s later"
  wait "$app_pid"
  status=$?
  took=$((($(date +%s%N) - start) / 1000000))
  app_pid=""
  [ "$status" -eq 0 ] || fail "SIG$signal: exit status $status"
  [ "$took" -le 3000 ] || fail "SIG$signal: the program took $took ms to end"
  grep -q "could not" "$work/app.err" && fail "SIG$signal: a warning was shown: $(grep "could not" "$work/app.err")"
  local left
  left="$(find "$work/tmp" -name '*.aiff')"
  [ -z "$left" ] || fail "SIG$signal: the temporary file stayed: $left"
  left="$(ls -A "$work/out")"
  [ -z "$left" ] || fail "SIG$signal: left in the destination folder: $left"
  echo "SIG$signal: exit status 0 after $took ms, nothing left"
}

# 1. During a playback.
for signal in TERM INT HUP; do
  start_with_default_signals
  find_main_window
  paste_words 60
  # Speak is the first control before the text view.
  xdotool key shift+Tab
  sleep 0.1
  xdotool key space
  wait_for 30 playing || fail "SIG$signal: the playback did not start"
  sleep 0.5
  grep -q "播放结束2" "$work/app.out" && fail "SIG$signal: the playback ended before the signal"
  end_by_signal "$signal"
done

# 2. During a long save's render: an hour of speech.
start_with_default_signals
find_main_window
paste_words 12000
xdotool key shift+Tab shift+Tab
sleep 0.1
xdotool key space
wait_for 120 xdotool search --onlyvisible --name '^Save$' || fail "the save panel did not open"
sleep 0.5
# The panel opens with the focus in its name field.
xdotool key ctrl+a
xdotool type --delay 10 "$work/out/speech.wav"
xdotool key Return
wait_for 60 hidden_file || fail "the render did not begin"
end_by_signal TERM

echo "quit_by_signal: passed"
