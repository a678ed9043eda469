#!/usr/bin/env bash
# End-to-end test of the demo's whole road under Wine and Xvfb, with the
# real linear model program: the chooser starts model 1, which holds its
# dialogue in a console window of its own. Enter runs file_picker (its Open
# dialog driven by the dialog driver); the console shows the picked file,
# its first lines and its numbered columns; typed answers choose the
# response and the predictors (a selection past the last column is
# refused); the report appears with its coefficients; END ends the
# dialogue. What is typed goes in as real key events into the console
# window.
# Usage: e2e_demo_road.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
. "$1/tests/chooser/e2e_lib.sh" "$1" "$2"
e2e_setup
# The model programs the build makes replace the stand-in at their paths.
bash "$e2e_source/demo/install_layout.sh" --models-only --real-models "$DRIVE_C" "$e2e_build" || exit 1
cp "$e2e_build/tests/picker/picker_dialog_driver.exe" "$DRIVE_C/"
unset TREL_STAND_IN_LOG
model=ROSKA_mid_15.exe

q_file="Press Enter to choose a data file (END ends):"
q_response="Response column, a number or a name:"
q_predictors="Predictor columns, such as 2~4,6 (Enter: every other column):"
q_next="P shows the plot, Enter fits another model, bye goes back, END ends:"

# Answers the question the console asks (the last driver run found its
# window) with real key events. The window is focused first: with no window
# manager, the X focus falls to the root window when the Open dialog closes.
# Now and then Wine then takes no keys until the window is clicked, as a user
# would: when the text does not show after the question, click and type again.
# A text that never shows ends the test: the dialogue cannot go on.
answer() {
  local xid try
  xid=$(driver_value console-x11-window)
  for try in 1 2 3 4; do
    if [ "$try" = 4 ]; then
      e2e_fail "\"$2\" typed three times did not show after the question"
      e2e_finish
      exit
    fi
    if [ "$try" -gt 1 ]; then
      echo "answer: \"$2\" did not show; clicking the console"
      xdotool mousemove --window "$xid" 300 200 click 1
    fi
    xdotool windowfocus "$xid" && sleep 0.2
    [ -n "$2" ] || break
    xdotool type --delay 30 "$2"
    wine_run_bounded 30 "$DRIVE_C/chooser_driver.exe" console-prompt "$model" "$1 $2" \
      >/dev/null 2>&1 && break
  done
  xdotool key Return
}
# The console's lines the last driver run printed (its last block of them).
last_console() {
  tr -d '\r' <"$e2e_driver_log" |
    awk '/^console\| / { if (!inside) text = ""; inside = 1; text = text substr($0, 10) "\n"; next }
         { inside = 0 } END { printf "%s", text }'
}
# expect_console_line LINE [-E]: a whole line, or with -E a line matching
# the extended regular expression.
expect_console_line() {
  local how=-xF
  [ "${2:-}" != -E ] || how=-E
  if last_console | grep -q "$how" -- "$1"; then
    e2e_ok "the console shows \"$1\""
  else
    e2e_fail "the console does not show \"$1\""
  fi
}

echo "== the chooser starts model 1; its console opens at the data file question"
chooser_start road
driver choose "1" "     1" "1.The simple linear model based on trelvane corrected ? " yes
chooser_expect_exit 0
# Without the console the rest can only wait in vain.
driver console-prompt "$model" "$q_file" || { e2e_finish; exit; }
e2e_expect "console rows 0 to 4" \
  "$(printf '\n  %s\n  %s\n\n%s' "trelvane linear model (ROSKA_mid_15)" \
    "1.The simple linear model based on trelvane" "$q_file")" \
  "$(last_console)"

echo "== Enter runs file_picker; the console shows the picked file and its columns"
answer "$q_file" ""
if wine_run_bounded 60 "$DRIVE_C/picker_dialog_driver.exe" choose 'C:\trelvane\demo\fuel.csv'; then
  e2e_ok "the Open dialog took C:\\trelvane\\demo\\fuel.csv"
else
  e2e_fail "the dialog driver could not choose the data file"
fi
driver console-prompt "$model" "$q_response" || { e2e_finish; exit; }
expect_console_line 'Data file: C:\trelvane\demo\fuel.csv'
expect_console_line "  fuel_l_100km,weight_kg,engine_l,power_kw,speed_kmh"
expect_console_line "  8.15,1591,2.4,128,100"
expect_console_line "Columns:  1 fuel_l_100km  2 weight_kg  3 engine_l  4 power_kw  5 speed_kmh"

echo "== the response by name; predictors past the last column refused, then 2~3,5"
answer "$q_response" "fuel_l_100km"
driver console-prompt "$model" "$q_predictors" || { e2e_finish; exit; }
answer "$q_predictors" "2~9"
driver console-text "$model" "Refused: "
expect_console_line '^Refused: "2~9" is not a selection of column numbers' -E
driver console-prompt "$model" "$q_predictors"
answer "$q_predictors" "2~3,5"
driver console-prompt "$model" "$q_next" || { e2e_finish; exit; }
expect_console_line '^Linear model \(ROSKA_mid_15\)' -E
expect_console_line '^ *weight_kg +[-0-9.e]+ ' -E
expect_console_line '^ *speed_kmh +[-0-9.e]+ ' -E
if last_console | grep -qE '^ *power_kw '; then
  e2e_fail "the report holds power_kw, which was not chosen"
else
  e2e_ok "the report holds no power_kw, which was not chosen"
fi
sleep 0.5
screenshot demo-road-report

echo "== END ends the dialogue and closes the console"
answer "$q_next" "END"
console_shown() { xwininfo -display "$DISPLAY" -id "$1" 2>/dev/null | grep -q IsViewable; }
xid=$(driver_value console-x11-window)
for ((i = 0; i < 100; i++)); do console_shown "$xid" || break; sleep 0.1; done
if console_shown "$xid"; then
  e2e_fail "the model's console window is still open 10 s after END"
else
  e2e_ok "the model's console window closed after END"
fi

e2e_finish
