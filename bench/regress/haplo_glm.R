# haplo.glm on the regions that bench/regress/run simulated: for each, the
# median elapsed and CPU seconds of REPS calls and the first haplotype
# term's coefficient. Usage: Rscript haplo_glm.R WORK REGIONS REPS
suppressMessages(library(haplo.stats))
a <- commandArgs(TRUE)
work <- a[1]; regions <- as.integer(a[2]); reps <- as.integer(a[3])
for (r in seq_len(regions)) {
  stem <- file.path(work, paste0("r", r))
  ped <- read.table(paste0(stem, ".ped"))
  cov <- read.table(paste0(stem, ".covar"), header = TRUE)
  alleles <- as.matrix(ped[, 7:14])
  # Letters as the PLINK file spells them (1/2), as hfreg spells them.
  geno <- setupGeno(alleles)
  d <- data.frame(y = ped[, 6] - 1, age = cov$age)
  d$geno <- geno
  ctl <- haplo.glm.control(haplo.freq.min = 0.01,
                           em.c = haplo.em.control(n.try = 1, insert.batch.size = 4))
  t <- numeric(reps); cpu <- numeric(reps)
  for (k in seq_len(reps)) {
    st <- system.time(fit <- haplo.glm(y ~ geno + age, family = binomial, data = d,
                                        control = ctl))
    t[k] <- st[["elapsed"]]
    cpu[k] <- st[["user.self"]] + st[["sys.self"]]
  }
  s <- summary(fit)
  h <- s$haplotypes
  first <- rownames(h)[1]
  spelled <- paste(as.character(unlist(h[1, 1:4])), collapse = "")
  cat("region", r, median(t), median(cpu), spelled, s$coefficients[first, "coef"], "\n")
}
