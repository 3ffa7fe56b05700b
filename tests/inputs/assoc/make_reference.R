# Reference figures of haplo.stats' haplo.score for the data sets of this
# folder, and of the conditional score test on expected dosages.
#
# Usage: Rscript make_reference.R [DIR]     (DIR: this folder, default ".")
# Needs R and haplo.stats 1.9.3 (Debian r-cran-haplo.stats); the tests that
# read the tables do not. Writes DIR/haplo_score.tsv,
# DIR/haplo_score_haps.tsv and DIR/conditional.tsv, and prints on standard
# output how an independent evaluation of the score statistic (written from
# its formulas, further down) agrees with haplo.score. Stops when a check
# fails.

suppressMessages(library(haplo.stats))
args <- commandArgs(trailingOnly = TRUE)
dir <- if (length(args)) args[1] else "."

DATASETS <- c("complete", "missing")
WINDOW_SIZES <- c(3, 4)
SKIP_HAPLO <- 0.01
# A window is left out when a haplotype frequency lies this close (relative)
# to SKIP_HAPLO, so that the modelled set cannot depend on rounding.
THRESHOLD_MARGIN <- 0.02
EPS_SVD <- 1e-5          # haplo.score's default, stated for clarity

ANALYSES <- list(
  cc     = list(trait = "cc", type = "binomial", cov = character(0)),
  cc_cov = list(trait = "cc", type = "binomial", cov = c("age", "site")),
  qt     = list(trait = "qt", type = "gaussian", cov = character(0)),
  qt_cov = list(trait = "qt", type = "gaussian", cov = c("age", "pc1", "site")))

# Full EM: every locus in one batch and no trimming of pairs (the ordinary
# EM, as haplo.em's documentation puts it), one start from equal
# posteriors. haplo.em stops when the log-likelihood changes by less than
# tol; below 1e-13 that change is lost in rounding and smaller values give
# the same result.
em_control <- function(n_loci)
  haplo.em.control(insert.batch.size = n_loci, n.try = 1, tol = 1e-13,
                   max.iter = 100000, min.posterior = 0)

fmt <- function(x) ifelse(is.na(x), "NA", sprintf("%.12g", x))

read_data <- function(name) {
  ped <- read.table(file.path(dir, paste0(name, ".ped")),
                    colClasses = "character")
  map <- read.table(file.path(dir, paste0(name, ".map")),
                    colClasses = c("character", "character", "numeric",
                                   "numeric"))
  ph <- read.table(file.path(dir, paste0(name, ".pheno")), header = TRUE,
                   na.strings = "NA", colClasses = c("character",
                   "character", "numeric", "numeric"))
  cv <- read.table(file.path(dir, paste0(name, ".covar")), header = TRUE,
                   na.strings = "NA", colClasses = c("character",
                   "character", "numeric", "numeric", "character"))
  stopifnot(identical(ped$V2, ph$IID), identical(ped$V2, cv$IID))
  geno <- as.matrix(ped[, -(1:6)])
  geno[geno == "0"] <- NA
  cc <- ifelse(ph$cc %in% c(1, 2), ph$cc - 1, NA)   # PLINK 2/1 -> 1/0
  # site as two indicators, north the reference level; any full-rank coding
  # spans the same space and gives the same statistics.
  site <- factor(cv$site, levels = c("north", "south", "west"))
  covars <- cbind(age = cv$age, pc1 = cv$pc1,
                  site_south = as.numeric(site == "south"),
                  site_west = as.numeric(site == "west"))
  list(name = name, markers = map$V2, geno = geno, y = list(cc = cc, qt = ph$qt),
       covars = covars)
}

covar_columns <- function(cov) {
  cols <- character(0)
  for (c in cov) cols <- c(cols, if (c == "site") c("site_south", "site_west") else c)
  cols
}

# Fitted means of the null model (no haplotypes); the intercept-only fit in
# closed form.
null_fit <- function(y, Z, type, glm_epsilon = 1e-8) {
  if (ncol(Z) == 1) return(rep(mean(y), length(y)))
  fit <- glm.fit(Z, y, family = if (type == "binomial") binomial() else gaussian(),
                 control = glm.control(epsilon = glm_epsilon, maxit = 100))
  stopifnot(fit$converged, fit$rank == ncol(Z))
  fit$fitted.values
}

# Conditional score test of adding the expected dosages X to the null model
# of y on Z (intercept and covariates), at the null fit:
#   U = X'(y - mu) / a,  V = (X'WX - X'WZ (Z'WZ)^-1 Z'WX) / a,
#   W = diag(mu (1 - mu)), a = 1 (binomial); W = I, a = RSS0 / n (gaussian),
# statistic U' V^- U over the rank of V. For the gaussian trait it is
# n (RSS0 - RSS1) / RSS0, n R^2 without covariates; for the binary trait
# without covariates, also n R^2 of the linear regression of y on X.
conditional_score <- function(y, Z, X, type) {
  n <- length(y)
  mu <- null_fit(y, Z, type, glm_epsilon = 1e-15)
  w <- if (type == "binomial") mu * (1 - mu) else rep(1, n)
  a <- if (type == "binomial") 1 else sum((y - mu)^2) / n
  U <- crossprod(X, y - mu) / a
  XWZ <- crossprod(X, w * Z)
  V <- (crossprod(X, w * X) - XWZ %*% solve(crossprod(Z, w * Z), t(XWZ))) / a
  s <- svd(V)
  keep <- s$d / max(s$d) >= 1e-9
  stat <- sum(crossprod(s$u[, keep, drop = FALSE], U)^2 / s$d[keep])
  # The same through least squares (R's QR with its rank tolerance).
  l0 <- lm.fit(Z, y); l1 <- lm.fit(cbind(Z, X), y)
  stopifnot(sum(keep) == l1$rank - l0$rank)
  if (type == "gaussian" || ncol(Z) == 1) {
    rss0 <- sum(l0$residuals^2)
    stopifnot(abs(stat / (n * (rss0 - sum(l1$residuals^2)) / rss0) - 1) < 1e-9)
  }
  c(rank = sum(keep), stat = stat)
}

# ---------------------------------------------------------------------------
# Independent evaluation, from the formulas (see README.md):
#   pair j of person i has posterior w_ij and copy counts x_ij of the
#   modelled haplotypes; xbar_i = sum_j w_ij x_ij, S_i = sum_j w_ij x_ij x_ij',
#   C_i = S_i - xbar_i xbar_i'; Z the intercept and covariates; mu, a from the
#   null glm; v_i = 1/a (gaussian) or mu_i (1 - mu_i) (binomial);
#   r_i = (y_i - mu_i) / a.
#   U = sum r_i xbar_i,
#   V = sum (v_i S_i - r_i^2 C_i) - Vxz Vzz^-1 Vzx, Vxz = sum v_i xbar_i z_i',
#   Vzz = sum v_i z_i z_i'.
# The alternatives checked against haplo.score: over_n, the dispersion over n;
# pool_rare, one more column counting the copies of all other haplotypes.
score_by_formula <- function(y, Z, type, subj, h1, h2, post, modelled,
                             glm_epsilon = 1e-8, over_n = FALSE,
                             pool_rare = FALSE) {
  n <- length(y)
  mu <- null_fit(y, Z, type, glm_epsilon)
  a <- if (type == "gaussian") sum((y - mu)^2) / (n - if (over_n) 0 else ncol(Z)) else 1
  v <- if (type == "gaussian") rep(1 / a, n) else mu * (1 - mu)
  r <- (y - mu) / a
  Xp <- matrix(sapply(modelled, function(h) (h1 == h) + (h2 == h)),
               ncol = length(modelled))                       # pairs x K
  if (pool_rare) Xp <- cbind(Xp, 2 - rowSums(Xp))
  K <- ncol(Xp)
  xbar <- matrix(0, n, K)
  Sxx <- matrix(0, K, K)
  U <- numeric(K)
  for (i in seq_len(n)) {
    rows <- which(subj == i)
    w <- post[rows]
    xi <- Xp[rows, , drop = FALSE]
    xb <- colSums(w * xi)
    S <- crossprod(xi, w * xi)
    xbar[i, ] <- xb
    U <- U + r[i] * xb
    Sxx <- Sxx + v[i] * S - r[i]^2 * (S - tcrossprod(xb))
  }
  Vxz <- crossprod(xbar, v * Z)
  Vzz <- crossprod(Z, v * Z)
  V <- Sxx - Vxz %*% solve(Vzz, t(Vxz))
  s <- svd(V)
  keep <- s$d / max(s$d) >= EPS_SVD
  chi2 <- if (K == 1) { if (V[1, 1] < EPS_SVD) 0 else U^2 / V[1, 1] } else
    sum((crossprod(s$u[, keep, drop = FALSE], U))^2 / s$d[keep])
  list(chi2 = as.numeric(chi2), df = if (K == 1) as.integer(V[1, 1] >= EPS_SVD) else sum(keep),
       z = U / sqrt(diag(V)), xbar = xbar, sv = s$d)
}

# EM fixed point on haplo.em's pair list, iterated until no frequency moves
# by 1e-15: the frequencies haplo.em approaches when its tolerance is lost
# in rounding.
em_fixed_point <- function(p, subj, h1, h2) {
  n <- max(subj)
  f <- ifelse(h1 == h2, 1, 2)
  for (it in 1:100000) {
    w <- f * p[h1] * p[h2]
    w <- w / rowsum(w, subj)[subj]
    q <- rowsum(c(w, w), c(h1, h2))[, 1]      # codes 1..H, all present
    q <- q / (2 * n)
    done <- max(abs(q - p)) < 1e-15
    p <- q
    if (done) break
  }
  w <- f * p[h1] * p[h2]
  list(p = p, post = w / rowsum(w, subj)[subj])
}

# ---------------------------------------------------------------------------
rows <- list(); hap_rows <- list(); cond_rows <- list()
dropped <- character(0)
checks <- list()
relerr <- function(a, b) max(abs(a - b) / pmax(abs(b), 1e-300))

for (dname in DATASETS) {
  d <- read_data(dname)
  nm <- length(d$markers)
  for (size in WINDOW_SIZES) for (first in 1:(nm - size + 1)) {
    loci <- first:(first + size - 1)
    g <- d$geno[, as.vector(rbind(2 * loci - 1, 2 * loci))]
    results <- list()
    near <- FALSE
    for (aname in names(ANALYSES)) {
      an <- ANALYSES[[aname]]
      y <- d$y[[an$trait]]
      cols <- covar_columns(an$cov)
      xadj <- if (length(cols)) d$covars[, cols, drop = FALSE] else NA
      set.seed(1)
      hs <- haplo.score(y, g, trait.type = an$type, x.adj = xadj,
                        skip.haplo = SKIP_HAPLO, miss.val = c(0, NA),
                        eps.svd = EPS_SVD, em.control = em_control(size))
      # Its own EM on the same individuals, for the checks below.
      used <- setdiff(seq_along(y), hs$rows.rem)
      # Dropped: the individuals missing the trait or a covariate, and no one else.
      stopifnot(identical(used, which(complete.cases(y, d$covars[, cols]))))
      set.seed(1)
      em <- haplo.em(g[used, ], miss.val = c(0, NA), control = em_control(size))
      stopifnot(em$converge == 1, length(em$rows.rem) == 0,
                # haplotype codes of the pairs are 1..H in hap.prob's order
                isTRUE(all.equal(sort(unique(c(em$hap1code, em$hap2code))),
                          seq_along(em$hap.prob))),
                all(abs(rowsum(em$post, em$indx.subj) - 1) < 1e-12))
      if (any(abs(em$hap.prob / SKIP_HAPLO - 1) <= THRESHOLD_MARGIN)) near <- TRUE
      modelled <- which(em$hap.prob >= SKIP_HAPLO)
      stopifnot(all.equal(as.numeric(hs$hap.prob), em$hap.prob[modelled],
                          tolerance = 1e-14))
      Z <- cbind(rep(1, length(used)), d$covars[used, cols, drop = FALSE])
      f1 <- score_by_formula(y[used], Z, an$type, em$indx.subj, em$hap1code,
                             em$hap2code, em$post, modelled)
      fp <- em_fixed_point(em$hap.prob, em$indx.subj, em$hap1code, em$hap2code)
      f2 <- score_by_formula(y[used], Z, an$type, em$indx.subj, em$hap1code,
                             em$hap2code, fp$post, modelled, glm_epsilon = 1e-15)
      stopifnot(f1$df == hs$df, f2$df == hs$df)
      sv <- f1$sv / max(f1$sv)
      n <- length(used)
      check <- data.frame(
        window = sprintf("%s %s %s-%s", dname, aname, d$markers[first],
                         d$markers[first + size - 1]),
        formula_chi2 = relerr(f1$chi2, hs$score.global),
        formula_z = max(abs(f1$z - hs$score.haplo)),
        fixed_chi2 = relerr(f2$chi2, hs$score.global),
        fixed_z = max(abs(f2$z - hs$score.haplo)),
        fixed_p = relerr(pchisq(f2$chi2, f2$df, lower.tail = FALSE),
                         hs$score.global.p),
        fixed_freq = max(abs(fp$p - em$hap.prob)),
        sv_kept = min(sv[sv >= EPS_SVD]),
        sv_dropped = max(c(0, sv[sv < EPS_SVD])),
        over_n = if (an$type == "gaussian") relerr(score_by_formula(
          y[used], Z, an$type, em$indx.subj, em$hap1code, em$hap2code, em$post,
          modelled, over_n = TRUE)$chi2, hs$score.global) else NA,
        pooled = relerr(score_by_formula(
          y[used], Z, an$type, em$indx.subj, em$hap1code, em$hap2code, em$post,
          modelled, pool_rare = TRUE)$chi2, hs$score.global))
      hap <- apply(as.matrix(hs$haplotype), 1, paste, collapse = "")
      results[[aname]] <- list(
        row = c(dname, aname, if (an$type == "binomial") "binary" else "quantitative",
                if (length(an$cov)) paste(an$cov, collapse = ",") else "-",
                d$markers[first], d$markers[first + size - 1], size,
                length(used), length(hs$score.haplo), fmt(hs$score.global),
                hs$df, fmt(hs$score.global.p)),
        haps = cbind(dname, aname, d$markers[first], d$markers[first + size - 1],
                     hap, fmt(hs$hap.prob), fmt(hs$score.haplo)),
        check = check,
        cond = if (dname == "complete") {
          cs <- conditional_score(y[used], Z, f1$xbar, an$type)
          c(dname, aname, d$markers[first], d$markers[first + size - 1],
            length(used), cs[["rank"]], fmt(cs[["stat"]]))
        })
    }
    if (near) {
      dropped <- c(dropped, sprintf("%s %s-%s", dname, d$markers[first],
                                    d$markers[first + size - 1]))
      next
    }
    for (aname in names(results)) {
      rows[[length(rows) + 1]] <- results[[aname]]$row
      hap_rows[[length(hap_rows) + 1]] <- results[[aname]]$haps
      checks[[length(checks) + 1]] <- results[[aname]]$check
      if (!is.null(results[[aname]]$cond))
        cond_rows[[length(cond_rows) + 1]] <- results[[aname]]$cond
    }
  }
}

write_tsv <- function(m, header, file) {
  writeLines(c(paste(header, collapse = "\t"),
               apply(m, 1, paste, collapse = "\t")), file.path(dir, file))
}
write_tsv(do.call(rbind, rows),
          c("dataset", "analysis", "trait", "covariates", "first_marker",
            "last_marker", "n_markers", "n_used", "n_modelled", "global_chi2",
            "global_df", "global_p"), "haplo_score.tsv")
write_tsv(do.call(rbind, hap_rows),
          c("dataset", "analysis", "first_marker", "last_marker", "haplotype",
            "freq", "score_z"), "haplo_score_haps.tsv")
write_tsv(do.call(rbind, cond_rows),
          c("dataset", "analysis", "first_marker", "last_marker", "n_used",
            "rank", "nR2"), "conditional.tsv")

cat(sprintf("windows kept: %d of %d (%d analyses each); left out near the threshold: %s\n",
            length(rows) / length(ANALYSES),
            length(rows) / length(ANALYSES) + length(dropped), length(ANALYSES),
            if (length(dropped)) paste(dropped, collapse = "; ") else "none"))
checks <- do.call(rbind, checks)
cat(sprintf("formula vs haplo.score: chi2 relative %.2g, z absolute %.2g\n",
            max(checks$formula_chi2), max(checks$formula_z)))
cat(sprintf(paste("EM fixed point and glm epsilon 1e-15 vs haplo.score: chi2 relative %.2g,",
                  "p relative %.2g, z absolute %.2g\n"),
            max(checks$fixed_chi2), max(checks$fixed_p), max(checks$fixed_z)))
cat(sprintf(paste("singular values of V over the largest: smallest kept %.2g,",
                  "largest dropped %.2g (cut at %g)\n"),
            min(checks$sv_kept), max(checks$sv_dropped), EPS_SVD))
cat(sprintf("gaussian, dispersion over n instead of n - p: chi2 off by %.2g to %.2g\n",
            min(checks$over_n, na.rm = TRUE), max(checks$over_n, na.rm = TRUE)))
# With the intercept in the null model, a pooled column is a linear function
# of the others: the same global statistic, one more z.
cat(sprintf("rare haplotypes pooled into one more column: chi2 off by at most %.2g\n",
            max(checks$pooled)))
slow <- checks[checks$fixed_freq > 1e-9, ]
cat("rows whose frequencies move by more than 1e-9 beyond haplo.em's stop:\n")
cat(sprintf("  %s: frequency %.2g, chi2 relative %.2g, z absolute %.2g\n",
            slow$window, slow$fixed_freq, slow$fixed_chi2, slow$fixed_z), sep = "")
