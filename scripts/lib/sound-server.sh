# shellcheck shell=bash
# A private PulseAudio server with a null sink named "out"; sourced, never run by itself.
# What is played can be recorded from the source "out.monitor".

sound_server_pid=""
sound_keeper_pid=""

# Starts the server with its state, runtime files, cookie and log in folder $1 (made if
# missing) and its socket at $1/runtime/native; sets sound_server_pid and sound_keeper_pid.
# An earlier server's socket left in $1 is taken over. When the server does not come up,
# says so with the log's end and returns 1.
start_sound_server() {
  local dir="$1"
  local socket="$dir/runtime/native"
  mkdir -p "$dir/runtime" "$dir/home" "$dir/state"
  chmod 700 "$dir/runtime"
  # It runs as root too.
  env -u PULSE_SERVER HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home" \
    PULSE_STATE_PATH="$dir/state" PULSE_RUNTIME_PATH="$dir/runtime" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
    --disable-shm=yes --log-target=file:"$dir/server.log" \
    -L "module-null-sink sink_name=out rate=48000" \
    -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
    >/dev/null 2>&1 &
  sound_server_pid=$!

  local ready=0
  for _ in $(seq 100); do
    if PULSE_SERVER="unix:$socket" pactl info >/dev/null 2>&1; then ready=1; break; fi
    if ! kill -0 "$sound_server_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [ "$ready" -ne 1 ]; then
    echo "$(basename "$0" .sh): the PulseAudio server did not start" >&2
    [ -f "$dir/server.log" ] && tail -n 20 "$dir/server.log" >&2
    return 1
  fi
  PULSE_SERVER="unix:$socket" pactl set-default-sink out >/dev/null 2>&1
  # An idle null sink renders in blocks of up to two seconds, which holds back a new stream's
  # start; a low-latency listener on its monitor keeps it ticking.
  PULSE_SERVER="unix:$socket" parec -d out.monitor --latency-msec=20 >/dev/null 2>&1 &
  sound_keeper_pid=$!
  # The listener takes effect once the block under way is rendered: a short silent stream,
  # played to its end, waits for that.
  head -c 882 /dev/zero | PULSE_SERVER="unix:$socket" pacat --raw --format=s16le --rate=22050 \
    --channels=1 --latency-msec=20 >/dev/null 2>&1
  return 0
}

# Stops the listener and the server (TERM, up to 5 s of grace, then KILL); either may be gone.
stop_sound_server() {
  if [ -n "$sound_keeper_pid" ]; then kill "$sound_keeper_pid" 2>/dev/null; wait "$sound_keeper_pid" 2>/dev/null; fi
  sound_keeper_pid=""
  if [ -n "$sound_server_pid" ] && kill -0 "$sound_server_pid" 2>/dev/null; then
    kill "$sound_server_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$sound_server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$sound_server_pid" 2>/dev/null
  fi
  [ -n "$sound_server_pid" ] && wait "$sound_server_pid" 2>/dev/null
  sound_server_pid=""
  return 0
}
