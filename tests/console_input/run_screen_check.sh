#!/usr/bin/env bash
# Runs the screen-helper check under Wine on its own Xvfb display (a console
# needs one), with standard output redirected to a file, and checks what it
# reported there.
#   run_screen_check.sh <screen_check.exe>
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/wine_env.sh"
wine_env_start

out="$WINEPREFIX/screen_check.out"
status=0
wine_run_bounded 120 "$exe" >"$out" 2>/dev/null </dev/null || status=$?
report=$(tr -d '\r' <"$out")
printf '%s\n' "$report"

fail() { echo "FAIL: $*"; exit 1; }
[ "$status" -eq 0 ] || fail "screen_check exited with $status, expected 0"
# gotoXY and ClearConsole wrote nothing between these two lines of the file.
after=$(printf '%s\n' "$report" | grep -x -A1 'redirected: before' | sed -n 2p)
[ "$after" = "redirected: after" ] || fail "expected 'redirected: after' right after 'redirected: before', got '$after'"
[ "$(printf '%s\n' "$report" | tail -n 1)" = "all screen checks passed" ] || fail "no final pass line"
echo "ok: screen helpers"
