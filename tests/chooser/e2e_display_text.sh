#!/usr/bin/env bash
# End-to-end test of the chooser's display text under Wine and Xvfb, in one
# private prefix: an odd display text file (50 lines, a 5000-byte line,
# 0xFF bytes, CR LF line ends) and a missing one must not break start-up,
# and the text is drawn within x = 20 to 580 of the client area, at once.
# Usage: e2e_display_text.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh" "$1" "$2"

odd=$(mktemp)
{
  for ((i = 0; i < 40; i++)); do printf 'WWWWW '; done
  printf '\r\n'
  printf 'M%.0s' $(seq 5000)
  printf '\r\n0xFF bytes: \xff\xff\xff end\r\n'
  for ((i = 4; i <= 50; i++)); do printf 'line %d\r\n' "$i"; done
} >"$odd"
e2e_setup "$odd"
rm -f "$odd"

# Dark pixels of the screenshot in two bands of the client area that no
# control covers: above the form row, and between it and the option frame.
# Prints "left top right bottom" in client coordinates, or "none".
text_box() {
  local ox oy box
  read -r ox oy <<<"$(driver_value client-origin)"
  box=$(dark_box "$e2e_artifacts/$1.png" "$((688 - 4))x$2+$((ox + 2))+$((oy + $3))")
  if [ "$box" = none ]; then echo none; return; fi
  read -r l t r b <<<"$box"
  echo "$((l - ox)) $((t - oy)) $((r - ox)) $((b - oy))"
}

# expect_text_box WHAT "LEFT TOP RIGHT BOTTOM"|none LEFT_MIN LEFT_MAX RIGHT_MIN RIGHT_MAX
# Sets text_top.
expect_text_box() {
  local what=$1 left top right bottom
  read -r left top right bottom <<<"$2"
  text_top=$top
  if [ "$left" = none ] || [ -z "$right" ]; then
    e2e_fail "$what: expected dark text pixels, got none"
  elif ((left >= $3 && left <= $4 && right >= $5 && right <= $6)); then
    e2e_ok "$what lies within x = $left to $right"
  else
    e2e_fail "$what: expected from x = $3..$4 to x = $5..$6, got $left to $right"
  fi
}

echo "== an odd display text file"
chooser_start odd-text
driver startup
sleep 0.5
screenshot chooser-odd-text
# Wrapped lines above the form reach near the right edge, never past it.
expect_text_box "text above the form" "$(text_box chooser-odd-text 38 10)" 20 23 500 580
[ "${text_top:-0}" -ge 10 ] && [ "${text_top:-0}" -le 14 ] && e2e_ok "text starts at y = $text_top" ||
  e2e_fail "text top: expected y = 10 to 14, got ${text_top:-none}"
expect_text_box "text between the form row and the option" "$(text_box chooser-odd-text 200 72)" 20 23 500 580
driver close yes
chooser_expect_exit 0

echo "== no display text file"
rm -f "$DRIVE_C/trelvane/program/program_Main.txt"
chooser_start no-text
driver startup
sleep 0.5
screenshot chooser-no-text
e2e_expect "text above the form" none "$(text_box chooser-no-text 38 10)"
e2e_expect "text between the form row and the option" none "$(text_box chooser-no-text 200 72)"
driver close yes
chooser_expect_exit 0

e2e_finish
