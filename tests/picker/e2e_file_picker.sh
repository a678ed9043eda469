#!/usr/bin/env bash
# End-to-end tests of file_picker under Wine and Xvfb, in one private prefix:
# the real Open dialog, driven by picker_dialog_driver; the hand-off file's
# exact bytes, and the file its line names for names outside the ANSI code
# page; and the error report and exit status of each failure.
#
#   e2e_file_picker.sh <file_picker.exe> <picker_dialog_driver.exe> <picker_file_helper.exe>
set -u
picker=$1
driver=$2
helper=$3
nm_tool=${NM:-x86_64-w64-mingw32-nm}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/wine_env.sh"

failures=0
fail() {
    echo "FAIL [$case_name]: $*"
    failures=$((failures + 1))
}

# Another run starting its display or prefix at the same moment can make
# the start fail; one more try then.
if ! wine_env_start; then
    echo "wine_env_start failed; trying once more"
    wine_env_cleanup
    wine_env_start || { echo "FAIL: no Wine prefix or display"; exit 1; }
fi
work="$WINEPREFIX/e2e"
picker_in_prefix=$(winepath -w "$picker")
mkdir -p "$work"
handoff="$DRIVE_C/trelvane/tep/zzz0000quib.txt"

# Runs file_picker (with the arguments in picker_args) while the driver does
# "$@" in its dialog; the helper that starts it reads its whole exit code.
# Sets picker_rc and leaves its standard output in $work/$case_name.out.
# Both run under $run_as (empty, or a command prefix).
picker_args=()
run_as=()
run_picker() {
    local out="$work/$case_name.out" err="$work/$case_name.err"
    "${run_as[@]}" timeout --kill-after=5 60 wine "$helper" run 50 "$picker_in_prefix" \
        "${picker_args[@]}" >"$out" 2>"$err" &
    local pid=$!
    if ! "${run_as[@]}" timeout --kill-after=5 40 wine "$driver" "$@" >"$work/$case_name.driver" 2>&1; then
        fail "the dialog driver failed: $(cat "$work/$case_name.driver")"
        "${run_as[@]}" timeout --kill-after=5 20 wine "$driver" cancel >/dev/null 2>&1
    fi
    wait "$pid"
    local helper_rc=$?
    picker_rc=$(sed -n 's/^exit code \([0-9]*\)\r*$/\1/p' "$err")
    if [ "$helper_rc" -ne 0 ] || [ -z "$picker_rc" ]; then
        fail "the helper running file_picker ended with $helper_rc: $(cat "$err")"
        picker_rc=-1
    fi
    grep -h "refused" "$work/$case_name.driver"
}

expect_rc() {
    [ "$picker_rc" -eq "$1" ] || fail "expected exit status $1, got $picker_rc"
}

expect_no_output() {
    [ ! -s "$work/$case_name.out" ] ||
        fail "expected nothing on standard output, got: $(od -c "$work/$case_name.out" | head -5)"
}

# The hand-off file must hold exactly the bytes printf makes of $1.
expect_handoff() {
    local expected="$work/$case_name.expected"
    printf "$1" >"$expected"
    if [ ! -f "$handoff" ]; then
        fail "expected the hand-off file, there is none"
    elif ! cmp -s "$expected" "$handoff"; then
        fail "expected the hand-off file to hold $(stat -c %s "$expected") bytes:
$(od -c "$expected" | head -20)
it holds $(stat -c %s "$handoff") bytes:
$(od -c "$handoff" | head -20)"
    fi
}

# The hand-off line must name the chosen file $1: opened with the ANSI file
# functions, it reads that file. Shows the bytes handed on.
expect_names() {
    local file read_out="$work/$case_name.read"
    file="$DRIVE_C/$(printf '%s' "${1#C:\\}" | tr '\\' /)"
    if ! timeout 30 wine "$helper" read 'C:\trelvane\tep\zzz0000quib.txt' >"$read_out" \
        2>"$read_out.err"; then
        fail "expected the hand-off line to name a file: $(cat "$read_out.err")"
    elif ! cmp -s "$read_out" "$file"; then
        fail "expected the named file to hold \"$(cat "$file")\", it holds \"$(cat "$read_out")\""
    fi
    echo "hand-off bytes of $case_name:"
    od -An -c "$handoff" | sed 's/^/    /'
}

# The name of the function around an image offset: the nearest text symbol
# at or below it.
image_base=$("${OBJDUMP:-x86_64-w64-mingw32-objdump}" -p "$picker" | awk '/^ImageBase/ {print $2}')
symbol_addresses=()
symbol_names=()
while read -r address kind name; do
    case "$kind" in [Tt]) symbol_addresses+=($((16#$address))) && symbol_names+=("$name") ;; esac
done < <("$nm_tool" -n "$picker")
symbol_at() {
    local want=$((16#$image_base + 16#$1)) i name=""
    for i in "${!symbol_addresses[@]}"; do
        [ "${symbol_addresses[$i]}" -le "$want" ] || break
        name=${symbol_names[$i]}
    done
    echo "$name"
}

# The error report with failure code $1: the check's place twice, then the
# return addresses, the last of them into main and into the start-up, then
# an empty line; CR LF everywhere, nothing else.
expect_report() {
    local out="$work/$case_name.out"
    if ! LC_ALL=C grep -Pqz "\\ARuntime error $1 at 0x([0-9A-F]{8})\\r\\n  0x\\1\\r\\n(  0x[0-9A-F]{8}\\r\\n){2,}\\r\\n\\z" "$out"; then
        fail "expected the error report with code $1, got:
$(od -c "$out" | head -30)"
        return
    fi
    local addresses names
    addresses=$(tr -d '\r' <"$out" | sed -n '3,$s/^  0x//p')
    names=$(for a in $addresses; do symbol_at "$a"; done | tr '\n' ' ')
    case " $names " in
    *" main "*) ;;
    *) fail "expected a return into main among the report's addresses, found: $names" ;;
    esac
    case " $names " in
    *CRTStartup*) ;;
    *) fail "expected a return into the start-up among the report's addresses, found: $names" ;;
    esac
    local check
    check=$(symbol_at "$(head -1 "$out" | tr -d '\r' | sed 's/.* at 0x//')")
    case "$check" in
    *write_handoff*) ;;
    *) fail "expected the failing check inside write_handoff, it is in $check" ;;
    esac
    echo "report of $case_name (returns into: $names):"
    tr -d '\r' <"$out" | sed 's/^/    /'
}

# The report without its first line, which names the code.
report_tail() { tail -n +2 "$work/$1.out"; }

mkdir -p "$DRIVE_C/trelvane/tep" "$DRIVE_C/data"
printf 'data' >"$DRIVE_C/data/a.txt"
printf 'data' >"$DRIVE_C/data/café€.txt"
long_dir="$DRIVE_C/$(printf 'd%.0s' {1..120})/$(printf 'e%.0s' {1..120})"
long_name="file_259_b.txt"
mkdir -p "$long_dir"
printf 'data' >"$long_dir/$long_name"
long_path="C:\\$(printf 'd%.0s' {1..120})\\$(printf 'e%.0s' {1..120})\\$long_name"
[ ${#long_path} -eq 259 ] || { echo "FAIL: the long path has ${#long_path} bytes, not 259"; exit 1; }
older="C:\\an\\older\\and\\much\\longer\\path\\than\\the\\new\\one.txt\r\n"

# The first program in a fresh prefix starts slowly: one cancelled run also
# warms it up.
echo "== runs that write the hand-off file"
while IFS='|' read -r case_name args action path expected; do
    echo "-- $case_name ($SECONDS s)"
    printf "$older" >"$handoff"
    read -r -a picker_args <<<"$args"
    if [ -n "$path" ]; then run_picker "$action" "$path"; else run_picker "$action"; fi
    expect_rc 0
    expect_no_output
    expect_handoff "$expected"
done <<EOF_CASES
cancel||cancel||\r\n
existing file||choose|C:\\data\\a.txt|C:\\\\data\\\\a.txt\r\n
arguments ignored|C:\\data\\other.txt /x --help -|choose|C:\\data\\a.txt|C:\\\\data\\\\a.txt\r\n
outside ASCII||choose|C:\\data\\café€.txt|C:\\\\data\\\\caf\351\200.txt\r\n
259-byte path||choose|$long_path|${long_path//\\/\\\\}\r\n
missing file refused||refuse|C:\\data\\missing.txt|\r\n
EOF_CASES
picker_args=()

# Each file holds its own name, so what the hand-off line opens tells which
# file it names; the look-alikes that best fit would give hold other names.
echo "== names outside the ANSI code page"
deep_dirs=$(printf '日/%.0s' {1..30})
for name in 日本.txt Ωmega.txt Omega.txt Ωmega/note.txt Omega/note.txt "${deep_dirs}a.txt"; do
    mkdir -p "$(dirname "$DRIVE_C/data/$name")"
    printf '%s' "$name" >"$DRIVE_C/data/$name"
done
while IFS='|' read -r case_name path; do
    echo "-- $case_name ($SECONDS s)"
    printf "$older" >"$handoff"
    run_picker choose "$path"
    expect_rc 0
    expect_no_output
    expect_names "$path"
done <<EOF_CASES
no mapping|C:\\data\\日本.txt
best fit would map|C:\\data\\Ωmega.txt
best fit would map a directory|C:\\data\\Ωmega\\note.txt
EOF_CASES

# Thirty folders named by one character that has no mapping: even the short
# form, eight characters a folder, is too long.
case_name="no form fits"
printf "$older" >"$handoff"
run_picker choose "C:\\data\\${deep_dirs//\//\\}a.txt"
expect_rc 1113
expect_report 1113
expect_handoff '\r\n'

echo "== file failures"
case_name="no tep directory"
rm -rf "$DRIVE_C/trelvane/tep"
run_picker cancel
expect_rc 3
expect_report 3
[ ! -e "$DRIVE_C/trelvane/tep" ] || fail "expected no C:\\trelvane\\tep afterwards, it was made"
no_tep=$case_name

case_name="no trelvane directory"
rm -rf "$DRIVE_C/trelvane"
run_picker cancel
expect_rc 3
expect_report 3
[ ! -e "$DRIVE_C/trelvane" ] || fail "expected no C:\\trelvane afterwards, it was made"
mkdir -p "$DRIVE_C/trelvane/tep"

case_name="held open by another program"
printf "$older" >"$handoff"
rm -f "$DRIVE_C/holder.ready" "$DRIVE_C/holder.stop"
timeout --kill-after=5 60 wine "$helper" hold 'C:\trelvane\tep\zzz0000quib.txt' 'C:\holder.ready' \
    'C:\holder.stop' 50 >"$work/holder.out" 2>&1 &
holder_pid=$!
for _ in $(seq 300); do [ -e "$DRIVE_C/holder.ready" ] && break; sleep 0.1; done
if [ -e "$DRIVE_C/holder.ready" ]; then
    run_picker cancel
    expect_rc 5
    expect_report 5
    expect_handoff "$older"
else
    fail "the file holder did not get the hand-off file: $(cat "$work/holder.out")"
fi
touch "$DRIVE_C/holder.stop"
wait "$holder_pid" || fail "the file holder ended with $?: $(cat "$work/holder.out")"
held=$case_name

case_name="write fails"
rm -f "$handoff"
ln -s /dev/full "$handoff"
run_picker cancel
expect_rc 101
expect_report 101
rm -f "$handoff"
[ "$(head -1 "$work/$case_name.out")" != "$(head -1 "$work/$held.out" | sed 's/ 5 / 101 /')" ] ||
    fail "expected the failed write to be reported from another place than the failed open"

# Root ignores the read-only bits: this run, and the wineserver that opens
# files for it, go without that capability.
case_name="read-only hand-off file"
printf "$older" >"$handoff"
chmod a-w "$handoff"
WINEPREFIX="$WINEPREFIX" timeout 20 wineserver -k >/dev/null 2>&1
WINEPREFIX="$WINEPREFIX" timeout 20 wineserver -w >/dev/null 2>&1
run_as=(setpriv --inh-caps=-dac_override --bounding-set=-dac_override)
run_picker cancel
expect_rc 5
expect_report 5
expect_handoff "$older"
run_as=()
chmod u+w "$handoff"

case_name="reports"
[ "$(report_tail "$held")" == "$(report_tail "read-only hand-off file")" ] &&
    [ "$(report_tail "$held")" == "$(report_tail "$no_tep")" ] ||
    fail "expected every failed open to give the same report lines after the first"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all file_picker end-to-end checks passed"
