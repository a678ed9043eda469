#!/usr/bin/env python3
"""Helpers of scripts/bench-best.

  best_report.py compare OURS.json PEER.tsv
      checks that the best subset of every size in the best linear program's
      report ("candidates", indexed by k) is the peer's (PEER.tsv: lines
      "k<TAB>rss<TAB>term,term,..."), and that the residual sums of squares
      agree. Prints one line "sizes N same N rss_digits D" and, for each size
      that differs, both subsets and both RSS; exits 1 on any difference.
  best_report.py nist-csv CERTIFIED.json NIST_DIR OUT_DIR NAME...
      writes OUT_DIR/NAME.csv (header y,x) from the NIST data lines.
  best_report.py degrees CERTIFIED.json OUT_DIR PLAN
      PLAN lines "NAME MAXDEG CRITERION..."; reads OUT_DIR/NAME.MAXDEG.CRITERION.json
      and prints a markdown table of the chosen degrees, then the digits
      (LRE) of the coefficients wherever the certified degree was chosen.
"""
import json
import math
import os
import sys

CAP = 15.0


def lre(got, certified):
    if got is None or not math.isfinite(got):
        return 0.0
    error = abs(got) if certified == 0 else abs(got - certified) / abs(certified)
    return CAP if error == 0 else max(0.0, min(CAP, -math.log10(error)))


def load_json(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def compare(ours_path, peer_path):
    report = load_json(ours_path)
    if report is None:
        print("no report from the program")
        return 1
    ours = {}
    for c in report.get("candidates", []):
        ours[c["k"]] = (frozenset(c["terms"]), c["rss"])
    peer = {}
    with open(peer_path, encoding="utf-8") as f:
        for line in f:
            k, rss, terms = line.rstrip("\n").split("\t")
            peer[int(k)] = (frozenset(t for t in terms.split(",") if t), float(rss))
    same, digits, problems = 0, CAP, []
    for k in sorted(set(ours) | set(peer)):
        if k == 0 and k not in peer:
            continue  # the intercept alone: the peer has no such row
        if k not in ours or k not in peer:
            problems.append("k=%d: only in %s" % (k, "ours" if k in ours else "the peer"))
            continue
        (our_terms, our_rss), (peer_terms, peer_rss) = ours[k], peer[k]
        if our_terms == peer_terms:
            same += 1
            digits = min(digits, lre(our_rss, peer_rss))
        else:
            problems.append("k=%d: ours %s RSS %.17g; peer %s RSS %.17g" % (
                k, ",".join(sorted(our_terms, key=natural)), our_rss,
                ",".join(sorted(peer_terms, key=natural)), peer_rss))
    print("sizes %d same %d rss_digits %.1f" % (len(peer), same, digits))
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


def natural(name):
    digits = "".join(ch for ch in name if ch.isdigit())
    return (int(digits) if digits else -1, name)


def nist_csv(certified, nist_dir, out_dir, names):
    for name in names:
        entry = certified[name]
        first, last = entry["data_lines"]
        with open(os.path.join(nist_dir, os.path.basename(entry["file"])), encoding="ascii") as f:
            rows = [line.split() for line in f.read().splitlines()[first - 1:last] if line.strip()]
        assert len(rows) == entry["observations"], name
        with open(os.path.join(out_dir, name + ".csv"), "w", encoding="ascii", newline="\n") as f:
            f.write(",".join(entry["csv_header"]) + "\n")
            f.writelines(",".join(row) + "\n" for row in rows)
    return 0


def degrees(certified, out_dir, plan_path):
    plan = []
    with open(plan_path, encoding="utf-8") as f:
        for line in f:
            name, max_degree, *criteria = line.split()
            plan.append((name, int(max_degree), criteria))
    criteria = plan[0][2]
    print("| dataset (certified degree) | max degree | " + " | ".join(criteria) + " |")
    print("|---|---:|" + "---:|" * len(criteria))
    checks = []
    for name, max_degree, crits in plan:
        entry = certified[name]
        certified_degree = entry["n_parameters"] - 1
        cells = []
        for crit in crits:
            report = load_json(os.path.join(out_dir, "%s.%d.%s.json" % (name, max_degree, crit)))
            if report is None or "degree" not in report:
                cells.append("failed")
                continue
            degree = report["degree"]
            cells.append(str(degree))
            if degree == certified_degree:
                got = [e.get("estimate") for e in report.get("estimates", [])]
                want = entry["certified_values"]
                worst = min(lre(g, c) for g, c in zip(got, want)) if len(got) == len(want) else 0.0
                checks.append((name, max_degree, crit, worst))
        print("| %s (%d) | %d | %s |" % (name, certified_degree, max_degree, " | ".join(cells)))
    print()
    print("Coefficients where the certified degree was chosen: worst digits (LRE) over B0..Bd")
    print()
    print("| dataset | max degree | criterion | worst LRE | >= 13 |")
    print("|---|---:|---|---:|---|")
    for name, max_degree, crit, worst in checks:
        print("| %s | %d | %s | %.1f | %s |" % (name, max_degree, crit, worst,
                                            "yes" if worst >= 13 else "**no**"))
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "compare":
        return compare(argv[2], argv[3])
    if len(argv) >= 6 and argv[1] == "nist-csv":
        with open(argv[2], encoding="utf-8") as f:
            return nist_csv(json.load(f), argv[3], argv[4], argv[5:])
    if len(argv) == 5 and argv[1] == "degrees":
        with open(argv[2], encoding="utf-8") as f:
            return degrees(json.load(f), argv[3], argv[4])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
