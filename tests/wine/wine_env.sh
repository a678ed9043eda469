# Sourced by the end-to-end test scripts: a private Wine prefix on a private
# Xvfb display, both removed when the script exits. Only processes started
# here are ended: our Xvfb by PID, and the wineserver of our own prefix.
#
#   . tests/wine/wine_env.sh
#   wine_env_start            # sets WINEPREFIX, DISPLAY, DRIVE_C
#   wine_run_bounded 30 prog.exe args...   # runs with a time limit
#
# Set WINE_ENV_KEEP=1 to keep the prefix for inspection.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export LC_ALL=C.UTF-8

wine_env_xvfb_pid=""

wine_env_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    WINEPREFIX="$WINEPREFIX" timeout 20 wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$WINEPREFIX" timeout 20 wineserver -w >/dev/null 2>&1 || true
    if [ "${WINE_ENV_KEEP:-0}" != 1 ]; then
      rm -rf "$WINEPREFIX"
    else
      echo "wine_env: kept prefix $WINEPREFIX" >&2
    fi
  fi
  if [ -n "$wine_env_xvfb_pid" ]; then
    kill "$wine_env_xvfb_pid" 2>/dev/null || true
    wait "$wine_env_xvfb_pid" 2>/dev/null || true
    wine_env_xvfb_pid=""
  fi
}

# Starts Xvfb on a free display number (the server picks it and tells us).
wine_env_start_xvfb() {
  local fifo dir
  dir=$(mktemp -d)
  fifo="$dir/displayfd"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  wine_env_xvfb_pid=$!
  local num=""
  read -r -t 20 num <"$fifo" || true
  rm -rf "$dir"
  if [ -z "$num" ]; then
    echo "wine_env: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$num"
}

# Wine's own fonts (fonts-wine) lie outside the prefix, where this Wine does
# not look by itself: names their folder in the prefix, so that captions get
# their buttons (Marlett) and controls their usual faces.
wine_env_use_wine_fonts() {
  timeout 60 wine reg add 'HKCU\Software\Wine\Fonts' /v Path /t REG_SZ /d 'Z:\usr\share\wine\fonts' /f >/dev/null 2>&1
}

# Makes a fresh prefix with unmanaged windows: Wine places and draws every
# window itself, as a Windows user would see it, with no window manager,
# and draws with Wine's own fonts.
wine_env_make_prefix() {
  export WINEPREFIX
  local attempt boot_log
  boot_log=$(mktemp)
  # A first boot has been seen to fail at once, seldom, with no fault of
  # ours: say what it printed and boot once more in another fresh prefix.
  for attempt in 1 2; do
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/trel-wine.XXXXXX")
    timeout 180 wineboot -i >"$boot_log" 2>&1 && break
    echo "wine_env: wineboot failed (attempt $attempt):" >&2
    tail -n 5 "$boot_log" >&2
    timeout 20 wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
    WINEPREFIX=""
  done
  rm -f "$boot_log"
  [ -n "$WINEPREFIX" ] || return 1
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wine_env_use_wine_fonts
  timeout 60 wineserver -w
  export DRIVE_C="$WINEPREFIX/drive_c"
}

wine_env_start() {
  trap wine_env_cleanup EXIT
  wine_env_start_xvfb || return 1
  wine_env_make_prefix || return 1
}

# Runs a Windows program with a time limit; the exit status is the program's
# (124 when the limit was reached).
wine_run_bounded() {
  local limit=$1; shift
  timeout --kill-after=5 "$limit" wine "$@"
}
