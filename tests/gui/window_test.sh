#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# rigplot's real window under Xvfb with a window manager, one case per run:
#   window_test.sh CASE [ARG]
# Each run starts its own X server and window manager, uses a fresh home and
# temporary directory and cleans up after itself. Screenshots go to
# $SHOT_DIR (outside the tree).
set -euo pipefail
CASE=$1
ARG=${2:-}
source "$(dirname "$0")/gui_lib.sh"

readonly TITLE="無題 - RIGPLOT"
readonly ABOUT_TITLE="RIGPLOTのﾊﾞｰｼﾞｮﾝ情報"

# Starts rigplot on a fresh radio and returns once its frame is where the
# rule puts it for this screen.
open_main_window() {
  local size=$1 expected=$2
  start_display "$size"
  start_radio
  start_rigplot
  MAIN=$(wait_window "$TITLE")
  wait_for "the frame at $expected" geometry_is "$MAIN" "$expected"
}

# --- geometry: the outer frame, for a screen size --------------------------
case_geometry() {
  local size=$ARG expected
  case $size in
    1024x768) expected="204 76 408 342" ;;
    800x600) expected="160 60 320 270" ;;
    1366x768) expected="273 76 546 342" ;;
    1601x1201) expected="320 120 640 540" ;;
    *) fail "no expectation for $size" ;;
  esac
  open_main_window "$size" "$expected"
  # It stays there: nothing moves it once the window manager is done.
  sleep 1
  [ "$(frame_geometry "$MAIN")" = "$expected" ] || fail "frame moved to $(frame_geometry "$MAIN")"
  [ "$(trace_lines 'frame PreCreateWindow')" = \
    "frame PreCreateWindow ${expected%% *}x$(cut -d' ' -f2 <<<"$expected") at ($(cut -d' ' -f3 <<<"$expected"),$(cut -d' ' -f4 <<<"$expected")) on $size" ] ||
    fail "PreCreateWindow: $(trace_lines 'frame PreCreateWindow')"
  shot window
  close_window "$MAIN"
  expect_exit 0
  expect_clean_stderr
}

# --- start-up: order of events, title, icon, a blank view ------------------
case_startup() {
  open_main_window 1024x768 "204 76 408 342"
  local order
  order=$(trace_lines 'document constructed|frame PreCreateWindow|view constructed|worker started|document OnNewDocument|frame shown$' |
    sed 's/ PreCreateWindow.*/ PreCreateWindow/')
  [ "$order" = "document constructed
frame PreCreateWindow
view constructed
worker started
document OnNewDocument
frame shown" ] || fail "start-up order: $order"

  [ "$(window_name "$MAIN")" = "$TITLE" ] || fail "title '$(window_name "$MAIN")'"
  # One window only, owned by nobody.
  [ "$(rigplot_windows | wc -l)" = 1 ] || fail "more than one window"
  local icon
  icon=$(xprop -id "$MAIN" _NET_WM_ICON | head -c 300)
  grep -q 'Icon (32 x 32)' <<<"$icon" || fail "no 32x32 icon: $icon"
  xprop -id "$MAIN" _NET_WM_ICON | grep -q 'Icon (16 x 16)' || fail "no 16x16 icon"

  # The view stays blank however many reports arrive.
  send_report JA1AAA
  send_report JA1BBB
  local w h x y
  read -r w h x y < <(client_geometry "$MAIN")
  shot window
  [ "$(colours_in "$w" 12 "$x" $((y + h - 12)))" = 1 ] || fail "the view is not blank"
  expect_alive
  close_window "$MAIN"
  expect_exit 0
  expect_clean_stderr
}

# --- the Exit item by its mnemonics; the map script is kept ---------------
case_menu_exit() {
  open_main_window 1024x768 "204 76 408 342"
  send_report JA1AAA
  press "$MAIN" alt+x
  shot menu-exit
  press "$MAIN" x
  expect_exit 0
  trace_has "view OnDestroy: stopped after 1 reports" || fail "no stop sequence"
  [ "$(map_points)" = "1 JA1AAA" ] || fail "map script after exit: $(map_points)"
  expect_clean_stderr
}

# --- table clear by its mnemonics, then a report --------------------------
case_table_clear() {
  open_main_window 1024x768 "204 76 408 342"
  send_report JA1AAA
  send_report JA1BBB
  [ "$(map_points | tr '\n' ' ')" = "1 JA1AAA 2 JA1BBB " ] || fail "before: $(map_points)"
  cp "$MAP" "$SCRATCH/before.mps"

  press "$MAIN" alt+s
  shot menu-settings
  press "$MAIN" c
  wait_for "the clear" trace_has "table cleared"
  # Nothing is rewritten by the clear itself.
  cmp -s "$MAP" "$SCRATCH/before.mps" || fail "the clear rewrote the map script"

  # The next report lists only the station heard since, as oid 1, even one
  # that had the second slot before.
  send_report JA1BBB
  [ "$(map_points)" = "1 JA1BBB" ] || fail "after: $(map_points)"
  grep -aq 'point pos="35/39.1234,139/45.6789" oid="1"' "$MAP" || fail "point line"
  expect_alive
  close_window "$MAIN"
  expect_exit 0
  expect_clean_stderr
}

# --- table clear with reports from the radio simulator --------------------
case_table_clear_sim() {
  [ -x "${RIGPLOT_SIM:-}" ] || fail "RIGPLOT_SIM is not set"
  start_display 1024x768
  start_radio "$RIGPLOT_SIM" --stations 3 --interval 2 --noise 0 --seed 5
  start_rigplot
  MAIN=$(wait_window "$TITLE")
  wait_for "two stations" map_has_points 2
  local before
  before=$(point_count)

  press "$MAIN" alt+s
  press "$MAIN" c
  wait_for "the clear" trace_has "table cleared"
  # Reports come 2 s apart and the table only grows between them, so the
  # first map with fewer stations than before is the first rewrite after
  # the clear: it lists exactly one station, as oid 1.
  wait_for "a rewrite after the clear" map_has_fewer_points "$before"
  local points
  points=$(map_points)
  [ "$(wc -l <<<"$points")" = 1 ] && [ "${points%% *}" = 1 ] || fail "after the clear: $points"
  close_window "$MAIN"
  expect_exit 0
  expect_clean_stderr
}

point_count() { LC_ALL=C grep -ac '^point ' "$MAP"; }
map_has_points() {
  saw_map
  [ -f "$MAP" ] && [ "$(point_count)" -ge "$1" ]
}
map_has_fewer_points() {
  saw_map
  [ "$(point_count)" -lt "$1" ]
}

# --- the about box: opened by Alt+H then Enter, closed four ways -----------
case_about() {
  open_main_window 1024x768 "204 76 408 342"
  local how about
  for how in ok enter escape close-box; do
    press "$MAIN" alt+h
    [ "$how" = ok ] && shot menu-help
    press "$MAIN" Return
    about=$(wait_window "$ABOUT_TITLE")
    check_about_box "$about"
    [ "$how" = ok ] && shot about
    case $how in
      ok)
        local w h x y bx by bw bh
        read -r w h x y < <(client_geometry "$about")
        read -r bx by bw bh < <(trace_lines 'about box [0-9]' | tail -1 |
          sed -E 's/.*ok ([0-9]+),([0-9]+) ([0-9]+)x([0-9]+).*/\1 \2 \3 \4/')
        click_at $((x + bx + bw / 2)) $((y + by + bh / 2))
        ;;
      enter) press "$about" Return ;;
      escape) press "$about" Escape ;;
      close-box) click_close_box "$about" ;;
    esac
    wait_for "the about box to close ($how)" about_closed
    expect_alive
  done
  [ "$(trace_lines 'about box (opened|closed)' | wc -l)" = 8 ] || fail "about box trace"
  close_window "$MAIN"
  expect_exit 0
  expect_clean_stderr
}

about_closed() { ! find_window "$ABOUT_TITLE" >/dev/null; }

# At least N trace lines match the pattern.
trace_count() {
  SAW="$(trace_lines "$1" | wc -l) lines: $(trace_lines "$1" | tr '\n' '|')"
  (($(trace_lines "$1" | wc -l) >= $2))
}

# Owned by the main window, centred over it, its client the template's size.
check_about_box() {
  local about=$1
  xprop -id "$about" WM_TRANSIENT_FOR | grep -qi "window id # $(printf '0x%x' "$MAIN")" ||
    fail "the about box is not owned by the main window: $(xprop -id "$about" WM_TRANSIENT_FOR)"
  local mw mh mx my aw ah ax ay
  read -r mw mh mx my < <(frame_geometry "$MAIN")
  read -r aw ah ax ay < <(frame_geometry "$about")
  local dx=$(((ax + aw / 2) - (mx + mw / 2))) dy=$(((ay + ah / 2) - (my + mh / 2)))
  ((dx * dx <= 4 && dy * dy <= 400)) || fail "about box not centred over the main window ($dx,$dy)"
  local size cw ch
  size=$(trace_lines 'about box [0-9]' | tail -1 | sed -E 's/about box ([0-9]+)x([0-9]+),.*/\1 \2/')
  read -r cw ch _ < <(client_geometry "$about")
  [ "$cw $ch" = "$size" ] || fail "about box client $cw x $ch, laid out for $size"
}

# --- the accelerators reach no handler and change nothing ------------------
case_accelerators() {
  open_main_window 1024x768 "204 76 408 342"
  send_report JA1AAA
  cp "$MAP" "$SCRATCH/before.mps"
  local key
  for key in ctrl+n ctrl+o ctrl+s ctrl+z ctrl+x ctrl+c ctrl+v alt+BackSpace shift+Delete \
    ctrl+Insert shift+Insert F6 shift+F6; do
    press "$MAIN" "$key"
  done
  wait_for "13 unhandled commands" trace_count 'command .* unhandled' 13
  local seen
  seen=$(trace_lines 'command ' | tr '\n' ' ')
  [ "$seen" = "command ID_FILE_NEW unhandled command ID_FILE_OPEN unhandled command ID_FILE_SAVE unhandled command ID_EDIT_UNDO unhandled command ID_EDIT_CUT unhandled command ID_EDIT_COPY unhandled command ID_EDIT_PASTE unhandled command ID_EDIT_UNDO unhandled command ID_EDIT_CUT unhandled command ID_EDIT_COPY unhandled command ID_EDIT_PASTE unhandled command ID_NEXT_PANE unhandled command ID_PREV_PANE unhandled " ] ||
    fail "commands: $seen"
  expect_alive
  [ "$(rigplot_windows | wc -l)" = 1 ] || fail "a window opened"
  cmp -s "$MAP" "$SCRATCH/before.mps" || fail "the map script changed"
  ! trace_has "table cleared" || fail "the table was cleared"
  # The worker still runs and the table still holds the first station.
  send_report JA1BBB
  [ "$(map_points | tr '\n' ' ')" = "1 JA1AAA 2 JA1BBB " ] || fail "after: $(map_points)"
  close_window "$MAIN"
  expect_exit 0
  expect_clean_stderr
}

# --- closing: Alt+F4 and the close box; status 0, the map script kept ------
case_close() {
  open_main_window 1024x768 "204 76 408 342"
  send_report JA1AAA
  case $ARG in
    alt-f4) press "$MAIN" alt+F4 ;;
    close-box) click_close_box "$MAIN" ;;
    *) fail "no way to close called '$ARG'" ;;
  esac
  expect_exit 0
  trace_has "view OnDestroy: stopped after 1 reports" || fail "no stop sequence"
  [ "$(map_points)" = "1 JA1AAA" ] || fail "map script after exit: $(map_points)"
  expect_clean_stderr
}

# --- start-up failures: only the message box, then status 1 ----------------
case_startup_failure() {
  start_display 1024x768
  case $ARG in
    missing-ini) ;;
    bad-port) echo "ttyNOPE0 9600" >"$WORK/RIGPLOT.ini" ;;
    *) fail "no failure called '$ARG'" ;;
  esac
  start_rigplot
  # The message box has an empty caption and no owner.
  local box
  box=$(wait_window "")
  [ "$(rigplot_windows | wc -l)" = 1 ] || fail "more than the message box is visible"
  if xprop -id "$box" WM_TRANSIENT_FOR | grep -q 'window id'; then
    fail "the message box has an owner"
  fi
  shot message-box
  ! trace_has "worker started" || fail "the worker started"
  press "$box" Return
  expect_exit 1
  ! grep -q 'frame shown' "$SCRATCH/rigplot.err" || fail "the main window was shown"
  [ ! -e "$MAP" ] || fail "a map script was written"
  if [ "$ARG" = bad-port ]; then
    grep -q 'cannot open /dev/ttyNOPE0' "$SCRATCH/rigplot.err" || fail "no reason on stderr"
  fi
  expect_clean_stderr
}

"case_${CASE//-/_}"
log "PASS $CASE $ARG"
