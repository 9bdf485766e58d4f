#!/usr/bin/env bash
# Runs one preset's tests: those that play through the sound server or drive the whole
# program one at a time, the rest side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="$1"
serial='Live|e2e\.'
ctest --preset "$preset" --timeout 300 -j "$(nproc)" -E "$serial"
ctest --preset "$preset" --timeout 300 -R "$serial"
