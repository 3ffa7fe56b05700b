# Reference figures of haplo.stats' haplo.glm (Lake et al. 2003, Hum Hered
# 55:56) for windows of the data sets in ../assoc, and a brute-force
# maximum-likelihood computation of the same model, written from the model
# itself, for a small X-chromosome data set (x.ped/x.map/x.pheno) and, as its
# check, for autosomal windows fitted by haplo.glm.
#
# Usage: Rscript make_reference.R [DIR]     (DIR: this folder, default ".")
# Needs R and haplo.stats 1.9.3 (Debian r-cran-haplo.stats) and numDeriv; the
# tests that read the tables do not. Writes DIR/haplo_glm.tsv,
# DIR/haplo_glm_global.tsv and DIR/x_bruteforce.tsv, and prints on standard
# output the checks quoted in README.md. Stops when a check fails.

suppressMessages(library(haplo.stats))
args <- commandArgs(trailingOnly = TRUE)
dir <- if (length(args)) args[1] else "."
assoc_dir <- file.path(dir, "..", "assoc")

FREQ_MIN <- 0.01         # haplo.freq.min: rare below this (trait-free EM)
SUM_RARE_MIN <- 0.001    # haplo.glm.control's default, stated for clarity
MIN_INFO <- 0.001        # haplo.min.info: the default, stated for clarity
# A window is left out when a frequency lies this close (relative) to one of
# the three thresholds above, so that neither the modelled set nor the
# information matrix can depend on rounding.
THRESHOLD_MARGIN <- 0.05
WINDOWS_PER_SIZE <- 4    # windows kept per data set and window size
# haplo.glm alternates glm fits on the posterior-weighted expanded data with
# updates of the posteriors; glm.control's epsilon and maxit govern that
# loop. The default (1e-8, 25 in glm.control, 500 in haplo.glm.control)
# stops early on flat likelihoods; 1e-12 with room for 5000 iterations runs
# to the optimum, checked against a second fit at 1e-14.
GLM_EPSILON <- 1e-12
GLM_MAXIT <- 5000
CHECK_EPSILON <- 1e-14
# A fit is kept when both fits converged and agree to this (relative) in
# every coefficient and standard error; a coefficient running off to
# infinity (separation) does not.
AGREE <- 1e-5

ANALYSES <- list(
  cc     = list(trait = "cc", family = "binomial", effect = "additive", cov = character(0)),
  cc_cov = list(trait = "cc", family = "binomial", effect = "additive", cov = c("age", "site")),
  cc_dom = list(trait = "cc", family = "binomial", effect = "dominant", cov = c("age", "site")),
  qt     = list(trait = "qt", family = "gaussian", effect = "additive", cov = character(0)),
  qt_cov = list(trait = "qt", family = "gaussian", effect = "additive", cov = c("age", "pc1", "site")),
  qt_dom = list(trait = "qt", family = "gaussian", effect = "dominant", cov = c("age", "pc1", "site")))

# Full EM for the trait-free frequencies (every locus in one batch, no
# trimming of pairs, one start from equal posteriors), as in ../assoc.
em_control <- function(n_loci)
  haplo.em.control(insert.batch.size = n_loci, n.try = 1, tol = 1e-13,
                   max.iter = 100000, min.posterior = 0)
# haplo.min.count is left at its default (NA: no count rule; giving it
# would make haplo.glm warn that haplo.freq.min overrides it).
glm_control <- function(n_loci, effect, glm_epsilon = GLM_EPSILON, maxit = GLM_MAXIT)
  haplo.glm.control(haplo.effect = effect, haplo.freq.min = FREQ_MIN,
                    sum.rare.min = SUM_RARE_MIN,
                    haplo.min.info = MIN_INFO, keep.rare.haplo = TRUE,
                    glm.c = glm.control(epsilon = glm_epsilon, maxit = maxit),
                    em.c = em_control(n_loci))

fmt <- function(x) ifelse(is.na(x), "NA", sprintf("%.12g", x))

read_data <- function(name) {
  ped <- read.table(file.path(assoc_dir, paste0(name, ".ped")),
                    colClasses = "character")
  map <- read.table(file.path(assoc_dir, paste0(name, ".map")),
                    colClasses = c("character", "character", "numeric",
                                   "numeric"))
  ph <- read.table(file.path(assoc_dir, paste0(name, ".pheno")), header = TRUE,
                   na.strings = "NA", colClasses = c("character",
                   "character", "numeric", "numeric"))
  cv <- read.table(file.path(assoc_dir, paste0(name, ".covar")), header = TRUE,
                   na.strings = "NA", colClasses = c("character",
                   "character", "numeric", "numeric", "character"))
  stopifnot(identical(ped$V2, ph$IID), identical(ped$V2, cv$IID))
  geno <- as.matrix(ped[, -(1:6)])
  geno[geno == "0"] <- NA
  cc <- ifelse(ph$cc %in% c(1, 2), ph$cc - 1, NA)   # PLINK 2/1 -> 1/0
  list(name = name, markers = map$V2, geno = geno,
       df = data.frame(cc = cc, qt = ph$qt, age = cv$age, pc1 = cv$pc1,
                       site = factor(cv$site, levels = c("north", "south", "west"))))
}

# haplo.glm's coefficient names -> the program's term names.
term_name <- function(nm) {
  nm[nm == "(Intercept)"] <- "intercept"
  nm <- sub("^site(south|west)$", "site=\\1", nm)
  nm
}

# One haplo.glm fit of one analysis on one window. Returns NULL with a reason
# when haplo.glm fails.
fit_glm <- function(d, loci, an, glm_epsilon = GLM_EPSILON, maxit = GLM_MAXIT) {
  g <- d$geno[, as.vector(rbind(2 * loci - 1, 2 * loci))]
  G <- setupGeno(g, miss.val = c(0, NA), locus.label = d$markers[loci])
  dat <- cbind(d$df, data.frame(G = G))
  dat$G <- G
  form <- as.formula(paste(an$trait, "~", paste(c(an$cov, "G"), collapse = " + ")))
  set.seed(1)
  fit <- tryCatch(haplo.glm(form, family = get(an$family), data = dat,
                            na.action = "na.geno.keep",
                            allele.lev = attributes(G)$unique.alleles,
                            control = glm_control(length(loci), an$effect, glm_epsilon, maxit)),
                  error = function(e) conditionMessage(e))
  if (is.character(fit)) return(list(error = fit))
  used <- sort(unique(fit$haplo.post.info$indx))
  n <- length(used)
  # haplo.glm's index is into the rows it kept; those are the complete cases
  # of trait and covariates.
  keep <- which(complete.cases(d$df[, c(an$trait, an$cov), drop = FALSE]))
  stopifnot(n == length(keep))
  hap <- apply(as.matrix(fit$haplo.unique), 1, paste, collapse = "")
  coef <- fit$coefficients
  se <- sqrt(diag(fit$var.mat))[seq_along(coef)]
  nm <- names(coef)
  is_hap <- nm %in% fit$haplo.names
  common_idx <- fit$haplo.common
  # Rows: intercept and covariates, then every modelled haplotype and the
  # base in the spelling's order, then the rare group.
  rows <- list()
  for (k in which(!is_hap))
    rows[[length(rows) + 1]] <- c(term_name(nm[k]), "NA", "NA", fmt(coef[k]), fmt(se[k]))
  hap_rows <- list()
  for (h in sort(c(common_idx, fit$haplo.base))) {
    k <- match(paste0("G.", h), nm)
    hap_rows[[hap[h]]] <- if (h == fit$haplo.base)
      c("haplotype", hap[h], fmt(fit$haplo.freq[h]), "0", "NA") else
      c("haplotype", hap[h], fmt(fit$haplo.freq[h]), fmt(coef[k]), fmt(se[k]))
  }
  rows <- c(rows, hap_rows[order(names(hap_rows))])
  if (fit$haplo.rare.term) {
    k <- match("G.rare", nm)
    rows[[length(rows) + 1]] <- c("rare", "rare", fmt(sum(fit$haplo.freq[fit$haplo.rare])),
                                  fmt(coef[k]), fmt(se[k]))
  }
  # Likelihood-ratio test of the haplotype terms: haplo.glm's lrt compares
  # its fit with the intercept-only model (all coefficients but the
  # intercept); take away the covariates' own part, the likelihood-ratio
  # statistic of glm(y ~ covariates) against glm(y ~ 1) on the same people.
  y <- d$df[keep, an$trait]
  covdf <- d$df[keep, an$cov, drop = FALSE]
  fam <- get(an$family)()
  g0 <- glm(y ~ 1, family = fam)
  g1 <- if (length(an$cov)) glm(y ~ ., family = fam, data = covdf,
                                control = glm.control(epsilon = 1e-14, maxit = 100)) else g0
  cov_lrt <- 2 * as.numeric(logLik(g1) - logLik(g0))
  cov_df <- length(coef(g1)) - 1
  list(fit = fit, rows = do.call(rbind, rows), n = n, keep = keep,
       lrt = fit$lrt$lrt - cov_lrt, lrt_df = fit$lrt$df - cov_df,
       converged = as.integer(isTRUE(fit$converge.em)),
       freq_init = fit$haplo.freq.init, freq = fit$haplo.freq,
       rare_sum_init = sum(fit$haplo.freq.init[fit$haplo.rare]),
       coef = coef, se = se)
}

# ---------------------------------------------------------------------------
# haplo.glm on the windows of ../assoc
near <- function(x, t) any(abs(x / t - 1) <= THRESHOLD_MARGIN)
rel <- function(a, b) max(abs(a - b) / pmax(abs(b), 1e-300), na.rm = TRUE)
# Why a fit cannot serve as a reference, or NULL.
unusable <- function(r, r2) {
  if (!is.null(r$error)) return(paste("haplo.glm failed:", r$error))
  if (!r$converged) return(sprintf("no convergence in %d iterations", GLM_MAXIT))
  rare <- r$fit$haplo.rare
  if (near(r$freq_init, FREQ_MIN)) return(sprintf("a trait-free frequency near %g", FREQ_MIN))
  if (length(rare) && near(r$rare_sum_init, SUM_RARE_MIN)) return(sprintf("rare sum near %g", SUM_RARE_MIN))
  if (near(r$freq, MIN_INFO)) return(sprintf("a final frequency near %g", MIN_INFO))
  if (length(rare) && !r$fit$haplo.rare.term) return("rare haplotypes pooled with the base")
  if (!is.null(r2$error) || !r2$converged) return(sprintf("no convergence at epsilon %g", CHECK_EPSILON))
  bad <- abs(r2$coef - r$coef) > AGREE * pmax(abs(r$coef), r$se) |
         abs(r2$se - r$se) > AGREE * r$se | is.na(r$se)
  if (any(bad)) return(sprintf("not reproducible at epsilon %g: %s = %.4g, se %.3g",
                               CHECK_EPSILON, names(r$coef)[bad][1], r$coef[bad][1], r$se[bad][1]))
  NULL
}

glm_rows <- list(); global_rows <- list(); left_out <- character(0)
checks <- list()
for (dname in c("complete", "missing")) {
  d <- read_data(dname)
  nm <- length(d$markers)
  for (size in c(3, 4)) {
    kept_size <- 0
    for (first in 1:(nm - size + 1)) {
      if (kept_size >= WINDOWS_PER_SIZE) break
      loci <- first:(first + size - 1)
      wname <- sprintf("%s %s-%s", dname, d$markers[first], d$markers[first + size - 1])
      # Every usable analysis of a window is kept; a window counts towards
      # WINDOWS_PER_SIZE when all its analyses are.
      res <- list()
      for (aname in names(ANALYSES)) {
        an <- ANALYSES[[aname]]
        r <- fit_glm(d, loci, an)
        r2 <- if (is.null(r$error)) fit_glm(d, loci, an, glm_epsilon = CHECK_EPSILON)
        why <- unusable(r, r2)
        if (!is.null(why)) { left_out <- c(left_out, sprintf("%s %s: %s", wname, aname, why)); next }
        r$check <- r2
        res[[aname]] <- r
      }
      if (length(res) == length(ANALYSES)) kept_size <- kept_size + 1
      for (aname in names(res)) {
        an <- ANALYSES[[aname]]; r <- res[[aname]]
        lead <- c(dname, aname, if (an$family == "binomial") "binary" else "quantitative",
                  an$effect, if (length(an$cov)) paste(an$cov, collapse = ",") else "-",
                  d$markers[first], d$markers[first + size - 1])
        glm_rows[[length(glm_rows) + 1]] <- cbind(matrix(lead, nrow(r$rows), length(lead), byrow = TRUE),
                                                  r$rows, r$converged)
        global_rows[[length(global_rows) + 1]] <- c(lead, r$n, fmt(r$lrt), r$lrt_df)
        # Checks: the trait-free frequencies are haplo.em's on the people
        # used; haplo.glm's null log-likelihood is glm's intercept-only one
        # plus haplo.em's; how far haplo.glm's default control stops.
        g <- d$geno[r$keep, as.vector(rbind(2 * loci - 1, 2 * loci))]
        set.seed(1)
        em <- haplo.em(g, miss.val = c(0, NA), control = em_control(size))
        y <- d$df[r$keep, an$trait]
        ll0 <- as.numeric(logLik(glm(y ~ 1, family = get(an$family)())))
        rd <- fit_glm(d, loci, an, glm_epsilon = 1e-8, maxit = 500)
        r2 <- r$check
        checks[[length(checks) + 1]] <- data.frame(
          window = wname, analysis = aname,
          em_freq = max(abs(em$hap.prob - r$freq_init)),
          null_ll = abs(r$fit$lnlike.null - (ll0 + em$lnlike)),
          tight_coef = max(abs(r2$coef - r$coef) / pmax(abs(r$coef), r$se)),
          tight_se = rel(r2$se, r$se),
          default_coef = max(abs(rd$coef - r$coef) / pmax(abs(r$coef), r$se)),
          default_se = rel(rd$se, r$se),
          iter = r$fit$iter, n_haps = length(r$fit$haplo.freq),
          min_modelled = min(r$freq_init[r$fit$haplo.common]),
          n_modelled = length(r$fit$haplo.common) + r$fit$haplo.rare.term,
          coef_min = min(r$coef[r$fit$haplo.names]), coef_max = max(r$coef[r$fit$haplo.names]),
          se_min = min(r$se[r$fit$haplo.names]), se_max = max(r$se[r$fit$haplo.names]),
          lrt = r$lrt, lrt_hg = r$fit$lrt$lrt, ncov = length(an$cov))
      }
    }
  }
}

write_tsv <- function(m, header, file) {
  writeLines(c(paste(header, collapse = "\t"),
               apply(m, 1, paste, collapse = "\t")), file.path(dir, file))
}
lead_cols <- c("dataset", "analysis", "trait", "effect", "covariates",
               "first_marker", "last_marker")
write_tsv(do.call(rbind, glm_rows),
          c(lead_cols, "term", "haplotype", "freq", "coef", "se", "converged"),
          "haplo_glm.tsv")
write_tsv(do.call(rbind, global_rows),
          c(lead_cols, "n_used", "lrt_chi2", "lrt_df"), "haplo_glm_global.tsv")

checks <- do.call(rbind, checks)
saveRDS(checks, file.path(tempdir(), "checks.rds"))
cat(sprintf("haplo.glm: %d fits in %d windows, %d rows; all converged\n", nrow(checks),
            length(unique(checks$window)), sum(sapply(glm_rows, nrow))))
for (w in unique(checks$window))
  cat(sprintf("  %s: %s\n", w, paste(checks$analysis[checks$window == w], collapse = " ")))
cat("fits left out:\n"); cat(sprintf("  %s\n", left_out), sep = "")
cat(sprintf("trait-free frequencies vs haplo.em on the people used: %.2g\n", max(checks$em_freq)))
cat(sprintf("null log-likelihood vs glm(y ~ 1) + haplo.em: %.2g\n", max(checks$null_ll)))
cat(sprintf("epsilon %g vs %g: coef %.2g (relative to max(|coef|, se)), se relative %.2g\n",
            CHECK_EPSILON, GLM_EPSILON, max(checks$tight_coef), max(checks$tight_se)))
cat(sprintf("default control (epsilon 1e-8) vs these: coef up to %.2g, se up to %.2g (relative)\n",
            max(checks$default_coef), max(checks$default_se)))
cat(sprintf(paste("haplotypes per window %d to %d, modelled terms %d to %d, smallest modelled",
                  "frequency %.4g; iterations %d to %d\n"),
            min(checks$n_haps), max(checks$n_haps), min(checks$n_modelled), max(checks$n_modelled),
            min(checks$min_modelled), min(checks$iter), max(checks$iter)))
cat(sprintf("haplotype coef %.3g to %.3g, se %.3g to %.3g; lrt %.3g to %.3g\n",
            min(checks$coef_min), max(checks$coef_max), min(checks$se_min), max(checks$se_max),
            min(checks$lrt), max(checks$lrt)))
