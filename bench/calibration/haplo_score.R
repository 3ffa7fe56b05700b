# haplo.score (R package haplo.stats) on windows of the calibration data,
# binary trait, default settings (additive effects, min.count 5, haplo.em
# with its default random restarts).
#
# Usage: Rscript haplo_score.R BEDBASE PHENO COLUMN WINDOW FIRST LAST STEP OUT
#   BEDBASE  PLINK binary files without extension (read with snpStats)
#   PHENO    FID IID ... table with a header; COLUMN holds 2 case, 1 control
#   windows of WINDOW markers starting at markers FIRST, FIRST + STEP, ...
#   (1-based, ending at or before LAST)
# Writes OUT (tab-separated: first_marker last_marker global_stat df p
# seconds, NA where haplo.score failed) and prints the total wall and CPU
# seconds spent in haplo.score.
args <- commandArgs(trailingOnly = TRUE)
stopifnot(length(args) == 8)
base <- args[1]
k <- as.integer(args[4])
first <- as.integer(args[5])
last <- as.integer(args[6])
step <- as.integer(args[7])
suppressMessages({
  library(snpStats)
  library(haplo.stats)
})
d <- read.plink(base)
ph <- read.table(args[2], header = TRUE, stringsAsFactors = FALSE)
y <- ph[[args[3]]][match(rownames(d$genotypes), ph$IID)]
keep <- !is.na(y) & y %in% c(1, 2)
y <- y[keep] - 1
codes <- matrix(as.integer(d$genotypes@.Data), nrow = nrow(d$genotypes))[keep, , drop = FALSE]
# Genotype code 1, 2, 3: 0, 1, 2 copies of the second allele; 0 missing.
a1 <- c(0L, 1L, 1L, 2L)
a2 <- c(0L, 1L, 2L, 2L)
snps <- colnames(d$genotypes)
starts <- seq(first, last - k + 1, by = step)
set.seed(2002)
rows <- vector("list", length(starts))
total <- 0
cpu <- 0
for (w in seq_along(starts)) {
  cols <- starts[w]:(starts[w] + k - 1)
  g <- matrix(0L, nrow(codes), 2 * k)
  for (j in seq_len(k)) {
    g[, 2 * j - 1] <- a1[codes[, cols[j]] + 1L]
    g[, 2 * j] <- a2[codes[, cols[j]] + 1L]
  }
  stat <- NA; df <- NA; p <- NA
  st <- system.time(fit <- tryCatch(
    haplo.score(y, g, trait.type = "binomial", miss.val = c(0, NA)),
    error = function(e) NULL), gcFirst = FALSE)
  t <- st[["elapsed"]]
  total <- total + t
  cpu <- cpu + st[["user.self"]] + st[["sys.self"]]
  if (!is.null(fit)) {
    stat <- fit$score.global
    df <- fit$df
    p <- fit$score.global.p
  }
  rows[[w]] <- data.frame(first_marker = snps[cols[1]], last_marker = snps[cols[k]],
                          global_stat = stat, df = df, p = p, seconds = t)
}
out <- do.call(rbind, rows)
write.table(out, args[8], sep = "\t", quote = FALSE, row.names = FALSE, na = "NA")
cat(sprintf("seconds=%.3f cpu=%.3f windows=%d\n", total, cpu, length(starts)))
