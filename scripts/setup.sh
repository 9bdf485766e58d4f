#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need. Idempotent.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
  libgl-dev libegl-dev libxkbcommon-dev libqt6opengl6-dev
  libespeak-ng-dev espeak-ng espeak-ng-data
  libsndfile1-dev libsoundtouch-dev soundstretch
  libpulse-dev libasound2-plugins alsa-utils
  libcurl4-openssl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  pulseaudio pulseaudio-utils
  xvfb xdotool imagemagick x11-utils
  sox libsox-fmt-all
  clang libclang-rt-14-dev
  python3 iproute2 fonts-noto-cjk fonts-dejavu-core
  locales-all bc time
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
