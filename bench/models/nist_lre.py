#!/usr/bin/env python3
"""Digits of accuracy of the linear programs on the NIST linear datasets.

  nist_lre.py plan CERTIFIED.json NIST_DIR OUT_DIR
      writes OUT_DIR/<name>.csv for each linear dataset and prints one line per
      run: "<name> <program> <option>...", the program being "linear" or "curve".
  nist_lre.py table CERTIFIED.json OUT_DIR
      reads OUT_DIR/<name>.json (a program's --json report) and prints a
      markdown table of LRE digits: the worst over the estimates, the worst
      over their standard errors, the residual SD and R².

LRE = -log10(|got - certified| / |certified|), at most 15; where the
certified value is 0, -log10|got|. A run without a report counts 0 digits.
"""
import json
import math
import os
import sys

CAP = 15.0


def lre(got, certified):
    if got is None or not math.isfinite(got):
        return 0.0
    if certified == 0:
        error = abs(got)
    else:
        error = abs(got - certified) / abs(certified)
    if error == 0:
        return CAP
    return max(0.0, min(CAP, -math.log10(error)))


def linear_sets(certified):
    return {name: entry for name, entry in certified.items() if entry.get("kind") == "lls"}


def plan(certified, nist_dir, out_dir):
    for name, entry in sorted(linear_sets(certified).items()):
        first, last = entry["data_lines"]
        with open(os.path.join(nist_dir, os.path.basename(entry["file"])), encoding="ascii") as f:
            lines = f.read().splitlines()[first - 1:last]
        rows = [line.split() for line in lines if line.strip()]
        assert len(rows) == entry["observations"], name
        with open(os.path.join(out_dir, name + ".csv"), "w", encoding="ascii", newline="\n") as f:
            f.write(",".join(entry["csv_header"]) + "\n")
            for row in rows:
                f.write(",".join(row) + "\n")
        # A polynomial in one x (terms 1, x, x^2, ...) goes to the curve-linear
        # program with its degree; the others to the linear program.
        polynomial = len(entry["x_columns"]) == 1 and entry["n_parameters"] > 2 and entry["intercept"]
        if polynomial:
            print(name, "curve", "--degree", entry["n_parameters"] - 1)
        elif entry["intercept"]:
            print(name, "linear")
        else:
            print(name, "linear", "--no-intercept")


def table(certified, out_dir):
    print("| dataset | program | estimates | standard errors | residual SD | R² |")
    print("|---|---|---:|---:|---:|---:|")
    worst = [CAP] * 4
    for name, entry in sorted(linear_sets(certified).items()):
        path = os.path.join(out_dir, name + ".json")
        report = None
        if os.path.exists(path):
            try:
                with open(path, encoding="utf-8") as f:
                    report = json.load(f)
            except ValueError:
                report = None
        program = open(os.path.join(out_dir, name + ".program")).read().strip() \
            if os.path.exists(os.path.join(out_dir, name + ".program")) else "?"
        if report is None:
            cells = [0.0] * 4
        else:
            estimates = report.get("estimates", [])
            values = [e.get("estimate") for e in estimates]
            errors = [e.get("std_error") for e in estimates]
            if len(values) != len(entry["certified_values"]):
                cells = [0.0] * 4
            else:
                cells = [
                    min(lre(g, c) for g, c in zip(values, entry["certified_values"])),
                    min(lre(g, c) for g, c in zip(errors, entry["certified_std_dev"])),
                    lre(report.get("residual_sd"), entry["residual_std_dev"]),
                    lre(report.get("r_squared"), entry["r_squared"]),
                ]
        worst = [min(w, c) for w, c in zip(worst, cells)]
        print("| %s | %s | %s |" % (name, program, " | ".join("%.1f" % c for c in cells)))
    print("| **worst** | | %s |" % " | ".join("**%.1f**" % c for c in worst))


def main(argv):
    if len(argv) == 5 and argv[1] == "plan":
        with open(argv[2], encoding="utf-8") as f:
            plan(json.load(f), argv[3], argv[4])
    elif len(argv) == 4 and argv[1] == "table":
        with open(argv[2], encoding="utf-8") as f:
            table(json.load(f), argv[3])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
