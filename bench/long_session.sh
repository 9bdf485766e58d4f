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

name=long_session
# shellcheck source=tests/e2e/lib/common.sh
source "$here/../tests/e2e/lib/common.sh"
run_with_sound_server "$app"

make_work lorvanta-bench

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status"; }
ended() { grep -c "播放结束2" "$work/app.out"; }

use_work_home
start_xvfb
start_program "$app"
find_main_window
click_text_view
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
