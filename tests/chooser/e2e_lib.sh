# Sourced by the chooser's end-to-end scripts: a private Wine prefix and
# display (tests/wine/wine_env.sh) with the suite laid out in it, the driver
# program beside it, and helpers that start the chooser, drive it and check
# what came out. Every wait is bounded; only processes started here are
# ended, by PID.
#
#   . e2e_lib.sh SOURCE_DIR BUILD_DIR
#   e2e_setup [DISPLAY_TEXT_FILE]
#   chooser_start; driver startup; driver close yes; chooser_expect_exit 0
#   e2e_finish        # prints the tally; the script's exit status

e2e_source=$1
e2e_build=$2
. "$e2e_source/tests/wine/wine_env.sh"

e2e_failures=0
e2e_checks=0
e2e_artifacts="$e2e_build/artifacts"
chooser_pid=""
chooser_exe='C:\trelvane\program\model_chooser.exe'

e2e_ok() { e2e_checks=$((e2e_checks + 1)); echo "ok: $*"; }
e2e_fail() {
  e2e_checks=$((e2e_checks + 1))
  e2e_failures=$((e2e_failures + 1))
  echo "FAIL: $*" | tee -a "$e2e_failure_log"
}
# Every FAIL line, the driver's too, to be repeated at the end, where a
# shortened log still shows them.
e2e_failure_log=$(mktemp)

# e2e_expect WHAT EXPECTED GOT
e2e_expect() {
  if [ "$2" = "$3" ]; then e2e_ok "$1 is \"$3\""; else e2e_fail "$1: expected \"$2\", got \"$3\""; fi
}

# Makes the prefix, lays out the suite (with the given display text file,
# or the demo's) and starts the first programs once, which is slow in a
# fresh prefix.
e2e_setup() {
  wine_env_start || exit 1
  mkdir -p "$e2e_artifacts"
  bash "$e2e_source/demo/install_layout.sh" "$DRIVE_C" "$e2e_build" "$@" || exit 1
  cp "$e2e_build/tests/chooser/chooser_driver.exe" "$DRIVE_C/chooser_driver.exe"
  # The model stand-in logs each start here and exits (see demo/).
  export TREL_STAND_IN_LOG='C:\trelvane\tep\started.txt'
  stand_in_log="$DRIVE_C/trelvane/tep/started.txt"
  wine_run_bounded 120 "$DRIVE_C/chooser_driver.exe" >/dev/null 2>&1 || true
}

# Runs the driver with a time limit; its lines go to the output, and its
# FAIL lines count.
driver() {
  local out status
  out=$(wine_run_bounded 90 "$DRIVE_C/chooser_driver.exe" "$@" 2>&1)
  status=$?
  printf '%s\n' "$out" | tr -d '\r' | tee -a "$e2e_driver_log"
  printf '%s\n' "$out" | tr -d '\r' | grep '^FAIL' >>"$e2e_failure_log"
  e2e_checks=$((e2e_checks + $(printf '%s\n' "$out" | grep -c '^ok:')))
  if [ "$status" -ne 0 ]; then
    e2e_failures=$((e2e_failures + 1))
    echo "FAIL: driver $1 exited with status $status" | tee -a "$e2e_failure_log"
  fi
  return "$status"
}
e2e_driver_log=$(mktemp)

# A value the last driver runs printed as "NAME value...".
driver_value() { tr -d '\r' <"$e2e_driver_log" | sed -n "s/^$1 //p" | tail -1; }

# chooser_start NAME [start /wait]: with "start /wait" the chooser gets a
# console of its own, and the status is still its own. The time limit runs
# as the background job itself, not inside a function's subshell, so that
# chooser_pid is its process and ending that ends the chooser too.
chooser_start() {
  local name=$1
  shift
  timeout --kill-after=5 120 wine "$@" "$chooser_exe" >"$e2e_artifacts/chooser-$name.log" 2>&1 &
  chooser_pid=$!
  : >"$e2e_driver_log" # values read from now on are this chooser's
}

# Waits (bounded) for the chooser to end and checks its exit status; a
# chooser still running is ended by its PID.
chooser_expect_exit() {
  local expected=$1 limit=${2:-30} i status
  for ((i = 0; i < limit * 10; i++)); do
    kill -0 "$chooser_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$chooser_pid" 2>/dev/null; then
    e2e_fail "chooser still running ${limit} s after it should have ended"
    driver list # what it shows instead
    kill "$chooser_pid" 2>/dev/null
  fi
  wait "$chooser_pid"
  status=$?
  chooser_pid=""
  e2e_expect "chooser exit status" "$expected" "$status"
}

# Waits (bounded) until a visible X window has exactly this name.
wait_visible_x_window() {
  local i
  for ((i = 0; i < 200; i++)); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Saves the screen's top-left 700 x 450 pixels (where the chooser lies).
screenshot() {
  import -display "$DISPLAY" -window root -crop 700x450+0+0 +repage "$e2e_artifacts/$1.png"
  echo "screenshot: $e2e_artifacts/$1.png"
}

# The bounding box "left top right bottom" (inclusive, in the picture's
# coordinates) of the dark pixels in a region "WxH+X+Y" of a picture, or
# "none" when there are none.
dark_box() {
  local geometry
  geometry=$(convert "$1" -crop "$2" +repage -colorspace Gray -threshold 50% \
    -bordercolor white -border 1 -format '%@' info: 2>/dev/null)
  local x0 y0
  x0=${2#*+}; y0=${x0#*+}; x0=${x0%%+*}
  if [[ ! $geometry =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || [ "${BASH_REMATCH[1]}" -eq 0 ] ||
    [ "${BASH_REMATCH[1]}" -ge "$(( ${2%%x*} + 2 ))" ]; then
    echo none
    return
  fi
  local w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
  echo "$((x0 + x - 1)) $((y0 + y - 1)) $((x0 + x + w - 2)) $((y0 + y + h - 2))"
}

e2e_finish() {
  if [ -n "$chooser_pid" ]; then
    kill "$chooser_pid" 2>/dev/null
    wait "$chooser_pid" 2>/dev/null
  fi
  rm -f "$e2e_driver_log"
  if [ -s "$e2e_failure_log" ]; then
    echo "== the failures, in order"
    cat "$e2e_failure_log"
  fi
  rm -f "$e2e_failure_log"
  echo "$((e2e_checks - e2e_failures)) passed, $e2e_failures failed"
  [ "$e2e_failures" -eq 0 ]
}
