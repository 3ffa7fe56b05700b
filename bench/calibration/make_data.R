# Exports the snpStats data set for.exercise (1,000 subjects, 28,501 SNPs of
# chromosome 10, CEU and JPT+CHB) to PLINK binary files, and writes the
# traits, covariates and clusters of the calibration benchmark beside them.
#
# Usage: Rscript make_data.R [WORKDIR [SEED]]
#   WORKDIR  default /tmp/haplosift-calib
#   SEED     seed of the simulated traits and covariates (default 20021)
#
# Files written in WORKDIR (every table is whitespace-separated, one line per
# subject, in the order of the .fam; FID = IID = the subject's name):
#   calib.bed/.bim/.fam  genotypes (SNP-major .bed; .fam sex 0, phenotype -9)
#   null_cc.pheno        FID IID cc: 2 case, 1 control, drawn independently of
#                        everything with probability 1/2
#   null_qt.pheno        FID IID qt: 0.5 * age_z + effect(site) + N(0, 1)
#   null_qt.covar        FID IID age site: age in years, site one of three
#                        names; both drawn independently of the genotypes
#   null_qt.plink.covar  FID IID age site_B site_C: the same with site as 0/1
#                        dummies (PLINK takes numeric covariates only)
#   strat.pheno          FID IID cc: the data set's own case-control status
#   strat.covar          FID IID stratum: CEU or JPT+CHB
#   strat.plink.covar    FID IID stratum_JPT: 1 for JPT+CHB, 0 for CEU
#   strat.within         FID IID stratum, no header (PLINK cluster file)
#   info.txt             what was written, for the benchmark's report
#
# The genotypes come from the package unchanged: snpStats codes a genotype
# 1, 2, 3 for 0, 1, 2 copies of allele.2 (0 missing); the .bim names
# allele.1 as A1, so code 1 is the .bed's homozygous-A1 pair.

args <- commandArgs(trailingOnly = TRUE)
work <- if (length(args) >= 1) args[1] else "/tmp/haplosift-calib"
seed <- if (length(args) >= 2) as.integer(args[2]) else 20021L
dir.create(work, recursive = TRUE, showWarnings = FALSE)
suppressMessages(library(snpStats))
data(for.exercise)

geno <- snps.10
ids <- rownames(geno)
n <- nrow(geno)
m <- ncol(geno)
subj <- subject.support[ids, ]
snp <- snp.support[colnames(geno), ]
stopifnot(!is.unsorted(snp$position), !any(is.na(subj$cc)))

path <- function(f) file.path(work, f)
write_table <- function(df, f, header = TRUE)
  write.table(df, path(f), quote = FALSE, sep = "\t", row.names = FALSE,
              col.names = header)

# .bed, SNP-major: per SNP, four subjects to a byte, the first in the lowest
# two bits; 00 homozygous A1, 10 heterozygous, 11 homozygous A2, 01 missing.
codes <- matrix(as.integer(geno@.Data), nrow = n)       # subjects x SNPs
bits <- c(1L, 0L, 2L, 3L)[codes + 1L]                   # 0 missing -> 01
dim(bits) <- dim(codes)
pad <- (4 - n %% 4) %% 4
if (pad > 0) bits <- rbind(bits, matrix(0L, pad, m))
per <- nrow(bits) / 4
quad <- array(bits, c(4, per, m))
bytes <- quad[1, , ] + 4L * quad[2, , ] + 16L * quad[3, , ] + 64L * quad[4, , ]
con <- file(path("calib.bed"), "wb")
writeBin(as.raw(c(0x6c, 0x1b, 0x01)), con)
writeBin(as.raw(as.vector(bytes)), con)
close(con)

write_table(data.frame(snp$chromosome, colnames(geno), 0, snp$position,
                       as.character(snp$A1), as.character(snp$A2)),
            "calib.bim", header = FALSE)
write_table(data.frame(ids, ids, 0, 0, 0, -9), "calib.fam", header = FALSE)

# Simulated traits and covariates: one stream, in a fixed order, so every
# machine with this R gets the same files.
set.seed(seed, kind = "Mersenne-Twister", normal.kind = "Inversion",
         sample.kind = "Rejection")
cc_null <- 1L + rbinom(n, 1, 0.5)
age <- round(rnorm(n, 50, 10), 1)
site <- sample(c("A", "B", "C"), n, replace = TRUE)
age_z <- (age - mean(age)) / sd(age)
site_effect <- c(A = -0.5, B = 0, C = 0.5)[site]
qt <- round(0.5 * age_z + site_effect + rnorm(n), 6)

write_table(data.frame(FID = ids, IID = ids, cc = cc_null), "null_cc.pheno")
write_table(data.frame(FID = ids, IID = ids, qt = qt), "null_qt.pheno")
write_table(data.frame(FID = ids, IID = ids, age = age, site = paste0("site", site)),
            "null_qt.covar")
write_table(data.frame(FID = ids, IID = ids, age = age,
                       site_B = as.integer(site == "B"),
                       site_C = as.integer(site == "C")),
            "null_qt.plink.covar")

stratum <- as.character(subj$stratum)
write_table(data.frame(FID = ids, IID = ids, cc = 1L + as.integer(subj$cc)), "strat.pheno")
write_table(data.frame(FID = ids, IID = ids, stratum = stratum), "strat.covar")
write_table(data.frame(FID = ids, IID = ids,
                       stratum_JPT = as.integer(stratum == "JPT+CHB")),
            "strat.plink.covar")
write_table(data.frame(ids, ids, stratum), "strat.within", header = FALSE)

tab <- table(stratum, subj$cc)
info <- c(
  sprintf("source\tsnpStats %s, data(for.exercise)", packageVersion("snpStats")),
  sprintf("subjects\t%d", n),
  sprintf("snps\t%d", m),
  sprintf("chromosome\t%s", paste(unique(snp$chromosome), collapse = ",")),
  sprintf("seed\t%d", seed),
  sprintf("null_cc_cases\t%d", sum(cc_null == 2)),
  sprintf("qt_mean_sd\t%.3f %.3f", mean(qt), sd(qt)),
  sprintf("site_counts\t%s", paste(names(table(site)), table(site), sep = "=", collapse = " ")),
  sprintf("strat_cases\t%s", paste(sprintf("%s %d/%d", rownames(tab), tab[, "1"],
                                            rowSums(tab)), collapse = ", ")))
writeLines(info, path("info.txt"))
cat(info, sep = "\n")
