#!/usr/bin/env bash
# Installs what building and testing need, checks the format, then builds and runs the whole
# suite: ThreadSanitizer build of the Qt-free parts, the fuzz target, the default build and the
# sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --test

export LORVANTA_REQUIRE_SOUND=1
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:suppressions=$PWD/tests/asan.supp"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"

# The tests run in a network namespace of their own with only the loopback device, so that
# nothing they start (the program's launch-time update check included) reaches beyond
# this machine.
isolated() {
  local inner="ip link set lo up && $*"
  if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
    unshare --net bash -c "$inner"
  elif unshare --net --map-root-user true 2>/dev/null; then
    unshare --net --map-root-user bash -c "$inner"
  else
    echo "test.sh: cannot make a network namespace; running the tests without one" >&2
    bash -c "$*"
  fi
}

run_suite() {
  local preset="$1"
  echo "== $preset build"
  # The test suites are part of the build (the run command may have left them out); a
  # warning fails it.
  cmake --preset "$preset" -DLORVANTA_BUILD_TESTS=ON -DLORVANTA_WERROR=ON >/dev/null
  bash scripts/build.sh "$preset"
  echo "== $preset tests"
  isolated scripts/with-sound-server.sh bash scripts/ctest-suite.sh "$preset"
}

echo "== format"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

run_suite tsan
if [ -f fuzz/run.sh ]; then
  echo "== fuzz"
  bash fuzz/run.sh
fi
run_suite default
run_suite sanitize
