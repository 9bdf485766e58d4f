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

dir="$(mktemp -d "${TMPDIR:-/tmp}/lorvanta-pulse.XXXXXX")"
mkdir -p "$dir/runtime" "$dir/home" "$dir/state"
chmod 700 "$dir/runtime"
socket="$dir/runtime/native"

server_pid=""
keeper_pid=""
cleanup() {
  if [ -n "$keeper_pid" ]; then kill "$keeper_pid" 2>/dev/null; wait "$keeper_pid" 2>/dev/null; fi
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The server keeps its state, runtime files and cookie inside $dir; it runs as root too.
env -u PULSE_SERVER HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home" \
  PULSE_STATE_PATH="$dir/state" PULSE_RUNTIME_PATH="$dir/runtime" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
  --disable-shm=yes --log-target=file:"$dir/server.log" \
  -L "module-null-sink sink_name=out rate=48000" \
  -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
  >/dev/null 2>&1 &
server_pid=$!

export PULSE_SERVER="unix:$socket"

ready=0
for _ in $(seq 100); do
  if pactl info >/dev/null 2>&1; then ready=1; break; fi
  if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ "$ready" -ne 1 ]; then
  echo "with-sound-server: the PulseAudio server did not start" >&2
  [ -f "$dir/server.log" ] && tail -n 20 "$dir/server.log" >&2
  exit 1
fi
pactl set-default-sink out >/dev/null 2>&1
# An idle null sink renders in blocks of up to two seconds, which holds back a new stream's
# start; a low-latency listener on its monitor keeps it ticking.
parec -d out.monitor --latency-msec=20 >/dev/null 2>&1 &
keeper_pid=$!
# The listener takes effect once the block under way is rendered: a short silent stream,
# played to its end, waits for that.
head -c 882 /dev/zero | pacat --raw --format=s16le --rate=22050 --channels=1 --latency-msec=20 \
  >/dev/null 2>&1

"$@"
status=$?
exit "$status"
