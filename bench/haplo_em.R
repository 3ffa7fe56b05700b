# haplo.em (R package haplo.stats) on an estimator input file, single start.
# Usage: Rscript haplo_em.R FILE.hf
# Prints "seconds=... lnlike=... converge=... haplotypes=... removed=...";
# seconds is the time of the haplo.em call alone.
args <- commandArgs(trailingOnly = TRUE)
suppressMessages(library(haplo.stats))
d <- read.table(args[1], skip = 1)
geno <- as.matrix(d[, -(1:2)])
set.seed(1)
t <- system.time(
    fit <- haplo.em(geno, miss.val = c(0, NA),
                    control = haplo.em.control(n.try = 1)))
cat(sprintf("seconds=%.3f lnlike=%.4f converge=%d haplotypes=%d removed=%d\n",
            t[["elapsed"]], fit$lnlike, as.integer(fit$converge),
            length(fit$hap.prob), length(fit$rows.rem)))
