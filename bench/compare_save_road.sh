#!/usr/bin/env bash
# Usage: compare_save_road.sh SAVE_ROAD_BENCH [WORDS] [RUNS]
# Times the save road (synthesis, then offline render at +300 cents into a WAV file) for an
# English text of WORDS words (5000) against the pipeline a user would script:
# espeak-ng -w TMP.wav, then sox TMP.wav OUT.wav pitch 300, at the same text and rate.
# Then compares the peak memory of the save road for 2,000 and 20,000 words.
set -euo pipefail

bench="${1:?usage: $0 SAVE_ROAD_BENCH [WORDS]}"
words="${2:-5000}"
runs="${3:-5}"
rate=180
work="$(mktemp -d "${TMPDIR:-/tmp}/lorvanta-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# A text of exactly $1 words, made of plain English sentences.
make_text() {
  python3 - "$1" <<'PY'
import sys
n = int(sys.argv[1])
base = ("The old lighthouse keeper climbed the narrow stairs every evening, counting each step "
        "and listening to the waves below. Ships passed far out at sea, their lamps small and "
        "steady, while gulls settled on the rocks and the wind carried salt across the hill. "
        "He wrote the weather in a thin notebook, then lit the great lamp and watched it turn.").split()
out = [base[i % len(base)] for i in range(n)]
print(" ".join(out))
PY
}

now() { date +%s.%N; }

make_text "$words" >"$work/text.txt"

median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# Alternating runs, so that a slow moment of the machine falls on both sides alike.
: >"$work/ours.times"
: >"$work/pipeline.times"
for _ in $(seq "$runs"); do
  t0="$(now)"
  "$bench" "$work/text.txt" "$work/ours.wav" 300 "$rate" >"$work/ours.log"
  t1="$(now)"
  espeak-ng -s "$rate" -w "$work/tmp.wav" -f "$work/text.txt"
  sox "$work/tmp.wav" "$work/pipeline.wav" pitch 300
  t2="$(now)"
  echo "$t1 - $t0" | bc -l >>"$work/ours.times"
  echo "$t2 - $t1" | bc -l >>"$work/pipeline.times"
done

ours="$(median <"$work/ours.times")"
pipeline="$(median <"$work/pipeline.times")"
echo "words=$words runs=$runs median ours_s=$(printf %.2f "$ours") pipeline_s=$(printf %.2f "$pipeline") ratio=$(printf %.3f "$(echo "$ours / $pipeline" | bc -l)") (goal <= 0.6)"
echo "ours: $(cat "$work/ours.log")"
echo "ours audio: $(soxi -D "$work/ours.wav") s, pipeline audio: $(soxi -D "$work/pipeline.wav") s"

for n in 2000 20000; do
  make_text "$n" >"$work/text-$n.txt"
  /usr/bin/time -f "%M" -o "$work/mem-$n" "$bench" "$work/text-$n.txt" "$work/mem-$n.wav" 300 "$rate" >/dev/null
done
small="$(cat "$work/mem-2000")"
large="$(cat "$work/mem-20000")"
echo "peak_kb_2000=$small peak_kb_20000=$large ratio=$(printf %.3f "$(echo "$large / $small" | bc -l)") (goal <= 1.1)"
