#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for a bounded
# number of inputs and time. Exits non-zero when a target crashes or fails to build.
#   bash fuzz/run.sh [seconds per target, default 60]
# The run is repeatable: a fixed seed (FUZZ_SEED, default 1; 0 for a random one), a fresh
# scratch corpus and at most FUZZ_RUNS inputs (default 10,000,000).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
seed="${FUZZ_SEED:-1}"
runs="${FUZZ_RUNS:-10000000}"
out="${root}/build/fuzz"
mkdir -p "${out}"

CXX="${CXX_FUZZ:-clang++}"
flags=(-std=c++20 -O1 -g -fPIC -fno-omit-frame-pointer -Wall -Wextra
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"${root}")
read -r -a qt <<<"$(pkg-config --cflags --libs Qt6Core)"

"${CXX}" "${flags[@]}" -o "${out}/store_reply_fuzz" \
  "${root}/fuzz/store_reply_fuzz.cpp" "${root}/update/StoreReply.cpp" "${root}/base/NumberText.cpp" \
  "${qt[@]}"

# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
corpus="${out}/corpus/store_reply"
rm -rf "${corpus}"
mkdir -p "${corpus}"
cd "${out}"
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="print_stacktrace=1" \
  "${out}/store_reply_fuzz" -seed="${seed}" -runs="${runs}" -max_total_time="${seconds}" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "${corpus}" "${root}/fuzz/corpus/store_reply"
