#!/usr/bin/env bash
# The release packages as a user meets them. Checks the ZIP's tree and
# contents, the symbols archive, SHA256SUMS and the access rules of the
# setup script, then, in a private Wine prefix, runs the setup program
# silently, checks every installed file, directory, the shortcut and the
# uninstall entry, that each folder and the hand-off file got its access
# rule, starts the installed programs (the model programs: --help and a
# batch fit), upgrades, tries setup and uninstaller while the chooser runs,
# uninstalls silently and checks that exactly what the setup put there is
# gone. Rounds: a machine that already holds model programs (one the suite
# ships, which is replaced and removed, one it does not, which must
# survive) and hand-off files (they must survive); a clean machine (nothing
# may be left; a report address of the shipped file_picker resolved from
# its debug file); places that hold the wrong thing (the setup must stop).
#
#   install_test.sh --version V --setup setup.exe --zip trelvane.zip
#       --symbols trelvane-symbols.zip --stage DIR --script trelvane.nsi
#       --check install_check.exe --text program_Main.txt --icon BB.ico
#       --models NAME,NAME... (the model programs shipped; may be empty)
#       --table choice.h (the model table)
set -euo pipefail

models=()
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2 ;;
    --setup) setup=$2 ;;
    --zip) zip=$2 ;;
    --symbols) symbols=$2 ;;
    --stage) stage=$2 ;;
    --script) script=$2 ;;
    --check) check=$2 ;;
    --text) text=$2 ;;
    --icon) icon=$2 ;;
    --models) IFS=, read -r -a models <<<"$2" ;;
    --table) table=$2 ;;
    *) echo "install_test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

fail() { echo "FAIL: $*" >&2; exit 1; }
ok() { echo "ok: $*"; }

sums=$(dirname "$setup")/SHA256SUMS
for f in "$setup" "$zip" "$symbols" "$sums" "$script" "$check" "$text" "$icon" "$table"; do
  [ -f "$f" ] || fail "expected $f: build first (cmake --build --preset windows)"
done

# What the packages hold: path in the tree, then the file it must equal.
# The programs are the stripped ones of the staged tree.
programs=(model_chooser)
[ ! -f "$stage/trelvane/program/file_picker.exe" ] || programs+=(file_picker)
picker=0
[ ${#programs[@]} -eq 1 ] || picker=1
programs+=("${models[@]}")
# Every model program of the model table the suite does not ship: one of
# them stands for a model program an administrator placed by hand.
mapfile -t foreign < <(grep -o 'trelvane\\\\program\\\\[A-Za-z_0-9]*\.exe' "$table" |
  sed 's/.*\\\\//; s/\.exe$//' | grep -vxF -f <(printf '%s\n' "${models[@]}" x))
[ $((${#foreign[@]} + ${#models[@]})) -eq 6 ] ||
  fail "expected 6 model programs in $table, shipped and not: ${models[*]} | ${foreign[*]}"
shipped=(
  "trelvane/program/program_Main.txt|$text"
  "ambrelle/program_ROSKA/BB.ico|$icon"
)
for p in "${programs[@]}"; do shipped+=("trelvane/program/$p.exe|$stage/trelvane/program/$p.exe"); done
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

# --- The ZIP, the symbols archive and SHA256SUMS ----------------------------

expected=$(
  for d in "${dirs[@]}"; do echo "$d/"; done
  for s in "${shipped[@]}"; do echo "${s%%|*}"; done
)
listed=$(unzip -Z1 "$zip" | sort)
[ "$listed" = "$(sort <<<"$expected")" ] ||
  fail "ZIP: expected the entries"$'\n'"$(sort <<<"$expected")"$'\n'"found"$'\n'"$listed"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked/zip"
for s in "${shipped[@]}"; do
  cmp -s "${s#*|}" "$unpacked/zip/${s%%|*}" || fail "ZIP: ${s%%|*} differs from ${s#*|}"
done
ok "ZIP: ${#shipped[@]} files, tep/ kept empty"

# Each program is stripped and names its debug file, by name and CRC-32,
# in .gnu_debuglink: the name, a NUL, padding to 4 bytes, the CRC.
listed=$(unzip -Z1 "$symbols" | sort)
[ "$listed" = "$(printf '%s.exe.debug\n' "${programs[@]}" | sort)" ] ||
  fail "symbols archive: expected one .exe.debug per program, found"$'\n'"$listed"
unzip -q "$symbols" -d "$unpacked/symbols"
for p in "${programs[@]}"; do
  exe=$stage/trelvane/program/$p.exe
  x86_64-w64-mingw32-nm "$exe" 2>&1 | grep -q 'no symbols' || fail "$p.exe: expected no symbol table"
  x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink="$unpacked/link" "$exe" "$unpacked/copy.exe" ||
    fail "$p.exe: expected a .gnu_debuglink section"
  name=$(tr '\0' '\n' <"$unpacked/link" | head -n 1)
  crc=$(od -An -tx4 -j $(((${#name} + 4) / 4 * 4)) -N4 "$unpacked/link" | tr -d ' ')
  want=$(gzip -c "$unpacked/symbols/$p.exe.debug" | tail -c 8 | od -An -tx4 -N4 | tr -d ' ')
  [ "$name|$crc" = "$p.exe.debug|$want" ] ||
    fail "$p.exe: expected the debug link $p.exe.debug|$want, found $name|$crc"
done
ok "programs stripped, each linked to its debug file in the symbols archive"

(cd "$(dirname "$sums")" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the packages"
[ "$(cut -d' ' -f3 "$sums")" = "$(basename -a "$setup" "$zip" "$symbols")" ] ||
  fail "SHA256SUMS: expected the setup program, the ZIP and the symbols archive; it lists"$'\n'"$(cat "$sums")"
ok "SHA256SUMS: the three packages"

# --- Install, use, uninstall under Wine ------------------------------------

. "$(dirname "$0")/../wine/wine_env.sh"
wine_env_start
trap 'wine_env_cleanup; rm -rf "$unpacked"' EXIT
c=$DRIVE_C
shortcut="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/trelvane analysis.lnk"
uninstaller="$c/trelvane/program/uninstall.exe"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\trelvane'
handoff="$c/trelvane/tep/zzz0000quib.txt"

# The access rules, as the setup script writes them, parsed by the system's
# parser and checked for what they grant; the checker refuses rules with a
# hole.
folder_rule=$(sed -n 's/^!define FOLDER_DACL "\(.*\)"$/\1/p' "$script")
file_rule=$(sed -n 's/^!define HANDOFF_DACL "\(.*\)"$/\1/p' "$script")
[ -n "$folder_rule" ] && [ -n "$file_rule" ] || fail "expected FOLDER_DACL and HANDOFF_DACL in $script"
for kind_rule in "folder|$folder_rule" "file|$file_rule"; do
  out=$(wine_run_bounded 30 "$check" rule "${kind_rule%%|*}" "${kind_rule#*|}" | tr -d '\r') || fail "$out"
done
for bad in "folder|${folder_rule/D:PAI/D:AI}" "folder|${folder_rule/FRFX;;;BU/0x1301BF;;;BU}" \
  "file|${file_rule/FRFW;;;BU/FRFWSD;;;BU}" "file|${file_rule/(A;;FRFW;;;OW)/}"; do
  ! wine_run_bounded 30 "$check" rule "${bad%%|*}" "${bad#*|}" >/dev/null ||
    fail "install_check rule: expected the ${bad%%|*} rule ${bad#*|} to be refused"
done
ok "access rules: folders $folder_rule, hand-off file $file_rule"

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

# Starts an installed program in the background; finish lets install_check
# do an action and expects the program's exit status (0 unless given).
start() {
  timeout --kill-after=5 60 wine "$1" >"$WINEPREFIX/program.out" 2>&1 &
  program_pid=$!
  program=$1
}
finish() {
  local action=$1 want=${2:-0} status=0
  wine_run_bounded 60 "$check" "$action" || {
    kill "$program_pid" 2>/dev/null || true
    fail "$program: install_check $action failed"
  }
  wait "$program_pid" || status=$?
  [ "$status" -eq "$want" ] ||
    fail "$program: expected exit status $want, came $status; output: $(cat "$WINEPREFIX/program.out")"
}
drive() {
  start "$1"
  finish "$2" "${3:-0}"
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

# The paths the setup gave an access rule, in order, each with its rule:
# from Wine's trace, each CreateFileW that opens a path as itself, followed
# in its thread by SetSecurityInfo's NtSetSecurityObject (DACL, protected)
# on the handle it returned, with the rule converted last in that thread.
protected_paths() {
  awk '
    { tid = substr($0, 1, index($0, ":") - 1) }
    /:ConvertStringSecurityDescriptorToSecurityDescriptorW L"/ {
      s = $0; sub(/.*DescriptorW L"/, "", s); sub(/".*/, "", s); rule[tid] = s }
    /:CreateFileW L".* attributes 0x2200000$/ {
      s = $0; sub(/.*CreateFileW L"/, "", s); sub(/".*/, "", s); gsub(/\\\\/, "\\", s)
      path[tid] = s; handle[tid] = "" }
    /:CreateFileW returning / && path[tid] != "" && handle[tid] == "" {
      h = tolower($NF); sub(/^0+/, "", h); handle[tid] = h }
    /:NtSetSecurityObject / {
      h = $2; sub(/^0x/, "", h)
      if (path[tid] != "" && h == handle[tid] && $3 == "0x80000004") print path[tid] "|" rule[tid]
      path[tid] = "" }' "$1"
}

# Runs the setup silently and checks what it installed; with "traced", also
# that every folder and the hand-off file got its rule, top down.
install_and_check() {
  local status=0 s d log=/dev/null debug=$WINEDEBUG
  if [ "${1:-}" = traced ]; then
    log=$WINEPREFIX/setup-trace.log
    debug=trace+security,trace+file,trace+ntdll
  fi
  WINEDEBUG=$debug wine_run_bounded 120 "$setup" /S 2>"$log" || status=$?
  [ "$status" -eq 0 ] || fail "setup /S: expected exit status 0, came $status"
  for s in "${shipped[@]}"; do
    cmp -s "${s#*|}" "$c/${s%%|*}" || fail "installed C:/${s%%|*} missing or differs from ${s#*|}"
  done
  for d in "${dirs[@]}"; do [ -d "$c/$d" ] || fail "expected the directory C:/$d"; done
  [ -f "$handoff" ] || fail "expected the hand-off file C:/trelvane/tep/zzz0000quib.txt"
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
  ok "installed: ${#shipped[@]} files, ${#dirs[@]} directories, hand-off file, shortcut, uninstall entry"
  [ "$log" != /dev/null ] || return 0

  local want_rules found
  want_rules=$(printf '%s\n' 'C:\trelvane' 'C:\trelvane\program' 'C:\trelvane\tep' 'C:\ambrelle' \
    'C:\ambrelle\program_ROSKA' | sed "s/\$/|$folder_rule/"
  echo "C:\\trelvane\\tep\\zzz0000quib.txt|$file_rule")
  found=$(protected_paths "$log")
  [ "$found" = "$want_rules" ] ||
    fail "access rules: expected SetSecurityInfo, in order, on"$'\n'"$want_rules"$'\n'"found"$'\n'"$found"
  ok "access rules set on the 5 folders, then the hand-off file"
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

# Every installed file and folder with its size, time and SHA-256, the
# shortcut and the uninstall entry.
snapshot() {
  (cd "$c" && find trelvane ambrelle -printf '%p %y %s %T@\n' | LC_ALL=C sort &&
    find trelvane ambrelle -type f -exec sha256sum {} + | LC_ALL=C sort)
  sha256sum "$shortcut"
  timeout 30 wine reg query "$uninstall_key" 2>&1 | tr -d '\r'
}

# Round 1: model programs and hand-off files are already there. A model
# program the suite ships is ours: the setup replaces it (install_and_check
# compares it with the staged one) and the uninstaller removes it. One it
# does not ship (when the build lacks one) is the administrator's: kept.
kept="$c/trelvane/tep/kept.txt"
mkdir -p "$c/trelvane/program" "$c/trelvane/tep"
for m in "${models[@]:0:1}"; do printf 'an older model program\r\n' >"$c/trelvane/program/$m.exe"; done
model=""
if [ ${#foreign[@]} -gt 0 ]; then
  model="$c/trelvane/program/${foreign[0]}.exe"
  printf 'a model program\r\n' >"$model"
fi
by_hand=${model:+the model program placed by hand and }
# Checks that the model program placed by hand (if any) is untouched.
expect_model_kept() {
  [ -z "$model" ] || [ "$(cat "$model")" = $'a model program\r' ] ||
    fail "$1: expected ${foreign[0]}.exe, not shipped, untouched"
}
printf 'handed off earlier\r\n' >"$kept"
printf 'C:\\data\\earlier.txt\r\n' >"$handoff"

install_and_check traced
expect_model_kept setup
cmp -s <(printf 'C:\\data\\earlier.txt\r\n') "$handoff" ||
  fail "setup: expected the existing hand-off file to keep its line, it holds: $(od -An -c "$handoff")"
expect_version "$c/trelvane/program/model_chooser.exe" "trelvane model chooser" model_chooser.exe
[ "$picker" = 0 ] ||
  expect_version "$c/trelvane/program/file_picker.exe" "trelvane file picker" file_picker.exe
info=$(version_of "$setup") || fail "setup: no version resource: $info"
grep -qxF "ProductVersion=$version" <<<"$info" || fail "setup: expected ProductVersion=$version; it holds"$'\n'"$info"
ok "version resources: $version"

drive 'C:\trelvane\program\model_chooser.exe' close-chooser
ok "installed model_chooser: window came, close answered Yes, exit 0"
if [ "$picker" = 1 ]; then
  drive 'C:\trelvane\program\file_picker.exe' cancel-open
  cmp -s <(printf '\r\n') "$handoff" ||
    fail "file_picker: expected the hand-off file to be CR LF, it holds: $(od -An -c "$handoff")"
  ok "installed file_picker: cancelled, hand-off file CR LF, exit 0"
fi

# Each installed model program runs: --help (status 0, its usage); a linear
# or curve-linear one, which needs no options, fits a small file in batch
# (status 0, its JSON report).
fitter=""
for m in "${models[@]}"; do
  status=0
  out=$(wine_run_bounded 60 "C:\\trelvane\\program\\$m.exe" --help 2>&1 | tr -d '\r') || status=$?
  [ "$status" -eq 0 ] && grep -q "^Usage: $m " <<<"$out" ||
    fail "installed $m.exe --help: expected status 0 and its usage, came $status: $out"
  case $m in ROSKA_mid_15 | ROSKA_mid_17) fitter=${fitter:-$m} ;; esac
done
if [ -n "$fitter" ]; then
  printf 'y,x\r\n3.1,1\r\n4.9,2\r\n7.2,3\r\n8.8,4\r\n11.1,5\r\n' >"$c/fit.csv"
  status=0
  out=$(wine_run_bounded 60 "C:\\trelvane\\program\\$fitter.exe" 'C:\fit.csv' --json 2>&1) || status=$?
  [ "$status" -eq 0 ] && grep -qE "\"program\": *\"$fitter\"" <<<"$out" ||
    fail "installed $fitter.exe C:\\fit.csv --json: expected status 0 and its report, came $status: $out"
fi
[ ${#models[@]} -eq 0 ] || ok "installed model programs ${models[*]}: --help${fitter:+; $fitter fitted C:\\fit.csv}"

# Upgrade: the setup over the installed suite writes our files (the model
# programs it ships too) anew and keeps the model program placed by hand
# and what the hand-off directory holds.
printf 'an older chooser\r\n' >"$c/trelvane/program/model_chooser.exe"
printf 'an older text\r\n' >"$c/trelvane/program/program_Main.txt"
for m in "${models[@]}"; do printf 'an older model program\r\n' >"$c/trelvane/program/$m.exe"; done
tep_before=$(cd "$c/trelvane/tep" && sha256sum -- *)
install_and_check
expect_model_kept upgrade
[ "$(cd "$c/trelvane/tep" && sha256sum -- *)" = "$tep_before" ] ||
  fail "upgrade: expected the files of C:/trelvane/tep untouched"
ok "upgraded: our files written anew; ${by_hand}the hand-off files kept"

# While the chooser runs, setup and uninstaller end with status 3 and change
# nothing. The uninstaller is run in place (_?=) so that its own status
# comes back: started plainly, it hands over to a copy of itself at once.
start 'C:\trelvane\program\model_chooser.exe'
wine_run_bounded 60 "$check" wait-chooser >/dev/null || fail "model_chooser: its window did not show"
before=$(snapshot)
status=0
wine_run_bounded 60 "$setup" /S || status=$?
[ "$status" -eq 3 ] || fail "setup while the chooser runs: expected exit status 3, came $status"
status=0
wine_run_bounded 60 "$uninstaller" /S '_?=C:\trelvane\program' || status=$?
[ "$status" -eq 3 ] || fail "uninstaller while the chooser runs: expected exit status 3, came $status"
after=$(snapshot)
[ "$after" = "$before" ] ||
  fail "setup or uninstaller changed the installation while the chooser ran:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"
finish close-chooser
ok "chooser running: setup and uninstaller ended with status 3, nothing changed"

uninstall_and_check "$c/ambrelle"
expect_model_kept uninstall
for f in "$kept" "$handoff"; do [ -f "$f" ] || fail "uninstall: expected $f to remain"; done
ok "uninstalled: ours gone, the shipped model programs too; ${by_hand}the hand-off files remain"

# Round 2: a clean machine. The hand-off file comes with CR LF alone.
rm -rf "$c/trelvane"
install_and_check
cmp -s <(printf '\r\n') "$handoff" ||
  fail "setup: expected a new hand-off file to hold CR LF alone, it holds: $(od -An -c "$handoff")"
if [ "$picker" = 1 ]; then
  # With no C:\trelvane\tep, file_picker reports error 3; the shipped
  # program has no symbols, its debug file resolves the failing check.
  rm -rf "$c/trelvane/tep"
  drive 'C:\trelvane\program\file_picker.exe' cancel-open 3
  offset=$(tr -d '\r' <"$WINEPREFIX/program.out" | sed -n 's/^Runtime error 3 at 0x\([0-9A-F]\{8\}\)$/\1/p')
  [ -n "$offset" ] || fail "file_picker: expected \"Runtime error 3 at 0x........\", it printed: $(cat "$WINEPREFIX/program.out")"
  where=$(x86_64-w64-mingw32-addr2line -f -C -e "$unpacked/symbols/file_picker.exe.debug" \
    "$(printf '0x%x' $((0x140000000 + 0x$offset)))" | tr '\n' ' ')
  [[ $where =~ ^write_handoff\(.*\)\ \./picker/handoff\.cpp:[0-9]+ ]] ||
    fail "file_picker: expected report address 0x$offset to resolve into write_handoff in ./picker/handoff.cpp, came: $where"
  ok "report address 0x$offset of the shipped file_picker: $where"
else
  rm -rf "$c/trelvane/tep"
fi
uninstall_and_check "$c/trelvane" "$c/ambrelle"
ok "clean machine: installed and uninstalled, nothing left"

# Round 3: a place holds the wrong thing. The setup stops with status 2
# before it writes anything of ours, and leaves the other file alone.
elsewhere="$c/elsewhere.txt"
for case in "hand-off file with a second name" "a file where a folder must be"; do
  rm -rf "$c/trelvane" "$c/ambrelle"
  printf 'not ours\r\n' >"$elsewhere"
  mkdir -p "$c/trelvane/tep"
  case $case in
    hand-off*) ln "$elsewhere" "$handoff" ;;
    *) touch "$c/trelvane/program" ;;
  esac
  status=0
  wine_run_bounded 60 "$setup" /S || status=$?
  [ "$status" -eq 2 ] || fail "setup with $case: expected exit status 2, came $status"
  for s in "${shipped[@]}"; do
    [ ! -f "$c/${s%%|*}" ] || fail "setup with $case: expected nothing installed, found C:/${s%%|*}"
  done
  [ ! -e "$uninstaller" ] || fail "setup with $case: expected no uninstaller"
  [ "$(cat "$elsewhere")" = $'not ours\r' ] || fail "setup with $case: expected C:/elsewhere.txt untouched"
done
ok "wrong things in place: setup stopped with status 2 before installing anything"
