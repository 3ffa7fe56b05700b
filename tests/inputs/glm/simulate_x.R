# Writes x.ped, x.map and x.pheno: a small X-chromosome sample (2 SNPs,
# 22 males, 34 females) for the brute-force reference of the haplotype GLM.
# Usage: Rscript simulate_x.R [DIR]   (fixed seed: the same files every run)
args <- commandArgs(trailingOnly = TRUE)
dir <- if (length(args)) args[1] else "."
set.seed(20261209)
haps <- c("AC", "AT", "GC", "GT")
freq <- c(0.45, 0.25, 0.20, 0.10)
n_male <- 22; n_female <- 34
n <- n_male + n_female
sex <- c(rep(1, n_male), rep(2, n_female))[sample(n)]
h1 <- sample(4, n, replace = TRUE, prob = freq)
h2 <- ifelse(sex == 2, sample(4, n, replace = TRUE, prob = freq), h1)
# Dosage of AT and GT: one copy in a male, up to two in a female.
dose <- function(h) (h1 == h) + ifelse(sex == 2, h2 == h, 0)
qt <- round(10 + 0.7 * dose(4) + 0.4 * dose(2) + rnorm(n), 3)
cc <- ifelse(runif(n) < plogis(-0.4 + 0.9 * dose(4) + 0.3 * dose(2)), 2, 1)
geno <- character(0)
for (l in 1:2) {
  a1 <- substr(haps[h1], l, l); a2 <- substr(haps[h2], l, l)
  # Calls listed in sorted allele order, as a genotyping file would.
  lo <- pmin(a1, a2); hi <- pmax(a1, a2)
  geno <- cbind(geno, lo, hi)
}
# A few missing calls: one male and two females at one SNP each.
miss <- c(which(sex == 1)[3], which(sex == 2)[c(5, 11)])
geno[miss[1], 1:2] <- "0"; geno[miss[2], 3:4] <- "0"; geno[miss[3], 1:2] <- "0"
id <- sprintf("x%02d", 1:n)
writeLines(paste(id, id, 0, 0, sex, -9, apply(geno, 1, paste, collapse = " ")),
           file.path(dir, "x.ped"))
writeLines(c("X\txsnp1\t0\t1200000", "X\txsnp2\t0\t1203500"), file.path(dir, "x.map"))
writeLines(c("FID IID cc qt", paste(id, id, cc, qt)), file.path(dir, "x.pheno"))
