#!/usr/bin/env bash
# Installs the Debian packages that building and running the program need; with --test,
# also those of the test suite, the fuzz target and the benchmark scripts. Idempotent.
#   bash scripts/setup.sh [--test]
set -euo pipefail

# Build and run: compiler and build tools, Qt (with lrelease for the string tables and the
# headers that Qt's CMake files look for), espeak-ng, libsndfile, SoundTouch, PulseAudio,
# libcurl, and fonts for Latin and CJK text.
RUN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libgl-dev libegl-dev libxkbcommon-dev libqt6opengl6-dev
  libespeak-ng-dev espeak-ng-data
  libsndfile1-dev libsoundtouch-dev
  libpulse-dev
  libcurl4-openssl-dev
  qt6-translations-l10n
  fonts-noto-cjk fonts-dejavu-core
)

# Tests: GoogleTest; the private sound server (pulseaudio, pactl/parec/pacat); the X
# server and tools of the whole-program scripts (Xvfb, xdotool, xdpyinfo, import, sox);
# clang and its fuzzer run-time; ip for the tests' network namespace; the locales of the
# locale tests. Benchmark scripts: espeak-ng, soundstretch, python3, bc, time.
TEST_PACKAGES=(
  googletest libgtest-dev libgmock-dev
  pulseaudio pulseaudio-utils
  xvfb xdotool x11-utils imagemagick openbox xclip
  sox libsox-fmt-all
  clang libclang-rt-14-dev clang-format
  iproute2 locales-all
  espeak-ng soundstretch python3 bc time
)

packages=("${RUN_PACKAGES[@]}")
case "${1:-}" in
  "") ;;
  --test) packages+=("${TEST_PACKAGES[@]}") ;;
  *)
    echo "usage: $0 [--test]" >&2
    exit 2
    ;;
esac

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
