"""Benchmark (not a test): what the check for a lower minimum costs on
NIST's 27 non-linear problems from both starts (54 runs): model evaluations
of the runs, points of the check's grid, and fit time with and without the
check (the best of REPEATS runs each, timed inside the helper).

    python3 nist_cost.py FIT_ONE NIST_DIR WORKDIR [REPEATS]
"""
import json
import subprocess
import sys


def fit(fit_one, args):
    out = subprocess.run([fit_one] + args, capture_output=True, text=True, timeout=600).stdout
    return json.loads(out.strip().splitlines()[-1])


def main():
    fit_one, nist, work = sys.argv[1:4]
    repeats = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    sets = json.load(open(f"{nist}/certified.json"))
    rows = ["| runs | evaluations (no check) | evaluations + grid points (check) | time, no check | time, check | ratio |",
            "|---|---:|---:|---:|---:|---:|"]
    total = {"ev0": 0, "ev1": 0, "grid": 0, "t0": 0.0, "t1": 0.0, "restarted": 0}
    for name, d in sorted(sets.items()):
        if d["kind"] != "nls":
            continue
        lines = open(f"{nist}/{name}.dat").read().splitlines()
        first, last = d["data_lines"]
        csv = f"{work}/{name}.csv"
        with open(csv, "w") as f:
            f.write(",".join(d["columns"]) + "\n")
            for line in lines[first - 1:last]:
                f.write(",".join(line.split()) + "\n")
        formula = d["model"].replace("arctan", "atan")
        for start in ("start1", "start2"):
            starts = ", ".join(f"{p}={v!r}" for p, v in zip(d["parameters"], d[start]))
            t0 = t1 = None
            for _ in range(repeats):
                plain = fit(fit_one, ["--no-check", csv, formula, starts])
                checked = fit(fit_one, [csv, formula, starts])
                t0 = plain["seconds"] if t0 is None else min(t0, plain["seconds"])
                t1 = checked["seconds"] if t1 is None else min(t1, checked["seconds"])
            total["ev0"] += plain["evaluations"]
            total["ev1"] += checked["evaluations"]
            total["grid"] += checked["grid_points"]
            total["restarted"] += checked["restarted"] and not plain["restarted"]
            total["t0"] += t0
            total["t1"] += t1
    rows.append(f"| 54 | {total['ev0']} | {total['ev1']} + {total['grid']} | "
                f"{total['t0']:.3f} s | {total['t1']:.3f} s | {total['t1'] / total['t0']:.2f} |")
    print("\n".join(rows))
    print(f"\nruns the check moved to a lower minimum: {total['restarted']}")


if __name__ == "__main__":
    main()
