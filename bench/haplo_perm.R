# Case-control permutation tests with haplo.stats on the CC6 files.
# Usage: Rscript haplo_perm.R FILE.hf FILE.cases.hf PERMUTATIONS
#
# 1. haplo.score with simulate = TRUE: one haplo.em fit, then the trait is
#    permuted and only the score statistics are recomputed from that fit's
#    posteriors; no EM is re-run per permutation (haplo.cc works the same
#    way, through haplo.score).
# 2. The test hfp makes, written out with haplo.em: every pass estimates the
#    pooled sample, the cases and the controls (three single-start EM runs)
#    and takes 2 (lnL cases + lnL controls - lnL pooled); pass 0 is the
#    observed labelling, passes 1..PERMUTATIONS permute the labels.
# Prints one "key=value" line per test; seconds exclude R start-up and input.
args <- commandArgs(trailingOnly = TRUE)
suppressMessages(library(haplo.stats))
d <- read.table(args[1], skip = 1)
cases <- read.table(args[2], skip = 1)[, 1]
nperm <- as.integer(args[3])
geno <- as.matrix(d[, -(1:2)])
y <- as.integer(d[, 1] %in% cases)
ctl <- haplo.em.control(n.try = 1)
set.seed(1)

t <- system.time(
    sc <- haplo.score(y, geno, trait.type = "binomial", miss.val = c(0, NA),
                      simulate = TRUE,
                      sim.control = score.sim.control(min.sim = nperm,
                                                      max.sim = nperm),
                      em.control = ctl))
cat(sprintf("test=haplo.score seconds=%.3f simulations=%d global_p=%.5f global_sim_p=%.5f\n",
            t[["elapsed"]], as.integer(sc$n.val.global), sc$score.global.p,
            sc$score.global.p.sim))
flush.console()

lnl <- function(g) haplo.em(g, miss.val = c(0, NA), control = ctl)$lnlike
stat <- function(lab)
    2 * (lnl(geno[lab == 1, , drop = FALSE]) +
         lnl(geno[lab != 1, , drop = FALSE]) - lnl(geno))
t <- system.time({
    observed <- stat(y)
    count <- 0
    lab <- y
    for (i in seq_len(nperm)) {
        lab <- sample(lab)
        if (stat(lab) >= observed) count <- count + 1
    }
})
cat(sprintf("test=haplo.em-loop seconds=%.3f passes=%d per_pass=%.5f observed=%.4f p=%.5f\n",
            t[["elapsed"]], nperm + 1, t[["elapsed"]] / (nperm + 1), observed,
            count / nperm))
