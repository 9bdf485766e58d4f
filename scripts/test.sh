#!/usr/bin/env bash
# Installs what is needed, then builds and runs the whole suite: ThreadSanitizer build of
# the Qt-free parts, the fuzz target, the default build and the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs="$(nproc)"
export LORVANTA_REQUIRE_SOUND=1
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:suppressions=$PWD/tests/asan.supp"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"

# Tests that play through the sound server or drive the whole program run one at a time;
# the rest run side by side.
serial='Live|e2e\.'

run_suite() {
  local preset="$1"
  echo "== $preset build"
  bash scripts/build.sh "$preset"
  echo "== $preset tests"
  scripts/with-sound-server.sh bash -c "
    ctest --preset '$preset' -j '$jobs' -E '$serial' &&
    ctest --preset '$preset' -R '$serial'"
}

run_suite tsan
if [ -f fuzz/run.sh ]; then
  echo "== fuzz"
  bash fuzz/run.sh
fi
run_suite default
run_suite sanitize
