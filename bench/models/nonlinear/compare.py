"""Benchmark (not a test): R's self-start examples, fitted by R's nls with
the self-start models (and confint's profile intervals), and by ours; then
each from a deliberately bad start, by R's nls, minpack.lm's nlsLM, scipy's
curve_fit and ours. Prints the markdown tables of docs/models.md.

    python3 compare.py FIT_ONE WORKDIR

FIT_ONE is the helper built from fit_one.cpp; WORKDIR receives the data
files (written by R) and the peers' answers.
"""
import json
import math
import subprocess
import sys

import numpy as np
from scipy.optimize import curve_fit

# name, R data expression, response, R self-start call, explicit formula (R's
# parameters), a rough start (one or two digits of R's answer), a bad start
# (a sign slip or a factor of 100), what the bad start is.
EXAMPLES = [
    ("Puromycin (SSmicmen)", 'Puromycin[Puromycin$state == "treated", c("rate", "conc")]',
     "rate ~ SSmicmen(conc, Vm, K)", "rate ~ Vm*conc/(K+conc)",
     {"Vm": 200, "K": 0.1}, {"Vm": 200, "K": -0.05}, "K sign slip"),
    ("BOD (exp(lrc) rate)", "BOD", None, "demand ~ A*(1-exp(-exp(lrc)*Time))",
     {"A": 20, "lrc": -0.5}, {"A": 20, "lrc": -50}, "lrc x 100"),
    ("Loblolly 329 (SSasymp)", 'Loblolly[Loblolly$Seed == "329", c("height", "age")]',
     "height ~ SSasymp(age, Asym, R0, lrc)", "height ~ Asym+(R0-Asym)*exp(-exp(lrc)*age)",
     {"Asym": 100, "R0": -8, "lrc": -3}, {"Asym": 100, "R0": -8, "lrc": 3}, "lrc sign slip"),
    ("Loblolly 329 (SSasympOrig)", 'Loblolly[Loblolly$Seed == "329", c("height", "age")]',
     "height ~ SSasympOrig(age, Asym, lrc)", "height ~ Asym*(1-exp(-exp(lrc)*age))",
     {"Asym": 90, "lrc": -3.4}, {"Asym": 90, "lrc": 3.4}, "lrc sign slip"),
    ("CO2 Qn1 (SSasympOff)", 'as.data.frame(CO2[CO2$Plant == "Qn1", c("uptake", "conc")])',
     "uptake ~ SSasympOff(conc, Asym, lrc, c0)", "uptake ~ Asym*(1-exp(-exp(lrc)*(conc-c0)))",
     {"Asym": 40, "lrc": -4.6, "c0": 50}, {"Asym": 40, "lrc": 4.6, "c0": 50}, "lrc sign slip"),
    ("Indometh 1 (SSbiexp)", 'as.data.frame(Indometh[Indometh$Subject == 1, c("conc", "time")])',
     "conc ~ SSbiexp(time, A1, lrc1, A2, lrc2)",
     "conc ~ A1*exp(-exp(lrc1)*time)+A2*exp(-exp(lrc2)*time)",
     {"A1": 2, "lrc1": 0.8, "A2": 0.2, "lrc2": -1.6},
     {"A1": 2, "lrc1": -0.8, "A2": 0.2, "lrc2": -1.6}, "lrc1 sign slip"),
    ("ChickWeight 1 (SSlogis)", 'as.data.frame(ChickWeight[ChickWeight$Chick == 1, c("weight", "Time")])',
     "weight ~ SSlogis(Time, Asym, xmid, scal)", "weight ~ Asym/(1+exp((xmid-Time)/scal))",
     {"Asym": 900, "xmid": 35, "scal": 11}, {"Asym": 900, "xmid": 35, "scal": -11}, "scal sign slip"),
    ("ChickWeight 1 (SSfpl)", 'as.data.frame(ChickWeight[ChickWeight$Chick == 1, c("weight", "Time")])',
     "weight ~ SSfpl(Time, A, B, xmid, scal)", "weight ~ A+(B-A)/(1+exp((xmid-Time)/scal))",
     {"A": 30, "B": 350, "xmid": 20, "scal": 6}, {"A": 30, "B": 350, "xmid": 20, "scal": -6},
     "scal sign slip"),
    ("DNase 1 (SSgompertz)", 'transform(DNase[DNase$Run == 1, c("density", "conc")], lconc = log(conc))',
     "density ~ SSgompertz(lconc, Asym, b2, b3)", "density ~ Asym*exp(-b2*b3^lconc)",
     {"Asym": 4.6, "b2": 2.3, "b3": 0.7}, {"Asym": 4.6, "b2": 230, "b3": 0.7}, "b2 x 100"),
    ("ChickWeight 6 (SSweibull)",
     'as.data.frame(subset(ChickWeight, Chick == 6 & Time > 0)[, c("weight", "Time")])',
     "weight ~ SSweibull(Time, Asym, Drop, lrc, pwr)", "weight ~ Asym-Drop*exp(-exp(lrc)*Time^pwr)",
     {"Asym": 160, "Drop": 115, "lrc": -5.9, "pwr": 2.7},
     {"Asym": 160, "Drop": 115, "lrc": 5.9, "pwr": 2.7}, "lrc sign slip"),
]

R_FIT = r'''
suppressMessages({library(MASS); library(minpack.lm)})
args <- commandArgs(TRUE)
d <- read.csv(args[1])
form <- as.formula(args[2])
start <- eval(parse(text = args[3]))
how <- args[4]
out <- function(fit, ci) {
  if (inherits(fit, "try-error")) {
    cat(sprintf('{"converged": false, "reason": %s}\n', deparse(trimws(as.character(fit)))))
    return(invisible())
  }
  est <- coef(fit)
  s <- paste(sprintf('"%s": %.15g', names(est), est), collapse = ", ")
  cat(sprintf('{"converged": true, "rss": %.15g, "estimates": {%s}', deviance(fit), s))
  if (!is.null(ci)) {
    if (inherits(ci, "try-error")) cat(', "profile": null') else {
      ci <- matrix(ci, ncol = 2)
      e <- function(v) if (is.na(v)) "null" else sprintf("%.15g", v)
      cat(', "profile": {', paste(sprintf('"%s": [%s, %s]', names(est),
          sapply(ci[, 1], e), sapply(ci[, 2], e)), collapse = ", "), '}', sep = "")
    }
  }
  cat("}\n")
}
if (how == "self") {
  fit <- try(nls(form, d), silent = TRUE)
  ci <- if (inherits(fit, "try-error")) NULL else try(suppressMessages(confint(fit)), silent = TRUE)
  out(fit, ci)
} else if (how == "nlsci") {
  fit <- try(nls(form, d, start = start), silent = TRUE)
  ci <- if (inherits(fit, "try-error")) NULL else try(suppressMessages(confint(fit)), silent = TRUE)
  out(fit, ci)
} else if (how == "nls") {
  out(try(nls(form, d, start = start), silent = TRUE), NULL)
} else {
  out(try(nlsLM(form, d, start = start, control = nls.lm.control(maxiter = 1000)),
          silent = TRUE), NULL)
}
'''


def run_json(cmd):
    p = subprocess.run(cmd, capture_output=True, text=True, timeout=600)
    line = [l for l in p.stdout.splitlines() if l.startswith("{")]
    if not line:
        return {"converged": False, "reason": (p.stderr or p.stdout).strip()[:80]}
    return json.loads(line[-1])


def r_list(start):
    return "list(" + ", ".join(f"{k} = {v!r}" for k, v in start.items()) + ")"


def ours_start(start):
    return ", ".join(f"{k}={v!r}" for k, v in start.items())


def scipy_fit(csv, formula, start):
    data = np.genfromtxt(csv, delimiter=",", names=True)
    lhs, rhs = [s.strip() for s in formula.split("~")]
    names = list(start)
    expr = rhs.replace("^", "**")
    env = {"exp": np.exp, "log": np.log}

    def model(_, *b):
        scope = dict(env)
        scope.update({c: data[c] for c in data.dtype.names})
        scope.update(dict(zip(names, b)))
        return eval(expr, scope)

    try:
        with np.errstate(all="ignore"):
            b, _ = curve_fit(model, None, data[lhs], p0=list(start.values()), method="lm",
                             ftol=1e-15, xtol=1e-15, gtol=0, maxfev=20000)
            r = data[lhs] - model(None, *b)
        rss = float(r @ r)
        if not math.isfinite(rss):
            return {"converged": False, "reason": "not finite"}
        return {"converged": True, "rss": rss, "estimates": dict(zip(names, map(float, b)))}
    except Exception as e:  # the peer's own failure is a result here
        return {"converged": False, "reason": str(e)[:60]}


def digits(a, b):
    if a is None or b is None:
        return None
    if a == b:
        return 15.0
    return min(15.0, -math.log10(abs(a - b) / abs(b)))


def fmt(v, n=6):
    return "-" if v is None else f"{v:.{n}g}"


def main():
    fit_one, work = sys.argv[1], sys.argv[2]
    with open(f"{work}/fit.R", "w") as f:
        f.write(R_FIT)
    table1 = ["| example | R nls RSS | ours RSS | estimates: worst digits | R confint ends (MASS) | ours (exact profile-t) | ends: worst digits |",
              "|---|---:|---:|---:|---|---|---:|"]
    table2 = ["| example | bad start | R nls | nlsLM | scipy | ours |",
              "|---|---|---|---|---|---|"]
    for name, data_expr, self_call, formula, good, bad, what in EXAMPLES:
        csv = f"{work}/{abs(hash(name))}.csv"
        subprocess.run(["Rscript", "-e", f"write.csv({data_expr}, '{csv}', row.names = FALSE)"],
                       check=True, capture_output=True)
        # Without a self-start model (BOD): nls from the rough start.
        r_self = run_json(["Rscript", f"{work}/fit.R", csv, self_call or formula,
                           r_list(good), "self" if self_call else "nlsci"])
        ours = run_json([fit_one, csv, formula, ours_start(good), "0.95"])
        worst = None
        ends_r, ends_o, worst_end = [], [], None
        if r_self.get("converged") and ours.get("converged"):
            for k, v in r_self["estimates"].items():
                d = digits(ours["estimates"].get(k), v)
                worst = d if worst is None else min(worst, d)
            prof_r = r_self.get("profile") or {}
            prof_o = ours.get("profile") or {}
            for k in r_self["estimates"]:
                pr, po = prof_r.get(k, [None, None]), prof_o.get(k, [None, None])
                ends_r.append(f"{k} {fmt(pr[0])}, {fmt(pr[1])}")
                ends_o.append(f"{k} {fmt(po[0])}, {fmt(po[1])}")
                for a, b in zip(po, pr):
                    d = digits(a, b)
                    if d is not None:
                        worst_end = d if worst_end is None else min(worst_end, d)
        table1.append(f"| {name} | {fmt(r_self.get('rss'), 8)} | {fmt(ours.get('rss'), 8)} | "
                      f"{fmt(worst, 3)} | {'; '.join(ends_r)} | {'; '.join(ends_o)} | {fmt(worst_end, 3)} |")

        def cell(res):
            if not res.get("converged"):
                return "fails"
            extra = " (restarted)" if res.get("restarted") else ""
            return f"RSS {fmt(res['rss'], 7)}{extra}"
        bad_r = run_json(["Rscript", f"{work}/fit.R", csv, formula, r_list(bad), "nls"])
        bad_lm = run_json(["Rscript", f"{work}/fit.R", csv, formula, r_list(bad), "lm"])
        bad_sp = scipy_fit(csv, formula, bad)
        bad_o = run_json([fit_one, csv, formula, ours_start(bad)])
        table2.append(f"| {name} | {what} | {cell(bad_r)} | {cell(bad_lm)} | {cell(bad_sp)} | {cell(bad_o)} |")
        print(name, "done", file=sys.stderr)
    print("\n".join(table1))
    print()
    print("\n".join(table2))


if __name__ == "__main__":
    main()
