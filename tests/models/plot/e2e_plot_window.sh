#!/bin/bash
# The plot window and the SVG file under Wine: the SVG replaces an existing
# file and a failure says why; the window shows, is closed by Escape and by
# Alt+F4 (the close command), and can be shown again in the same process.
#
#   e2e_plot_window.sh SOURCE_DIR DEMO_EXE [SCREENSHOT_DIR]
set -u
source_dir=$1
demo_exe=$2
shots=${3:-}
. "$source_dir/tests/wine/wine_env.sh"
wine_env_start || exit 1

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

demo="$DRIVE_C/plot_window_demo.exe"
cp "$demo_exe" "$demo" || exit 1

# SVG: written, written again over itself, refused for a missing folder.
for round in 1 2; do
    wine_run_bounded 60 "$demo" svg curve 'C:\fit.svg' >/dev/null || fail "svg round $round"
done
grep -q '</svg>' "$DRIVE_C/fit.svg" || fail "fit.svg is not a whole document"
[ ! -e "$DRIVE_C/fit.svg.partial" ] || fail "a temporary file was left"
out=$(wine_run_bounded 60 "$demo" svg curve 'C:\missing\fit.svg')
status=$?
[ "$status" = 1 ] && [[ "$out" == *"cannot write C:\\missing\\fit.svg"* ]] ||
    fail "missing folder: status $status, output '$out'"
[ -n "$shots" ] && cp "$DRIVE_C/fit.svg" "$shots/plot_curve_wine.svg"

# Waits up to 30 s for the visible plot window; prints its X window id.
wait_window() {
    local id=""
    for _ in $(seq 60); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$id" ] && break
        sleep 0.5
    done
    echo "$id"
}

wait_output() {
    for _ in $(seq 40); do
        grep -q "$1" "$2" && return 0
        sleep 0.25
    done
    return 1
}

# The window, twice in one process: closed by Escape, then by Alt+F4.
for kind in linear curve several many; do
    log=$(mktemp)
    title="trelvane plot: linear model"
    [ "$kind" = curve ] && title="trelvane plot: non-linear model"
    wine_run_bounded 90 "$demo" show "$kind" 2 >"$log" 2>&1 &
    pid=$!
    for k in 1 2; do
        id=$(wait_window "$title")
        if [ -z "$id" ]; then
            fail "$kind: window $k did not show"
            break
        fi
        sleep 1
        [ -n "$shots" ] && [ "$k" = 1 ] && import -window "$id" "$shots/plot_window_$kind.png"
        xdotool windowfocus "$id"
        if [ "$k" = 1 ]; then xdotool key Escape; else xdotool key alt+F4; fi
        wait_output "closed $k" "$log" || fail "$kind: window $k did not close"
    done
    wait "$pid" || fail "$kind: demo exit status $?"
    rm -f "$log"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all passed"
