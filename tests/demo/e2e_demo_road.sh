#!/usr/bin/env bash
# End-to-end test of the demo's whole road under Wine and Xvfb, with the
# real model programs: the chooser starts a model, which holds its dialogue
# in a console window of its own (at least 100 columns wide). Enter runs
# file_picker (its Open dialog driven by the dialog driver); the console
# shows the picked file, its first lines and its numbered columns. Model 1
# goes the long road: refusals at the question that caused them (no
# response, a range written with "-", a column past the last, the response
# among the predictors), the report, S saving the fitted values beside the
# data, Enter asking again with the answers given, "FILE" for a new file
# whose text column is categorical, fitted by a formula, "end" in any case.
# Models 2 to 6 each go one road to their report (and, for the best models,
# the table of candidates after it). What is typed goes in as real key events into the console window;
# a screenshot of each console is kept.
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
# Models 1 and 4's question also takes a formula; the answer is typed on its second line.
q_formula_predictors="weight ~ group + log(dose) (Enter: every other column):"
q_predictor="Predictor column (Enter: the first other column):"
q_next="P plots, S saves fitted values, N predicts, Enter asks again, file, END ends:"

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

# pick FILE: the Open dialog takes C:\trelvane\demo\FILE.
pick() {
  if wine_run_bounded 60 "$DRIVE_C/picker_dialog_driver.exe" choose "C:\\trelvane\\demo\\$1"; then
    e2e_ok "the Open dialog took C:\\trelvane\\demo\\$1"
  else
    e2e_fail "the dialog driver could not choose $1"
  fi
}
# refused QUESTION ANSWER TEXT: the answer is refused with TEXT (the start of
# a console line), and the question comes again.
# An empty answer shows nothing to check before Enter: when its refusal does
# not come, Enter went to no window (the focus lost as the Open dialog
# closed), so the console is clicked and Enter pressed again, once.
refused() {
  local xid
  answer "$1" "$2"
  if [ -z "$2" ] &&
    ! wine_run_bounded 30 "$DRIVE_C/chooser_driver.exe" console-text "$model" "$3" >/dev/null 2>&1; then
    echo "answer: Enter brought no refusal; clicking the console"
    xid=$(driver_value console-x11-window)
    xdotool mousemove --window "$xid" 300 200 click 1
    xdotool windowfocus "$xid" && sleep 0.2
    xdotool key Return
  fi
  driver console-text "$model" "$3" || return
  expect_console_line "^$(printf '%s' "$3" | sed 's/[][\\.*^$(){}?+|]/\\&/g')" -E
  driver console-prompt "$model" "$1"
}
# The whole console window, as a user sees it.
console_screenshot() {
  local xid
  xid=$(driver_value console-x11-window)
  import -display "$DISPLAY" -window "$xid" "$e2e_artifacts/$1.png" 2>/dev/null ||
    import -display "$DISPLAY" -window root "$e2e_artifacts/$1.png"
  echo "screenshot: $e2e_artifacts/$1.png"
}
console_shown() { xwininfo -display "$DISPLAY" -id "$1" 2>/dev/null | grep -q IsViewable; }
# end_with QUESTION WORD: the word ends the dialogue, and the console closes.
end_with() {
  local xid i
  answer "$1" "$2"
  xid=$(driver_value console-x11-window)
  for ((i = 0; i < 100; i++)); do console_shown "$xid" || break; sleep 0.1; done
  if console_shown "$xid"; then
    e2e_fail "the console of $model is still open 10 s after \"$2\""
  else
    e2e_ok "the console of $model closed after \"$2\""
  fi
}

echo "== the chooser starts model 1; its console opens at the data file question"
chooser_start road
driver choose "1" "     1" "1.The simple linear model based on trelvane corrected ? " yes
chooser_expect_exit 0
# Without the console the rest can only wait in vain.
driver console-prompt "$model" "$q_file" || { e2e_finish; exit; }
e2e_expect "console rows 0 to 6" \
  "$(printf '\n  %s\n  %s\n\n%s\n\n%s' "trelvane linear model (ROSKA_mid_15)" \
    "1.The simple linear model based on trelvane" \
    "Type bye to go back a question, file for a new data file, END to end." "$q_file")" \
  "$(last_console | head -n 7)"

echo "== Enter runs file_picker; the console shows the picked file and its columns"
answer "$q_file" ""
pick fuel.csv
driver console-prompt "$model" "$q_response" || { e2e_finish; exit; }
expect_console_line 'Data file: C:\trelvane\demo\fuel.csv'
expect_console_line "  fuel_l_100km,weight_kg,engine_l,power_kw,speed_kmh"
expect_console_line "  8.15,1591,2.4,128,100"
expect_console_line "Columns:  1 fuel_l_100km  2 weight_kg  3 engine_l  4 power_kw  5 speed_kmh"

echo "== refusals at the question that caused them, then the response and 2~3,5"
refused "$q_response" "" "Refused: the response is needed: type its column's number or name"
answer "$q_response" "fuel_l_100km"
driver console-prompt "$model" "$q_formula_predictors" || { e2e_finish; exit; }
refused "$q_formula_predictors" "2-4" "Refused: ranges use ~, as in 2~4"
refused "$q_formula_predictors" "2~9" "Refused: there is no column 9: the columns are numbered 1 to 5"
refused "$q_formula_predictors" "1" \
  'Refused: column 1 ("fuel_l_100km") is the response: the predictors are among the other columns'
answer "$q_formula_predictors" "2~3,5"
driver console-prompt "$model" "$q_next" || { e2e_finish; exit; }
expect_console_line '^Linear model \(ROSKA_mid_15\)' -E
expect_console_line '^ *weight_kg +[-0-9.e]+ ' -E
expect_console_line '^ *speed_kmh +[-0-9.e]+ ' -E
if last_console | grep -qE '^ *power_kw '; then
  e2e_fail "the report holds power_kw, which was not chosen"
else
  e2e_ok "the report holds no power_kw, which was not chosen"
fi
if last_console | grep -q 'reading the data'; then
  e2e_fail "a progress line stayed on the console"
else
  e2e_ok "no progress line stayed on the console"
fi
sleep 0.5
screenshot demo-road-report
console_screenshot road-model-1-report

echo "== S saves the fitted values beside the data (Enter takes that name)"
answer "$q_next" "S"
q_save='Save the fitted values as (Enter: C:\trelvane\demo\fuel-fitted.csv):'
driver console-prompt "$model" "$q_save" || { e2e_finish; exit; }
answer "$q_save" ""
driver console-prompt "$model" "$q_next" || { e2e_finish; exit; }
expect_console_line \
  '^Fitted values and influence of [0-9]+ rows saved to C:\\trelvane\\demo\\fuel-fitted\.csv\.$' -E
if [ -s "$DRIVE_C/trelvane/demo/fuel-fitted.csv" ]; then
  e2e_ok "fuel-fitted.csv was written beside fuel.csv"
else
  e2e_fail "fuel-fitted.csv is not beside fuel.csv"
fi

echo "== Enter asks again, offering the answers given; FILE starts over with a new file"
answer "$q_next" ""
q_again="Response column, a number or a name (Enter: fuel_l_100km):"
driver console-prompt "$model" "$q_again" || { e2e_finish; exit; }
answer "$q_again" ""
q_again="weight ~ group + log(dose) (Enter: 2~3,5):"
driver console-prompt "$model" "$q_again" || { e2e_finish; exit; }
answer "$q_again" "FILE"
pick survey.csv
driver console-prompt "$model" "$q_response" || { e2e_finish; exit; }
expect_console_line \
  "Columns:  1 region (text: categorical)  2 year  3 rainfall_mm  4 yield_t_ha  5 price_per_t"
refused "$q_response" "region" 'Refused: column 1 ("region") holds text, not numbers'
answer "$q_response" "yield_t_ha"
driver console-prompt "$model" "$q_formula_predictors" || { e2e_finish; exit; }
answer "$q_formula_predictors" "yield_t_ha ~ region + rainfall_mm"
driver console-prompt "$model" "$q_next" || { e2e_finish; exit; }
expect_console_line '^Formula: +yield_t_ha ~ region \+ rainfall_mm$' -E
expect_console_line '^ *region\[North\] +[-0-9.e]+ ' -E
console_screenshot road-model-1-text-column

echo "== \"end\" in small letters ends the dialogue and closes the console"
end_with "$q_next" "end"

# One road for each other model: NUMBER PROGRAM FILE CHECK then QUESTION
# ANSWER pairs; CHECK is a console line (extended regular expression) of
# the report. The best models' tables of candidates stand after the report.
model_road() {
  local number=$1 file=$3 check=$4 name
  model=$2.exe
  shift 4
  if [ ! -f "$DRIVE_C/trelvane/program/$model" ]; then
    echo "note: the build makes no $model; its road is left out"
    return
  fi
  name=$(sed -n "s/.*{$number, \"\\($number\\.[^\"]*\\)\".*/\\1/p" "$e2e_source/chooser/choice.h")
  echo "== model $number ($model) from the chooser, on $file"
  chooser_start "road-$number"
  driver choose "$number" "     $number" "$name corrected ? " yes
  chooser_expect_exit 0
  driver console-prompt "$model" "$q_file" || return
  answer "$q_file" ""
  pick "$file"
  while [ $# -gt 0 ]; do
    driver console-prompt "$model" "$1" || return
    answer "$1" "$2"
    shift 2
  done
  driver console-prompt "$model" "$q_next" || return
  expect_console_line "$check" -E
  console_screenshot "road-model-$number-report"
  end_with "$q_next" "END"
}
q_criterion="Criterion for the best model:"
model_road 2 ROSKA_mid_16 uptake.csv '^Non-linear model \(ROSKA_mid_16\)' \
  "Formula, such as y ~ b1*(1-exp(-b2*x)):" "uptake ~ b1*(1-exp(-b2*hours))" \
  "Start values for b1, b2 (Enter takes the suggestion b1=214, b2=0.556):" ""
model_road 3 ROSKA_mid_17 cooling.csv '^Formula: +temperature_c ~ minute \+ minute\^2$' \
  "$q_response" "temperature_c" "$q_predictor" "" "Degree of the polynomial, 1 to 15 (Enter: 2):" ""
model_road 4 TARN_line_15 yield.csv '^Best subset of each size, by bic' \
  "$q_response" "yield" "$q_formula_predictors" "" "$q_criterion aic, aicc, bic, cp or adjr2 (Enter: bic):" ""
model_road 5 TARN_nonlinear_16 uptake.csv '^Curve families by aic ' \
  "$q_response" "uptake" "$q_predictor" "" "$q_criterion aic, aicc or bic (Enter: aicc):" "AIC"
model_road 6 TARN_curvelinear_17 trend.csv '^Degrees by cv:' \
  "$q_response" "sales" "$q_predictor" "" "Highest degree to try, 1 to 15 (Enter: 6):" "" \
  "$q_criterion aic, aicc, bic or cv (Enter: cv):" ""

e2e_finish
