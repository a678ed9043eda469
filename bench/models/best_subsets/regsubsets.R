# The peer's exhaustive best-subset search, timed alone (the data are read
# before the clock starts).
#   Rscript regsubsets.R DATA.csv OUT.tsv
# Prints "elapsed SECONDS cpu SECONDS" for regsubsets() and writes OUT.tsv:
# one line per size k, "k<TAB>rss<TAB>term,term,...", the RSS with 17 digits.
args <- commandArgs(trailingOnly = TRUE)
stopifnot(length(args) == 2)
suppressPackageStartupMessages(library(leaps))
data <- read.csv(args[1])
p <- ncol(data) - 1
timing <- system.time(
  fit <- regsubsets(y ~ ., data, nvmax = p, method = "exhaustive", really.big = TRUE)
)
s <- summary(fit)
which <- s$which[, colnames(s$which) != "(Intercept)", drop = FALSE]
k <- rowSums(which)
terms <- apply(which, 1, function(row) paste(colnames(which)[row], collapse = ","))
writeLines(sprintf("%d\t%.17g\t%s", k, s$rss, terms), args[2])
cat(sprintf("elapsed %.3f cpu %.3f\n", timing[["elapsed"]],
            timing[["user.self"]] + timing[["sys.self"]]))
