# Helpers for the window tests: a private X server with a window manager, a
# fresh home, a radio on a pseudo-terminal, and ways to find, measure, drive
# and close rigplot's windows. Sourced by window_test.sh.
#
# Environment: RIGPLOT_BIN (the program), optional RIGPLOT_SIM (the radio
# simulator), SHOT_DIR (where screenshots go; by default the scratch
# directory, kept when a case fails), WAIT_SECONDS (how long any one wait may
# take; generous, so that a busy machine passes too).

GUI_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WAIT_SECONDS=${WAIT_SECONDS:-60}

# Everything of one run in its own directory under TMPDIR: copies of the
# suite may run side by side.
SCRATCH=$(mktemp -d -t rigplot-gui.XXXXXX)
SHOT_DIR=${SHOT_DIR:-$SCRATCH/shots}
export HOME="$SCRATCH/home" TEMP="$SCRATCH/tmp" XDG_CONFIG_HOME="$SCRATCH/home/.config"
export XDG_CACHE_HOME="$SCRATCH/home/.cache" XDG_DATA_HOME="$SCRATCH/home/.local/share"
export XDG_RUNTIME_DIR="$SCRATCH/runtime" NO_AT_BRIDGE=1 GTK_A11Y=none LANG=C.UTF-8
unset TMPDIR
WORK="$SCRATCH/work"
MAP="$TEMP/0.mps"
mkdir -p "$HOME" "$TEMP" "$WORK" "$XDG_RUNTIME_DIR" "$SHOT_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

XVFB_PID='' WM_PID='' RIG_PID='' RIG_RC='' RADIO_PID=''
FAILED=0

log() { echo "[$(date +%T.%3N)] $*"; }

fail() {
  FAILED=1
  echo "FAIL: $*" >&2
  exit 1
}

cleanup() {
  local rc=$?
  [ -n "$RIG_PID" ] && kill -0 "$RIG_PID" 2>/dev/null && kill -KILL "$RIG_PID" 2>/dev/null
  [ -n "$RADIO_PID" ] && kill "$RADIO_PID" 2>/dev/null
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  if ((rc != 0 || FAILED)); then
    echo "--- rigplot stderr ---" >&2
    cat "$SCRATCH/rigplot.err" >&2 2>/dev/null
    echo "--- kept $SCRATCH ---" >&2
  else
    rm -rf "$SCRATCH"
  fi
  return "$rc"
}
trap cleanup EXIT

# Polls a command until it succeeds. After WAIT_SECONDS it fails naming
# what it waited for and what it saw: the checks below leave their last look
# in SAW.
wait_for() {
  local what=$1
  shift
  local end=$((SECONDS + WAIT_SECONDS))
  SAW=''
  until "$@"; do
    ((SECONDS < end)) || fail "waited ${WAIT_SECONDS} s for $what; saw: ${SAW:-nothing}"
    sleep 0.1
  done
}

# An X server of the given size on a free display, and a window manager.
start_display() {
  local size=$1
  local fifo="$SCRATCH/displayfd"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -noreset -nolisten tcp 3>"$fifo" \
    >"$SCRATCH/xvfb.log" 2>&1 &
  XVFB_PID=$!
  local number
  read -r -t "$WAIT_SECONDS" number <"$fifo" ||
    fail "waited ${WAIT_SECONDS} s for Xvfb's display number; its log: $(cat "$SCRATCH/xvfb.log")"
  export DISPLAY=":$number"
  openbox --sm-disable >"$SCRATCH/openbox.log" 2>&1 &
  WM_PID=$!
  wait_for "the window manager" wm_running
  log "display $DISPLAY ${size} with openbox"
}

wm_running() {
  SAW=$(wmctrl -m 2>&1 | head -n 1)
  grep -q '^Name: Openbox' <<<"$SAW"
}

# A radio on a pseudo-terminal, named in RIGPLOT.ini: fake_radio.py, or the
# command given (rigplot-sim), which prints the port's name first.
start_radio() {
  (($#)) || set -- python3 "$GUI_LIB_DIR/fake_radio.py"
  coproc RADIO { exec "$@"; }
  local port
  read -r -t "$WAIT_SECONDS" port <&"${RADIO[0]}" ||
    fail "waited ${WAIT_SECONDS} s for $1 to name its port"
  echo "$port 9600" >"$WORK/RIGPLOT.ini"
}

# Sends one report from the fake radio and waits until the map script shows it.
send_report() {
  local callsign=$1 ack
  echo "report $callsign" >&"${RADIO[1]}"
  read -r -t "$WAIT_SECONDS" ack <&"${RADIO[0]}" ||
    fail "waited ${WAIT_SECONDS} s for the fake radio to send $callsign"
  wait_for "$callsign in the map script" map_has "$callsign"
}

map_has() {
  saw_map
  [ -f "$MAP" ] && grep -aq "str=\"$1\"" "$MAP"
}

saw_map() {
  if [ -f "$MAP" ]; then SAW="map script points: $(map_points | tr '\n' ' ')"; else SAW="no map script"; fi
}

# Point lines of the map script as "oid callsign", one a line.
map_points() {
  LC_ALL=C grep -a "^point " "$MAP" | LC_ALL=C sed -E 's/.* oid="([0-9]+)".* str="([^"]*)".*/\1 \2/'
}

start_rigplot() {
  (cd "$WORK" && exec env RIGPLOT_TRACE=1 RIGPLOT_TEST_ASSERT=1 "$RIGPLOT_BIN" --web 127.0.0.1:0) \
    >"$SCRATCH/rigplot.out" 2>"$SCRATCH/rigplot.err" &
  RIG_PID=$!
  log "rigplot started as $RIG_PID"
}

# The visible top-level windows of rigplot, one id a line.
rigplot_windows() { xdotool search --onlyvisible --pid "$RIG_PID" 2>/dev/null || true; }

window_name() { xdotool getwindowname "$1" 2>/dev/null; }

# Finds rigplot's visible window with exactly this name; prints its id.
find_window() {
  local name=$1 w
  SAW="rigplot's windows:"
  for w in $(rigplot_windows); do
    SAW+=" $w '$(window_name "$w")'"
    if [ "$(window_name "$w")" = "$name" ]; then
      echo "$w"
      return 0
    fi
  done
  return 1
}

wait_window() {
  local name=$1
  wait_for "a window named '$name'" find_window "$name" >/dev/null
  find_window "$name"
}

# Outer frame "width height x y", measured on the window manager's frame
# around the client window (the client itself is the inner window).
frame_geometry() {
  local parent
  parent=$(xwininfo -id "$1" -tree | awk '/Parent window id/ {print $4}')
  client_geometry "$parent"
}

# Client window "width height x y".
client_geometry() {
  xwininfo -id "$1" | awk '
    /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /Width:/ {w = $2} /Height:/ {h = $2}
    END {print w, h, x, y}'
}

geometry_is() {
  SAW="frame $(frame_geometry "$1")"
  [ "$SAW" = "frame $2" ]
}

# One key per call, to the activated window.
press() {
  local window=$1 key=$2
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
  xdotool key --clearmodifiers "$key"
  sleep 0.3
}

click_at() {
  xdotool mousemove --sync "$1" "$2" click 1
  sleep 0.3
}

# The close box on the window manager's title bar, at the frame's right end.
click_close_box() {
  local w h x y
  read -r w h x y < <(frame_geometry "$1")
  click_at $((x + w - 11)) $((y + 10))
}

# Closes a window as its close box would: WM_DELETE_WINDOW through the
# window manager, addressed by id.
close_window() { wmctrl -i -c "$1"; }

rigplot_gone() {
  SAW="rigplot still running; its last trace lines: $(tail -n 3 "$SCRATCH/rigplot.err" | tr '\n' '|')"
  ! kill -0 "$RIG_PID" 2>/dev/null
}

# Waits for rigplot to end and checks its exit status.
expect_exit() {
  local want=$1
  wait_for "rigplot to end" rigplot_gone
  local rc=0
  wait "$RIG_PID" || rc=$?
  RIG_RC=$rc
  RIG_PID=''
  [ "$rc" = "$want" ] || fail "exit status $rc, expected $want"
  log "rigplot ended with status $rc"
}

expect_alive() { kill -0 "$RIG_PID" 2>/dev/null || fail "rigplot ended unexpectedly"; }

shot() {
  local file="$SHOT_DIR/$CASE${ARG:+-$ARG}-$1.png"
  import -window root "$file"
  log "screenshot $file"
}

trace_has() {
  SAW="last trace lines: $(tail -n 3 "$SCRATCH/rigplot.err" | tr '\n' '|')"
  grep -q "^rigplot: $1\$" "$SCRATCH/rigplot.err"
}

# Trace lines that match the pattern, in order.
trace_lines() { grep -E "^rigplot: ($1)" "$SCRATCH/rigplot.err" | sed 's/^rigplot: //'; }

# Fails when rigplot has printed a wx assertion or a GTK critical.
expect_clean_stderr() {
  if grep -E 'assertion failed|-CRITICAL|-WARNING' "$SCRATCH/rigplot.err"; then
    fail "rigplot complained on stderr"
  fi
}

# Distinct colours in a rectangle of the screen: 1 for a blank area.
colours_in() {
  local w=$1 h=$2 x=$3 y=$4
  import -window root -crop "${w}x${h}+${x}+${y}" +repage -format '%k' info:
}
