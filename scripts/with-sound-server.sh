#!/usr/bin/env bash
# Usage: scripts/with-sound-server.sh CMD...
# Starts a private PulseAudio server with a null sink named "out", points PulseAudio clients
# at it (PULSE_SERVER), runs CMD, stops the server and exits with CMD's status. What was
# played can be recorded from the source "out.monitor".
set -uo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 CMD..." >&2
  exit 2
fi

# shellcheck source=scripts/lib/sound-server.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/sound-server.sh"

dir="$(mktemp -d "${TMPDIR:-/tmp}/lorvanta-pulse.XXXXXX")"
cleanup() {
  stop_sound_server
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_sound_server "$dir" || exit 1
export PULSE_SERVER="unix:$dir/runtime/native"

"$@"
status=$?
exit "$status"
