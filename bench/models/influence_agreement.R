# Agreement of the model programs' saved values, predictions and
# diagnostics with R's own functions: digits of agreement (LRE, at most 15)
# per quantity, the worst over the rows, as a markdown table.
#   Rscript influence_agreement.R make DIR         writes the data files
#   Rscript influence_agreement.R compare DIR      compares DIR/<case>.* with R
suppressPackageStartupMessages({
  library(lmtest)
  library(car)
})
args <- commandArgs(trailingOnly = TRUE)
dir <- args[2]
path <- function(name) file.path(dir, name)

# Digits of agreement of got with reference, the worst over the values.
lre <- function(got, ref) {
  stopifnot(length(got) == length(ref))
  keep <- !(is.na(ref) & is.na(got))
  got <- got[keep]; ref <- ref[keep]
  if (any(is.na(got) != is.na(ref))) return(0)
  d <- ifelse(ref == 0, -log10(abs(got)), -log10(abs(got - ref) / abs(ref)))
  d[!is.finite(d) & got == ref] <- 15
  min(15, d)
}

# Data: mtcars with two rows made incomplete (skipped), a weight column;
# Puromycin's treated rows for the non-linear model.
make <- function() {
  d <- mtcars[, c("mpg", "wt", "hp", "qsec", "disp")]
  d$w <- round(1 + (seq_len(nrow(d)) %% 5) / 2, 1)
  d$hp[5] <- NA
  d$mpg[17] <- NA
  write.csv(d, path("cars.csv"), row.names = FALSE, na = "")
  new <- data.frame(id = c("a", "b", "c", "d"), wt = c(2.5, 3.1, NA, 4.2),
                    hp = c(100, 150, 120, 250), qsec = c(18, 17.5, 19, 16))
  write.csv(new, path("cars-new.csv"), row.names = FALSE, na = "")
  p <- Puromycin[Puromycin$state == "treated", c("rate", "conc")]
  write.csv(p, path("puromycin.csv"), row.names = FALSE)
  write.csv(data.frame(conc = c(0.03, 0.3, 0.9)), path("puromycin-new.csv"), row.names = FALSE)
}

rows <- list()
add <- function(case, quantity, value) {
  rows[[length(rows) + 1]] <<- data.frame(case = case, quantity = quantity, digits = value)
}

# The saved file against fitted, residuals, rstandard, hatvalues,
# cooks.distance; skipped rows must be empty in both.
compare_saved <- function(case, fit, saved) {
  used <- as.integer(names(fitted(fit)))
  full <- function(v) { out <- rep(NA_real_, nrow(saved)); out[used] <- v; out }
  add(case, "fitted", lre(saved$fitted, full(fitted(fit))))
  add(case, "residual", lre(saved$residual, full(residuals(fit))))
  add(case, "std_residual (rstandard)", lre(saved$std_residual, full(rstandard(fit))))
  add(case, "leverage (hatvalues)", lre(saved$leverage, full(hatvalues(fit))))
  add(case, "cooks_distance", lre(saved$cooks_distance, full(cooks.distance(fit))))
}

compare_predicted <- function(case, fit, new, got, level) {
  ci <- predict(fit, new, interval = "confidence", level = level, se.fit = TRUE)
  pi <- predict(fit, new, interval = "prediction", level = level)
  add(case, "predict fit", lre(got$fit, ci$fit[, "fit"]))
  add(case, "predict se_fit", lre(got$se_fit, ci$se.fit))
  add(case, "confidence interval", lre(c(got$ci_low, got$ci_high), c(ci$fit[, "lwr"], ci$fit[, "upr"])))
  add(case, "prediction interval", lre(c(got$pi_low, got$pi_high), c(pi[, "lwr"], pi[, "upr"])))
}

diagnostic <- function(case) {
  d <- read.csv(path(paste0(case, ".diagnostics.csv")), stringsAsFactors = FALSE)
  setNames(d$value, d$name)
}

compare_diagnostics <- function(case, fit) {
  got <- diagnostic(case)
  e <- residuals(fit)
  add(case, "Durbin-Watson", lre(got[["durbin_watson"]], sum(diff(e)^2) / sum(e^2)))
  bp <- bptest(fit)
  add(case, "Breusch-Pagan statistic, p", lre(c(got[["bp_statistic"]], got[["bp_p"]]),
                                                c(unname(bp$statistic), bp$p.value)))
  n <- length(e); m <- e - mean(e)
  s <- mean(m^3) / mean(m^2)^1.5; k <- mean(m^4) / mean(m^2)^2
  jb <- n / 6 * (s^2 + (k - 3)^2 / 4)
  add(case, "Jarque-Bera statistic, p", lre(c(got[["jb_statistic"]], got[["jb_p"]]),
                                              c(jb, pchisq(jb, 2, lower.tail = FALSE))))
  X <- model.matrix(fit)
  add(case, "condition number", lre(got[["condition_number"]],
                                    kappa(sweep(X, 2, sqrt(colSums(X^2)), "/"), exact = TRUE)))
  v <- vif(fit)
  add(case, "VIF (car::vif)", lre(unname(got[paste0("vif.", names(v))]), unname(v)))
}

compare <- function() {
  cars <- read.csv(path("cars.csv"))
  new <- read.csv(path("cars-new.csv"))
  level <- 0.9
  fit <- lm(mpg ~ wt + hp + qsec, data = cars)
  compare_saved("linear, 2 rows skipped", fit, read.csv(path("linear.saved.csv")))
  ok <- complete.cases(new[, c("wt", "hp", "qsec")])
  got <- read.csv(path("linear.predicted.csv"))
  stopifnot(all(is.na(got$fit[!ok])))
  compare_predicted("linear, 2 rows skipped", fit, new[ok, ], got[ok, ], level)
  compare_diagnostics("linear", fit)

  poly3 <- lm(mpg ~ hp + I(hp^2) + I(hp^3), data = cars)
  compare_saved("curve-linear, degree 3", poly3, read.csv(path("curve.saved.csv")))
  compare_predicted("curve-linear, degree 3", poly3, new, read.csv(path("curve.predicted.csv")), level)

  if (file.exists(path("weighted.saved.csv"))) {
    wfit <- lm(mpg ~ wt + hp + qsec, data = cars, weights = w)
    compare_saved("weighted linear", wfit, read.csv(path("weighted.saved.csv")))
    compare_predicted("weighted linear", wfit, new[ok, ],
                      read.csv(path("weighted.predicted.csv"))[ok, ], level)
  }

  # Non-linear: the linearised hat matrix and the delta method, from the
  # Jacobian R's nls holds at its solution.
  pur <- read.csv(path("puromycin.csv"))
  # nls stops at about 6 digits (its default tolerance, and it refuses a
  # much tighter one) and differentiates numerically (about 8 digits):
  # Gauss-Newton steps with the exact Jacobian take its solution to the
  # last digits. The estimates are compared there; the saved values and the
  # predictions are R's formulas evaluated at our estimates (the minimum is
  # flat: estimates that differ in the ninth digit give the same RSS to 15).
  nfit <- nls(rate ~ Vm * conc / (K + conc), data = pur, start = list(Vm = 200, K = 0.05))
  model <- function(b, conc) b[["Vm"]] * conc / (b[["K"]] + conc)
  jacobian <- function(b, conc)
    cbind(conc / (b[["K"]] + conc), -b[["Vm"]] * conc / (b[["K"]] + conc)^2)
  b <- coef(nfit)
  for (i in 1:20) b <- b + qr.coef(qr(jacobian(b, pur$conc)), pur$rate - model(b, pur$conc))
  ours <- read.csv(path("nonlinear.estimates.csv"))
  ours <- setNames(ours$value, ours$name)[names(b)]
  add("non-linear (Puromycin)", "estimates (R's solution, converged)", lre(ours, b))
  b <- ours
  J <- jacobian(b, pur$conc)
  e <- pur$rate - model(b, pur$conc)
  df <- nrow(pur) - 2
  s <- sqrt(sum(e^2) / df)
  h <- rowSums(qr.Q(qr(J))^2)
  std <- e / (s * sqrt(1 - h))
  saved <- read.csv(path("nonlinear.saved.csv"))
  add("non-linear (Puromycin)", "fitted", lre(saved$fitted, model(b, pur$conc)))
  add("non-linear (Puromycin)", "leverage (Jacobian's hat matrix)", lre(saved$leverage, h))
  add("non-linear (Puromycin)", "std_residual", lre(saved$std_residual, std))
  add("non-linear (Puromycin)", "cooks_distance", lre(saved$cooks_distance, std^2 * h / (2 * (1 - h))))
  pnew <- read.csv(path("puromycin-new.csv"))
  g <- jacobian(b, pnew$conc)
  se <- sqrt(rowSums((g %*% solve(qr.R(qr(J))))^2)) * s
  f <- model(b, pnew$conc)
  t <- qt(1 - (1 - level) / 2, df)
  got <- read.csv(path("nonlinear.predicted.csv"))
  add("non-linear (Puromycin)", "predict fit, se_fit", lre(c(got$fit, got$se_fit), c(f, se)))
  add("non-linear (Puromycin)", "intervals (delta method)",
      lre(c(got$ci_low, got$ci_high, got$pi_low, got$pi_high),
          c(f - t * se, f + t * se, f - t * sqrt(se^2 + s^2), f + t * sqrt(se^2 + s^2))))

  out <- do.call(rbind, rows)
  cat("| case | quantity | digits |\n|---|---|---:|\n")
  for (i in seq_len(nrow(out)))
    cat(sprintf("| %s | %s | %.1f |\n", out$case[i], out$quantity[i], out$digits[i]))
}

if (args[1] == "make") make() else compare()
