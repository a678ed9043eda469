#!/usr/bin/env bash
# End-to-end test of model_chooser under Wine and Xvfb, in one private prefix:
# start-up (window, controls, icon, a suite-titled window of another process
# hidden), invalid entries, "choosing", commands that are no click, the close
# question, a missing model program, a typical choice through No and Yes to
# the started model, and the same by keyboard alone (real X key events).
# Usage: e2e_chooser.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh" "$1" "$2"
e2e_setup

q1="1.The simple linear model based on trelvane corrected ? "
q3="3.The curve-linear model based on trelvane corrected ? "
q5="5.The best non-linear model based on trelvane corrected ? "

# Waits (bounded) for the stand-in's log: model 3 alone was started.
expect_started_model_3() {
  for ((i = 0; i < 100; i++)); do
    [ -s "$stand_in_log" ] && break
    sleep 0.1
  done
  e2e_expect "programs started" "started c:\\trelvane\\program\\ROSKA_mid_17.exe|" \
    "$(tr -d '\r' <"$stand_in_log" 2>/dev/null)"
}

echo "== start-up, with a window titled \" Kestrane Co., \" of another process"
wine_run_bounded 60 "$DRIVE_C/chooser_driver.exe" hold " Kestrane Co., " 50 >/dev/null 2>&1 &
holder_pid=$!
if wait_visible_x_window " Kestrane Co., "; then
  e2e_ok "a window \" Kestrane Co., \" of another process is shown"
else
  e2e_fail "the other process's window \" Kestrane Co., \" did not show within 20 s"
fi
chooser_start main
driver startup
driver hidden " Kestrane Co., "
wait "$holder_pid"
sleep 0.5
screenshot chooser-start

echo "== the big icon: 256 x 256 from the icon file, in its own colours"
xid=$(driver_value x11-window)
icon=$(xprop -display "$DISPLAY" -id "$xid" -notype -f _NET_WM_ICON 32c '=$0+\n' _NET_WM_ICON 2>&1 |
  sed -n 's/^_NET_WM_ICON=//p' | tr -d ' ')
# ARGB values, row by row after width and height: the background is blue,
# the bars light grey, the rising line amber (red and blue swapped would
# show here).
pixel() { printf '%s' "$icon" | cut -d, -f"$((3 + $2 * 256 + $1))"; }
e2e_expect "icon size" "256,256" "$(printf '%s' "$icon" | cut -d, -f1-2)"
e2e_expect "icon pixel (128,120), the line" "$((0xFFFFB000))" "$(pixel 128 120)"
e2e_expect "icon pixel (40,100), the background" "$((0xFF1F4E79))" "$(pixel 40 100)"
e2e_expect "icon pixel (128,190), a bar" "$((0xFFF2F2F2))" "$(pixel 128 190)"
# The caption shows it too (scaled down from the big icon, as no small one is set).
caption_blue=$(convert "$e2e_artifacts/chooser-start.png" -crop 20x20+0+0 txt:- | grep -ci '#1F4E79')
if [ "$caption_blue" -ge 40 ]; then
  e2e_ok "the caption shows the icon ($caption_blue of its blue pixels)"
else
  e2e_fail "caption icon: expected at least 40 pixels of #1F4E79, got $caption_blue"
fi

echo "== invalid entries: no question, the field tidied, a fresh option"
driver choose "9" "     9" - no
driver choose "abc" "     0" - no
driver choose "" "" - no
driver choose "-1" "    -1" - no
driver choose "1234567" "1234567" - no

echo "== \"choosing\", commands that are no click, the close question"
driver cut
driver not-clicks
driver close no

echo "== a missing model program: Yes gives the report, and the chooser stays"
rm "$DRIVE_C/trelvane/program/ROSKA_mid_15.exe"
driver choose "1" "     1" "$q1" yes \
  $'The model program could not be started:\nc:\\trelvane\\program\\ROSKA_mid_15.exe\n\nFile not found.'

echo "== the typical choice: No, then the same question again, then Yes"
driver choose "3" "     3" "$q3" no
driver choose "     3" "     3" "$q3" yes
chooser_expect_exit 0
# The one program started, at its path, without parameters.
expect_started_model_3

echo "== by keyboard: type, Enter, No, type again, Tab, Space, Alt+F4, a click, Enter, Yes"
rm -f "$stand_in_log"
chooser_start keys
driver startup # the focus is in the field from the start
keys_xid=$(driver_value x11-window)
keys() { xdotool windowfocus "$keys_xid" && xdotool "$@"; }
keys type 3
driver focus field "3" -
keys key Return
driver answer "$q3" no
driver focus field "     3" all
keys type 9
driver focus field "9" -
keys key Return # an invalid number: no question, a fresh option
driver focus field "     9" all
keys type 5
for step in "Tab option" "Tab choosing" "Tab field" "shift+Tab choosing" "shift+Tab option"; do
  keys key "${step% *}"
  driver focus "${step#* }" "5" -
done
keys key space
driver answer "$q5" no
driver focus field "     5" all
keys type 12345
keys key shift+Tab space # "choosing", not the option: nothing asked, nothing tidied
driver focus choosing "12345" -
keys key alt+F4
driver answer " The program is closed!" no
keys key Tab
driver focus field "12345" all
keys type 3
read -r ox oy <<<"$(driver_value client-origin)"
xdotool mousemove $((ox + 432)) $((oy + 292)) click 1 # the mouse still works
driver answer "$q3" no
driver focus field "     3" all
keys key Return
driver answer "$q3" yes
chooser_expect_exit 0
expect_started_model_3

echo "== with a console of its own (as when opened from the desktop): it is hidden"
echo "== closing with Yes ends the chooser with status 0 and starts nothing"
rm -f "$stand_in_log"
chooser_start close start /wait
driver console-hidden "$chooser_exe"
driver close yes
chooser_expect_exit 0
sleep 0.5
e2e_expect "programs started" "" "$(cat "$stand_in_log" 2>/dev/null)"

e2e_finish
