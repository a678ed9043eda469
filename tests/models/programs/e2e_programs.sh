#!/usr/bin/env bash
# The model programs in batch under Wine, all in one private prefix: every
# program answers --help (status 0) and an unknown option (status 2, a
# reason on standard error). A program with a case below also answers a
# missing data file (status 1, a reason) and fits its demo data file, and
# its JSON report is read back (program, model, number of estimates, known
# values); the first of them also draws the fit (--plot), which is rendered
# to PNG.
# Usage: e2e_programs.sh SOURCE_DIR BUILD_DIR PROGRAM.exe...
set -uo pipefail
source_dir=$1 build=$2
shift 2
. "$source_dir/tests/wine/wine_env.sh"

# program|demo data file|options|model|estimates|known values (NAME=VALUE:
# an estimate or a top-level number, to 7 significant digits). The values
# are the least-squares solution computed exactly from the data file.
cases=(
  "ROSKA_mid_15|survey.csv|--formula yield_t_ha~region+log(rainfall_mm) --anova --se hc3|linear|4|region[North]=0.2286187531 log(rainfall_mm)=6.185066154 r_squared=0.9940013818"
  "ROSKA_mid_17|cooling.csv|--y temperature_c --x minute --degree 2|curve-linear|3|minute^2=0.02691085333 (intercept)=87.03290323 r_squared=0.9906992205"
  "ROSKA_mid_16|uptake.csv|--formula uptake~b1*(1-exp(-b2*hours)) --start b1=100,b2=1|non-linear|2|b1=213.6332823 b2=0.556387549"
  "TARN_line_15|yield.csv||best linear|4|rain=0.07908568096 nitrogen=0.02404077514 r_squared=0.8980678953"
  "TARN_nonlinear_16|uptake.csv||best non-linear|2|b1=213.6332823 b2=0.556387549"
  "TARN_curvelinear_17|trend.csv||best curve-linear|4|month=62.29551309 month^2=-2.344306 r_squared=0.9961739461"
)

failures=0
checks=0
ok() { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*"; }

wine_env_start || exit 1
mkdir -p "$DRIVE_C/data" "$build/artifacts"
cp "$source_dir"/demo/*.csv "$DRIVE_C/data/"
out=$WINEPREFIX/out.txt err=$WINEPREFIX/err.txt

# run PROGRAM ARGS...: the program's status; its output in $out and $err.
run() {
  wine_run_bounded 60 "$@" >"$out" 2>"$err"
}
# expect_failure WHAT STATUS PROGRAM ARGS...: the status, nothing on
# standard output and a reason on standard error.
expect_failure() {
  local what=$1 want=$2 status=0
  shift 2
  run "$@" || status=$?
  if [ "$status" -eq "$want" ] && [ ! -s "$out" ] && [ -s "$err" ]; then
    ok "$what: status $want, \"$(head -n 1 "$err" | tr -d '\r')\""
  else
    fail "$what: expected status $want and a reason on standard error alone; status $status, stdout \"$(cat "$out")\", stderr \"$(cat "$err")\""
  fi
}

plotted=0
for exe in "$@"; do
  name=$(basename "$exe" .exe)
  echo "== $name"
  status=0
  run "$exe" --help || status=$?
  if [ "$status" -eq 0 ] && tr -d '\r' <"$out" | grep -q "^Usage: $name "; then
    ok "$name --help: status 0, its usage"
  else
    fail "$name --help: expected status 0 and \"Usage: $name ...\"; status $status: $(cat "$out" "$err")"
  fi
  expect_failure "$name with an unknown option" 2 "$exe" 'C:\data\fuel.csv' --no-such-option

  case_line=""
  for c in "${cases[@]}"; do [ "${c%%|*}" != "$name" ] || case_line=$c; done
  if [ -z "$case_line" ]; then
    echo "note: no batch case for $name yet (add one to the table in $0)"
    continue
  fi
  IFS='|' read -r _ file options model count known <<<"$case_line"
  read -r -a opts <<<"$options"
  expect_failure "$name with a missing data file" 1 "$exe" 'C:\data\missing.csv' "${opts[@]}"
  status=0
  run "$exe" "C:\\data\\$file" "${opts[@]}" --json || status=$?
  # The programs give a reason with every failure: a failure with none did
  # not come from the program (seen once under load: status 1, no output at
  # all). Said, and tried once more.
  if [ "$status" -ne 0 ] && [ ! -s "$err" ]; then
    echo "note: $name $file --json: status $status with no reason on standard error, stdout \"$(head -c 200 "$out")\"; once more"
    status=0
    run "$exe" "C:\\data\\$file" "${opts[@]}" --json || status=$?
  fi
  [ "$status" -eq 0 ] || { fail "$name $file --json: status $status: $(cat "$err") (stdout: $(head -c 200 "$out"))"; continue; }
  # The report read back as JSON; each mismatch is one line.
  if report=$(python3 - "$out" "$name" "$model" "$count" $known <<'PY' 2>&1
import json, math, sys
path, program, model, count, *known = sys.argv[1:]
r = json.load(open(path, encoding="utf-8"))
bad = []
if r.get("program") != program: bad.append(f"program {r.get('program')!r}, expected {program!r}")
if r.get("model") != model: bad.append(f"model {r.get('model')!r}, expected {model!r}")
est = {e["name"]: e["estimate"] for e in r.get("estimates", [])}
if len(r.get("estimates", [])) != int(count): bad.append(f"{len(est)} estimates {list(est)}, expected {count}")
for k in known:
    key, want = k.split("=")
    got = est.get(key, r.get(key))
    if not isinstance(got, (int, float)) or not math.isclose(got, float(want), rel_tol=1e-7):
        bad.append(f"{key} = {got}, expected {want}")
print("\n".join(bad) if bad else f"{len(est)} estimates: " + ", ".join(f"{k} {v:.6g}" for k, v in est.items()))
sys.exit(1 if bad else 0)
PY
  ); then
    ok "$name $file $options --json: program, model, $report"
  else
    fail "$name $file $options --json: $report"
  fi

  # --save and --predict (the data as the new cases), over files left by
  # the program before (replaced): a line per data row in each.
  status=0
  run "$exe" "C:\\data\\$file" "${opts[@]}" --save 'C:\data\saved.csv' \
    --predict "C:\\data\\$file" --predictions 'C:\data\predicted.csv' || status=$?
  lines=$(grep -c . "$DRIVE_C/data/$file")
  saved=$(grep -c . "$DRIVE_C/data/saved.csv" 2>/dev/null)
  predicted=$(grep -c . "$DRIVE_C/data/predicted.csv" 2>/dev/null)
  if [ "$status" -eq 0 ] && [ "$saved" = "$lines" ] && [ "$predicted" = "$lines" ] &&
    ! ls "$DRIVE_C/data/"*.partial >/dev/null 2>&1; then
    ok "$name --save and --predict: $saved and $predicted lines"
  else
    fail "$name --save/--predict: status $status, $saved and $predicted lines for $lines: $(cat "$err")"
  fi

  [ "$plotted" = 0 ] || continue
  plotted=1
  expect_failure "$name --save into a missing folder" 1 "$exe" "C:\\data\\$file" "${opts[@]}" \
    --save 'C:\missing\saved.csv'
  status=0
  png=$build/artifacts/models-$name-plot.png
  rm -f "$png"
  run "$exe" "C:\\data\\$file" "${opts[@]}" --plot 'C:\data\fit.svg' || status=$?
  if [ "$status" -ne 0 ] || [ ! -s "$DRIVE_C/data/fit.svg" ]; then
    fail "$name --plot: expected status 0 and C:\\data\\fit.svg; status $status: $(cat "$err")"
  elif ! rsvg-convert -o "$png" "$DRIVE_C/data/fit.svg" 2>"$err"; then
    fail "$name --plot: the SVG does not render: $(cat "$err")"
  else
    # A drawing, not an empty page: several colours, a sensible size.
    info=$(convert "$png" -format '%w %h %k' info:)
    read -r w h colours <<<"$info"
    if [ "$w" -ge 200 ] && [ "$h" -ge 150 ] && [ "$colours" -ge 3 ]; then
      ok "$name --plot: the SVG renders to $w x $h pixels, $colours colours ($png)"
    else
      fail "$name --plot: the rendered SVG looks empty: $w x $h pixels, $colours colours ($png)"
    fi
  fi
done

# A file over 4 MiB is read in byte ranges on several threads: the same fit
# as on one thread, and a row with a field too many late in the file still
# named by its line (the sequential read takes over).
python3 - "$DRIVE_C/data/big.csv" "$DRIVE_C/data/big-bad.csv" <<'PY'
import random, sys
random.seed(7)
lines = ["y,x1,x2,x3,x4"]
for i in range(90000):
    x = [random.gauss(0, 10) + j for j in range(1, 5)]
    y = 3 + sum((j % 3 - 1.2) * v for j, v in enumerate(x, 1)) + random.gauss(0, 0.5)
    lines.append(",".join("%.9e" % v for v in [y] + x))
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
lines[80000] += ",7"
open(sys.argv[2], "w").write("\n".join(lines) + "\n")
PY
exe=$build/models/programs/ROSKA_mid_15.exe
status=0
run "$exe" 'C:\data\big.csv' --json --threads 1 && cp "$out" "$WINEPREFIX/one.json" || status=$?
run "$exe" 'C:\data\big.csv' --json --threads 2 || status=$?
if [ "$status" -eq 0 ] && report=$(python3 - "$WINEPREFIX/one.json" "$out" <<'PY'
import json, math, sys
a, b = (json.load(open(f)) for f in sys.argv[1:3])
def digits(x, y):
    return 15.0 if x == y else -math.log10(abs(x - y) / abs(y))
worst = min(digits(p["estimate"], q["estimate"]) for p, q in zip(a["estimates"], b["estimates"]))
ok = a["n"] == b["n"] == 90000 and worst >= 13
print("%d rows, estimates agree to %.1f digits" % (b["n"], worst))
sys.exit(0 if ok else 1)
PY
); then
  ok "ROSKA_mid_15 on a 7 MB file, one thread and two: $report"
else
  fail "ROSKA_mid_15 on a 7 MB file, one thread and two: status $status, $report $(cat "$err")"
fi
status=0
run "$exe" 'C:\data\big-bad.csv' --json --threads 2 || status=$?
if [ "$status" -eq 1 ] && grep -q "line 80001" "$err"; then
  ok "ROSKA_mid_15 on two threads names a bad row's line: $(tr -d '\r' <"$err")"
else
  fail "ROSKA_mid_15 on two threads, a bad row on line 80001: status $status, $(cat "$err")"
fi
# The best curve-linear model keeps its rows, read on every core the same.
best_curve=$build/models/programs/TARN_curvelinear_17.exe
status=0
run "$best_curve" 'C:\data\big.csv' --y y --x x1 --json || status=$?
if [ "$status" -eq 0 ] && grep -q '"n": 90000' "$out"; then
  ok "TARN_curvelinear_17 reads a 7 MB file's 90000 rows on every core"
else
  fail "TARN_curvelinear_17 on a 7 MB file: status $status, $(head -c 300 "$out") $(cat "$err")"
fi
expect_failure "TARN_curvelinear_17 on every core, a bad row on line 80001" 1 \
  "$best_curve" 'C:\data\big-bad.csv' --y y --x x1 --json
grep -q "line 80001" "$err" || fail "TARN_curvelinear_17 names another line: $(cat "$err")"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ] && [ "$checks" -gt 0 ]
