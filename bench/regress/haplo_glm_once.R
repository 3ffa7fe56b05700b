# One haplo.glm fit in a fresh R process, as a user fitting one region per
# run would start it: loading haplo.stats, reading the region, the fit.
# Usage: Rscript haplo_glm_once.R WORK/rK   (a region of bench/regress/run)
suppressMessages(library(haplo.stats))
stem <- commandArgs(TRUE)[1]
ped <- read.table(paste0(stem, ".ped"))
cov <- read.table(paste0(stem, ".covar"), header = TRUE)
d <- data.frame(y = ped[, 6] - 1, age = cov$age)
d$geno <- setupGeno(as.matrix(ped[, 7:14]))
ctl <- haplo.glm.control(haplo.freq.min = 0.01,
                         em.c = haplo.em.control(n.try = 1, insert.batch.size = 4))
fit <- haplo.glm(y ~ geno + age, family = binomial, data = d, control = ctl)
