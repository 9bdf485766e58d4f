# Shared parts of the whole-program scripts; sourced, never run by itself.
# A script sets `name` (the prefix of its failure messages) before it calls these.
# It lives in a subfolder so that the test list, which takes every tests/e2e/*.sh, skips it.

lorvanta_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
work=""
xvfb_pid=""
app_pid=""

# Without a sound server of the test runner, brings up our own and runs the script again inside it.
run_with_sound_server() {
  [ -n "${PULSE_SERVER:-}" ] || exec "$lorvanta_root/scripts/with-sound-server.sh" bash "$0" "$@"
}

# Stops a process: TERM, up to 3 s of grace, then KILL; an empty id does nothing.
stop_process() {
  local pid="$1"
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# What a script has to undo besides the program and Xvfb; a script redefines it as needed.
cleanup_more() { :; }

# Stops all that was started and removes the work folder.
cleanup() {
  stop_process "$app_pid"
  cleanup_more
  stop_process "$xvfb_pid"
  rm -rf "$work"
}

# Makes the work folder `$work` (named after $1) and removes it, with all started, at exit.
make_work() {
  work="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
  trap cleanup EXIT
  trap 'exit 130' INT TERM
}

# Gives the program a home, a settings folder and a temporary folder of its own in $work,
# and the English texts (the warnings the scripts look for) whatever the caller's language.
use_work_home() {
  mkdir -p "$work/home" "$work/config" "$work/tmp"
  export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"
  export LC_ALL=C.UTF-8
  unset LANGUAGE
}

# Shows the program's output, the end of its errors (without sound library noise) and of Xvfb's log.
show_logs() {
  if [ -f "$work/app.out" ]; then
    echo "--- program output" >&2
    cat "$work/app.out" >&2
  fi
  if [ -f "$work/app.err" ]; then
    echo "--- program errors" >&2
    tail -n 40 "$work/app.err" >&2
  fi
  if [ -f "$work/xvfb.log" ]; then
    echo "--- Xvfb (${DISPLAY:-})" >&2
    tail -n 20 "$work/xvfb.log" >&2
    ls -la /tmp/.X11-unix >&2
  fi
}

# Says what went wrong, shows the logs and ends the script with status 1.
fail() {
  echo "${name:?}: $*" >&2
  show_logs
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Prints the first X display in LORVANTA_E2E_FIRST_DISPLAY..LORVANTA_E2E_LAST_DISPLAY (90..190) nobody uses.
free_display() {
  local n
  for n in $(seq "${LORVANTA_E2E_FIRST_DISPLAY:-90}" "${LORVANTA_E2E_LAST_DISPLAY:-190}"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      echo ":$n"
      return 0
    fi
  done
  return 1
}

# Starts Xvfb on a free display, exports DISPLAY and waits until the server answers.
# Scripts run side by side may pick the same display at once; the one whose server did not
# get it (the lock file names another server) tries the next free one.
start_xvfb() {
  local display
  for _ in $(seq 20); do
    display="$(free_display)" || fail "no free X display"
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY="$display"
    if wait_for 10 xdpyinfo && [ "$(tr -dc '0-9' <"/tmp/.X${display#:}-lock" 2>/dev/null)" = "$xvfb_pid" ]; then
      return 0
    fi
    stop_process "$xvfb_pid"
    xvfb_pid=""
  done
  fail "Xvfb did not start on a display of its own"
}

# Starts the program $1 on the X display, its stdout and stderr to $work/app.out and app.err.
start_program() {
  QT_QPA_PLATFORM=xcb "$1" >"$work/app.out" 2>"$work/app.err" &
  app_pid=$!
}

# Waits for the main window; sets `window` and its geometry X, Y, WIDTH and HEIGHT.
find_main_window() {
  window=""
  for _ in $(seq 150); do
    window="$(xdotool search --onlyvisible --name '^Lorvanta$' 2>/dev/null | head -n 1)"
    [ -n "$window" ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended at start"
    sleep 0.1
  done
  [ -n "$window" ] || fail "the main window did not appear"
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$window")"
}

# Clicks into the text view, which fills the upper part of the window, to give it the focus.
click_text_view() {
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 4)) click 1
  sleep 0.2
}
