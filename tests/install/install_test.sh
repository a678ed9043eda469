#!/usr/bin/env bash
# The release packages as a user meets them. Checks the ZIP's tree and
# contents, then, in a private Wine prefix, runs the setup program silently,
# checks every installed file, directory, the shortcut and the uninstall
# entry, starts both installed programs, uninstalls silently and checks that
# exactly what the setup put there is gone. Two rounds: a machine that already
# holds a model program and a hand-off file (they must survive), and a clean
# machine (nothing may be left).
#
#   install_test.sh --version V --setup setup.exe --zip trelvane.zip
#       --check install_check.exe --chooser model_chooser.exe
#       --text program_Main.txt --icon BB.ico [--picker file_picker.exe]
set -euo pipefail

picker=""
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2 ;;
    --setup) setup=$2 ;;
    --zip) zip=$2 ;;
    --check) check=$2 ;;
    --chooser) chooser=$2 ;;
    --picker) picker=$2 ;;
    --text) text=$2 ;;
    --icon) icon=$2 ;;
    *) echo "install_test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

fail() { echo "FAIL: $*" >&2; exit 1; }
ok() { echo "ok: $*"; }

for f in "$setup" "$zip" "$check" "$chooser" "$text" "$icon" ${picker:+"$picker"}; do
  [ -f "$f" ] || fail "expected $f: build first (cmake --build --preset windows)"
done

# What the packages hold: path in the tree, then the file it must equal.
shipped=(
  "trelvane/program/model_chooser.exe|$chooser"
  "trelvane/program/program_Main.txt|$text"
  "ambrelle/program_ROSKA/BB.ico|$icon"
)
[ -z "$picker" ] || shipped+=("trelvane/program/file_picker.exe|$picker")
dirs=(trelvane trelvane/program trelvane/tep ambrelle ambrelle/program_ROSKA)

# --- The display text and the icon -----------------------------------------

lines=$(wc -l <"$text")
crlf=$(grep -c $'\r$' "$text" || true)
[ "$lines" -le 42 ] || fail "program_Main.txt: expected at most 42 lines, has $lines"
[ "$crlf" -eq "$lines" ] || fail "program_Main.txt: expected CR LF on all $lines lines, $crlf have it"
ok "program_Main.txt: $lines lines, all CR LF"

# An .ico directory: a count at byte 4, then 16-byte entries (width, height,
# ..., size at +8, offset at +12). Expect 256 (stored as a PNG of 8-bit RGBA:
# colour type 6), 48, 32 and 16 pixels.
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
u8() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
sizes=""
for ((i = 0; i < $(u16 "$icon" 4); i++)); do
  e=$((6 + 16 * i))
  w=$(u8 "$icon" "$e")
  [ "$w" -ne 0 ] || w=256
  sizes+="$w "
  if [ "$w" -eq 256 ]; then
    at=$(u32 "$icon" $((e + 12)))
    magic=$(od -An -c -j $((at + 1)) -N3 "$icon" | tr -d ' ')
    [ "$magic" = PNG ] || fail "BB.ico: expected the 256 entry as PNG, found '$magic'"
    kind=$(u8 "$icon" $((at + 25)))
    [ "$kind" -eq 6 ] || fail "BB.ico: expected the 256 PNG as RGBA (type 6), found type $kind"
  fi
done
[ "$sizes" = "256 48 32 16 " ] || fail "BB.ico: expected entries 256 48 32 16, found $sizes"
ok "BB.ico: entries $sizes, 256 as RGBA PNG"

# --- The ZIP ---------------------------------------------------------------

expected=$(
  for d in "${dirs[@]}"; do echo "$d/"; done
  for s in "${shipped[@]}"; do echo "${s%%|*}"; done
)
listed=$(unzip -Z1 "$zip" | sort)
[ "$listed" = "$(sort <<<"$expected")" ] ||
  fail "ZIP: expected the entries"$'\n'"$(sort <<<"$expected")"$'\n'"found"$'\n'"$listed"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
for s in "${shipped[@]}"; do
  cmp -s "${s#*|}" "$unpacked/${s%%|*}" || fail "ZIP: ${s%%|*} differs from ${s#*|}"
done
rm -rf "$unpacked"
trap - EXIT
ok "ZIP: ${#shipped[@]} files, tep/ kept empty"

# --- Install, use, uninstall under Wine ------------------------------------

. "$(dirname "$0")/../wine/wine_env.sh"
wine_env_start
c=$DRIVE_C
shortcut="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/trelvane analysis.lnk"
uninstaller="$c/trelvane/program/uninstall.exe"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\trelvane'

# Waits up to $1 seconds for every path after it to be gone.
wait_gone() {
  local limit=$1 p
  shift
  for ((t = 0; t < limit * 10; t++)); do
    for p in "$@"; do [ ! -e "$p" ] || break; done
    [ -e "$p" ] || return 0
    sleep 0.1
  done
  return 1
}

# Runs an installed program in the background and lets install_check drive
# it; expects exit status 0 from both.
drive() {
  local program=$1 action=$2 pid status
  timeout --kill-after=5 60 wine "$program" >"$WINEPREFIX/program.out" 2>&1 &
  pid=$!
  wine_run_bounded 60 "$check" "$action" || {
    kill "$pid" 2>/dev/null || true
    fail "$program: install_check $action failed"
  }
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] ||
    fail "$program: expected exit status 0, came $status; output: $(cat "$WINEPREFIX/program.out")"
}

# Prints the version resource of a file, without CRs.
version_of() { wine_run_bounded 30 "$check" version "$1" | tr -d '\r'; }

expect_version() {
  local file=$1 description=$2 name=$3 info want
  info=$(version_of "$file") || fail "$file: no version resource: $info"
  for want in "FILEVERSION=$version.0" "PRODUCTVERSION=$version.0" "FileVersion=$version" \
    "ProductVersion=$version" "ProductName=trelvane" "FileDescription=$description" \
    "OriginalFilename=$name"; do
    grep -qxF "$want" <<<"$info" || fail "$file: expected $want in its version resource; it holds"$'\n'"$info"
  done
}

install_and_check() {
  local status=0 s d
  wine_run_bounded 120 "$setup" /S || status=$?
  [ "$status" -eq 0 ] || fail "setup /S: expected exit status 0, came $status"
  for s in "${shipped[@]}"; do
    cmp -s "${s#*|}" "$c/${s%%|*}" || fail "installed C:/${s%%|*} missing or differs from ${s#*|}"
  done
  for d in "${dirs[@]}"; do [ -d "$c/$d" ] || fail "expected the directory C:/$d"; done
  [ -f "$uninstaller" ] || fail "expected the uninstaller C:/trelvane/program/uninstall.exe"
  [ -f "$shortcut" ] || fail "expected the Start-menu shortcut $shortcut"
  grep -aqF 'C:\trelvane\program\model_chooser.exe' "$shortcut" ||
    fail "expected the shortcut to point at C:\\trelvane\\program\\model_chooser.exe"
  local entry
  entry=$(timeout 30 wine reg query "$uninstall_key" 2>&1 | tr -d '\r') ||
    fail "expected the uninstall entry $uninstall_key: $entry"
  for want in 'DisplayName\s+REG_SZ\s+trelvane$' "DisplayVersion\\s+REG_SZ\\s+$version\$" \
    'UninstallString\s+REG_SZ\s+"C:\\trelvane\\program\\uninstall.exe"$'; do
    grep -qP "$want" <<<"$entry" || fail "uninstall entry: expected /$want/; it holds"$'\n'"$entry"
  done
  ok "installed: ${#shipped[@]} files, ${#dirs[@]} directories, shortcut, uninstall entry"
}

uninstall_and_check() {
  local status=0 s
  # The uninstaller copies itself away and returns at once: wait for the files.
  wine_run_bounded 60 "$uninstaller" /S || status=$?
  [ "$status" -eq 0 ] || fail "uninstall.exe /S: expected exit status 0, came $status"
  local ours=("$uninstaller" "$shortcut")
  for s in "${shipped[@]}"; do ours+=("$c/${s%%|*}"); done
  wait_gone 60 "${ours[@]}" "$@" || {
    for s in "${ours[@]}" "$@"; do [ ! -e "$s" ] || echo "still there: $s" >&2; done
    fail "uninstall: expected everything listed above to be gone within 60 s"
  }
  ! timeout 30 wine reg query "$uninstall_key" >/dev/null 2>&1 ||
    fail "uninstall: expected the entry $uninstall_key to be gone"
}

# Round 1: a model program and a hand-off file are already there.
model="$c/trelvane/program/ROSKA_mid_15.exe"
kept="$c/trelvane/tep/kept.txt"
mkdir -p "$c/trelvane/program" "$c/trelvane/tep"
printf 'a model program\r\n' >"$model"
printf 'handed off earlier\r\n' >"$kept"

install_and_check
[ "$(cat "$model")" = $'a model program\r' ] || fail "setup: expected the model program untouched"
expect_version "$c/trelvane/program/model_chooser.exe" "trelvane model chooser" model_chooser.exe
[ -z "$picker" ] ||
  expect_version "$c/trelvane/program/file_picker.exe" "trelvane file picker" file_picker.exe
info=$(version_of "$setup") || fail "setup: no version resource: $info"
grep -qxF "ProductVersion=$version" <<<"$info" || fail "setup: expected ProductVersion=$version; it holds"$'\n'"$info"
ok "version resources: $version"

drive 'C:\trelvane\program\model_chooser.exe' close-chooser
ok "installed model_chooser: window came, close answered Yes, exit 0"
if [ -n "$picker" ]; then
  drive 'C:\trelvane\program\file_picker.exe' cancel-open
  cmp -s <(printf '\r\n') "$c/trelvane/tep/zzz0000quib.txt" ||
    fail "file_picker: expected the hand-off file to be CR LF, it holds: $(od -An -c "$c/trelvane/tep/zzz0000quib.txt")"
  ok "installed file_picker: cancelled, hand-off file CR LF, exit 0"
fi

uninstall_and_check "$c/ambrelle"
for f in "$model" "$kept"; do [ -f "$f" ] || fail "uninstall: expected $f to remain"; done
[ -z "$picker" ] || [ -f "$c/trelvane/tep/zzz0000quib.txt" ] ||
  fail "uninstall: expected the hand-off file to remain"
ok "uninstalled: ours gone; the model program and the hand-off files remain"

# Round 2: a clean machine; nothing may be left.
rm -rf "$c/trelvane"
install_and_check
uninstall_and_check "$c/trelvane" "$c/ambrelle"
ok "clean machine: installed and uninstalled, nothing left"
