#!/usr/bin/env bash
# End-to-end test of the demo's whole road under Wine and Xvfb: the chooser
# starts model 2, whose stand-in holds its dialogue in a console window of
# its own. Enter runs file_picker (its Open dialog driven by the dialog
# driver); the console shows the picked file and its first lines; typed
# selection texts show the chosen columns or why a text was refused; bye
# goes back to the data file question and END ends the dialogue. What is
# typed goes in as real key events into the console window.
# Usage: e2e_demo_road.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
. "$1/tests/chooser/e2e_lib.sh" "$1" "$2"
e2e_setup
cp "$e2e_build/tests/picker/picker_dialog_driver.exe" "$DRIVE_C/"
# Outside the chooser tests' quiet mode the stand-in holds its dialogue.
unset TREL_STAND_IN_LOG
model=ROSKA_mid_16.exe

q_file="Press Enter to choose a data file (END or bye ends):"
q_columns="Columns to use, such as 1~3,5 (bye goes back, END ends):"

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
expect_console_line() {
  if last_console | grep -qxF -- "$1"; then
    e2e_ok "the console shows \"$1\""
  else
    e2e_fail "the console does not show \"$1\""
  fi
}

echo "== the chooser starts model 2; its console opens at the data file question"
chooser_start road
driver choose "2" "     2" "2.The non-linear model based on trelvane corrected ? " yes
chooser_expect_exit 0
# Without the console the rest can only wait in vain.
driver console-prompt "$model" "$q_file" || { e2e_finish; exit; }
# The header on a cleared screen, placed at column 2 of rows 1 and 2.
e2e_expect "console rows 0 to 4" \
  "$(printf '\n  %s\n  %s\n\n%s' "trelvane demo: model program stand-in" \
    "2.The non-linear model based on trelvane" "$q_file")" \
  "$(last_console)"

echo "== Enter runs file_picker; the console shows the picked file"
answer "$q_file" ""
if wine_run_bounded 60 "$DRIVE_C/picker_dialog_driver.exe" choose 'C:\trelvane\demo\survey.csv'; then
  e2e_ok "the Open dialog took C:\\trelvane\\demo\\survey.csv"
else
  e2e_fail "the dialog driver could not choose the data file"
fi
driver console-prompt "$model" "$q_columns" || { e2e_finish; exit; }
expect_console_line 'Data file: C:\trelvane\demo\survey.csv'
expect_console_line "  | region,year,rainfall_mm,yield_t_ha,price_per_t"
expect_console_line "  | South,2020,701,3.9,185"
expect_console_line "Its first line names 5 columns."

echo "== selection texts: a range past the last column, then columns 1, 3 and 4"
answer "$q_columns" "3~9"
driver console-text "$model" "Refused: a range is first~last with last from 1 to 5; no doubled \",\" or \"~\"."
answer "$q_columns" "1, 3~4"
driver console-text "$model" "  4  yield_t_ha"
expect_console_line "Chosen columns (3):"
expect_console_line "  1  region"
expect_console_line "  3  rainfall_mm"
sleep 0.5
screenshot demo-road-columns

echo "== bye goes back to the data file question, END ends the dialogue"
answer "$q_columns" "bye"
driver console-prompt "$model" "$q_file"
answer "$q_file" "END"
console_shown() { xwininfo -display "$DISPLAY" -id "$1" 2>/dev/null | grep -q IsViewable; }
xid=$(driver_value console-x11-window)
for ((i = 0; i < 100; i++)); do console_shown "$xid" || break; sleep 0.1; done
if console_shown "$xid"; then
  e2e_fail "the model's console window is still open 10 s after END"
else
  e2e_ok "the model's console window closed after END"
fi

e2e_finish
