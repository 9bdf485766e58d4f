#!/usr/bin/env bash
# Times our offline pitch render (+300 cents) of a 10-minute 22,050 Hz mono speech file
# against sox and soundstretch on the same file; prints the median ratios and our peak memory
# for a 1-minute and the 10-minute file.
# Usage: bench/compare_pitch.sh [PATH/TO/pitch_render_bench] [RUNS]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bench="${1:-$here/../build/default/bin/pitch_render_bench}"
runs="${2:-5}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Speech from espeak-ng, repeated to length, stored as the synthesizer's temporary file is.
text="The quick brown fox jumps over the lazy dog while the five boxing wizards jump quickly. \
A journey of a thousand miles begins with a single step, and every sentence needs a voice."
espeak-ng -w "$work/base.wav" "$text $text $text" 2>/dev/null
sox "$work/base.wav" -r 22050 -c 1 -b 16 "$work/long.wav" repeat 80 2>/dev/null
sox "$work/long.wav" "$work/in.aiff" trim 0 600
sox "$work/long.wav" "$work/in.wav" trim 0 600
sox "$work/long.wav" "$work/short.aiff" trim 0 60

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
timed() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }

ours=(); soxs=(); stretch=()
for _ in $(seq "$runs"); do
  ours+=("$(timed "$bench" "$work/in.aiff" "$work/ours.wav" 300)")
  soxs+=("$(timed sox "$work/in.aiff" "$work/sox.wav" pitch 300)")
  stretch+=("$(timed soundstretch "$work/in.wav" "$work/stretch.wav" -pitch=3)")
done
o=$(printf '%s\n' "${ours[@]}" | median)
s=$(printf '%s\n' "${soxs[@]}" | median)
t=$(printf '%s\n' "${stretch[@]}" | median)
peak_long=$("$bench" "$work/in.aiff" "$work/ours.wav" 300 | awk '{print $6}')
peak_short=$("$bench" "$work/short.aiff" "$work/short.wav" 300 | awk '{print $6}')
printf 'median seconds: ours %.3f  sox %.3f  soundstretch %.3f  (%s runs)\n' "$o" "$s" "$t" "$runs"
printf 'ours / sox          %.3f  (goal <= 0.5)\n' "$(echo "$o / $s" | bc -l)"
printf 'ours / soundstretch %.3f  (goal <= 1.3)\n' "$(echo "$o / $t" | bc -l)"
printf 'peak memory: %s KiB for 10 minutes, %s KiB for 1 minute\n' "$peak_long" "$peak_short"
printf 'frames in %s, out %s\n' "$(soxi -s "$work/in.aiff")" "$(soxi -s "$work/ours.wav")"
