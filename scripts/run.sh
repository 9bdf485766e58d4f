#!/usr/bin/env bash
# Installs what building and running need, builds the application and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# The test suites need GoogleTest, which only the test command installs: without it they
# are left out of the build.
tests=OFF
if pkg-config --exists gtest gmock; then tests=ON; fi
cmake --preset default -DLORVANTA_BUILD_TESTS="$tests" >/dev/null
bash scripts/build.sh default
exec build/default/bin/lorvanta "$@"
