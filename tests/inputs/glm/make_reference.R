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
# Brute force, written from the model (Lake et al. 2003, eq. 1, the
# observed-data likelihood), not from haplo.glm:
#   L = prod_i sum_{(h,k)} f_h f_k P(y_i | x(h,k), z_i)
# over every ordered pair of haplotypes compatible with i's genotypes (an
# autosome or a female's X), and L_i = sum_h f_h P(y_i | x(h), z_i) over a
# male's single X haplotypes. x(h,k) counts the copies (additive) or marks
# carriers (dominant) of each modelled haplotype and of the rare group; a
# male's dosage is 0 or 1 in both codings. P is the logistic (binary) or
# normal (quantitative, variance sigma^2) density. The effects, the
# frequencies (through a softmax, the base's logit 0) and log sigma are
# maximised jointly with optim (BFGS, analytic gradient) from several starts.
# Standard errors: inverse of minus the numerical Hessian (numDeriv,
# Richardson) of the observed log-likelihood over the effects, log sigma and
# the frequencies themselves (the most frequent haplotype takes 1 minus the
# others), which is the information Louis' method computes; frequencies
# below MIN_INFO are held at their estimate, as haplo.glm's haplo.min.info
# does.

# Every ordered pair (or single haplotype, haploid) compatible with each
# individual's calls; a missing call (NA) allows both alleles of its locus.
enumerate_phases <- function(geno, alleles, haploid) {
  out <- vector("list", nrow(geno))
  for (i in seq_len(nrow(geno))) {
    opts <- lapply(seq_along(alleles), function(l) {
      a <- geno[i, 2 * l - 1]; b <- geno[i, 2 * l]; al <- alleles[[l]]
      if (is.na(a) || is.na(b)) {
        if (haploid[i]) return(cbind(al, al))
        return(as.matrix(expand.grid(al, al, stringsAsFactors = FALSE)))
      }
      if (a == b) return(cbind(a, a))
      if (haploid[i]) stop(sprintf("individual %d: heterozygous call where one haplotype is carried", i))
      rbind(c(a, b), c(b, a))
    })
    idx <- as.matrix(expand.grid(lapply(opts, function(o) seq_len(nrow(o)))))
    spell <- function(side) apply(idx, 1, function(r)
      paste(vapply(seq_along(opts), function(l) opts[[l]][r[l], side], ""), collapse = ""))
    out[[i]] <- data.frame(subj = i, h1 = spell(1),
                           h2 = if (haploid[i]) NA_character_ else spell(2),
                           stringsAsFactors = FALSE)
  }
  ph <- do.call(rbind, out)
  haps <- sort(unique(c(ph$h1, ph$h2[!is.na(ph$h2)])))
  ph$c1 <- match(ph$h1, haps); ph$c2 <- match(ph$h2, haps)
  list(ph = ph, haps = haps, n = nrow(geno),
       chrom = sum(ifelse(haploid, 1, 2)))
}

# Expected copies of every haplotype, summed over individuals, under
# pair weights w.
expected_counts <- function(ph, w, H) {
  two <- !is.na(ph$c2)
  as.numeric(tapply(c(w, w[two]), factor(c(ph$c1, ph$c2[two]), levels = 1:H), sum, default = 0))
}

# Trait-free maximum-likelihood frequencies by gene counting, iterated until
# no frequency moves by 1e-15.
em_frequencies <- function(E) {
  H <- length(E$haps); f <- rep(1 / H, H)
  for (it in 1:200000) {
    w <- f[E$ph$c1] * ifelse(is.na(E$ph$c2), 1, f[E$ph$c2])
    w <- w / rowsum(w, E$ph$subj)[E$ph$subj]
    g <- expected_counts(E$ph, w, H) / E$chrom
    done <- max(abs(g - f)) < 1e-15
    f <- g
    if (done) break
  }
  f
}

log1pexp <- function(x) ifelse(x > 0, x + log1p(exp(-x)), log1p(exp(x)))

bruteforce_fit <- function(E, y, Z, family, effect, n_starts = 4) {
  ph <- E$ph; H <- length(E$haps)
  f0 <- em_frequencies(E)
  base <- which.max(f0)
  rare <- which(f0 < FREQ_MIN)
  common <- setdiff(which(f0 >= FREQ_MIN), base)
  groups <- c(as.list(common), if (length(rare)) list(rare))
  K <- length(groups)
  X <- sapply(groups, function(g) {
    cnt <- (ph$c1 %in% g) + ifelse(is.na(ph$c2), 0, ph$c2 %in% g)
    if (effect == "dominant") pmin(cnt, 1) else cnt
  })
  X <- matrix(X, ncol = K)
  D <- cbind(Z[ph$subj, , drop = FALSE], X)
  p <- ncol(Z); nb <- p + K
  yr <- y[ph$subj]
  gauss <- family == "gaussian"
  two <- !is.na(ph$c2)
  # Log-likelihood and pair weights from the effects b, log frequencies lf
  # and log sigma.
  core <- function(b, lf, ls) {
    eta <- as.numeric(D %*% b)
    dens <- if (gauss) dnorm(yr, eta, exp(ls), log = TRUE) else yr * eta - log1pexp(eta)
    lt <- lf[ph$c1] + ifelse(two, lf[ph$c2], 0) + dens
    m <- as.numeric(tapply(lt, ph$subj, max))
    lse <- log(as.numeric(rowsum(exp(lt - m[ph$subj]), ph$subj))) + m
    w <- exp(lt - lse[ph$subj])
    s <- if (gauss) (yr - eta) / exp(2 * ls) else yr - plogis(eta)
    list(ll = sum(lse), w = w, eta = eta, s = s)
  }
  free <- setdiff(1:H, base)
  unpack <- function(par) {
    th <- numeric(H); th[free] <- par[nb + seq_along(free)]
    list(b = par[1:nb], lf = th - max(th) - log(sum(exp(th - max(th)))),
         ls = if (gauss) par[length(par)] else 0)
  }
  fn <- function(par) { u <- unpack(par); core(u$b, u$lf, u$ls)$ll }
  gr <- function(par) {
    u <- unpack(par); c0 <- core(u$b, u$lf, u$ls)
    gb <- as.numeric(crossprod(D, c0$w * c0$s))
    gt <- (expected_counts(ph, c0$w, H) - E$chrom * exp(u$lf))[free]
    gs <- if (gauss) sum(c0$w * ((yr - c0$eta)^2 / exp(2 * u$ls) - 1))
    c(gb, gt, gs)
  }
  b0 <- c(if (gauss) mean(y) else qlogis(mean(y)), rep(0, nb - 1))
  # Starts: the trait-free frequencies mixed half and half with equal ones
  # (no haplotype starts at a vanishing frequency, from where a softmax
  # cannot climb back), equal frequencies, then random ones.
  fmix <- 0.5 * f0 + 0.5 / H
  start0 <- c(b0, log(fmix[free] / fmix[base]), if (gauss) log(sd(y)))
  set.seed(7)
  best <- NULL; lls <- numeric(0); pars <- list()
  for (s in 1:n_starts) {
    par <- start0
    if (s == 2) par[nb + seq_along(free)] <- 0
    if (s > 2) par <- start0 + c(rnorm(nb, sd = 0.3), rnorm(length(free)), if (gauss) 0)
    val <- -Inf
    # BFGS restarted from its own answer until the log-likelihood stops
    # rising: each restart renews the Hessian approximation.
    for (round in 1:50) {
      o <- optim(par, fn, gr, method = "BFGS",
                 control = list(fnscale = -1, reltol = 1e-16, maxit = 100000))
      par <- o$par
      if (o$value <= val + 1e-13) break
      val <- o$value
    }
    lls[s] <- o$value; pars[[s]] <- par
    if (is.null(best) || o$value > best$value) best <- o
  }
  par <- best$par; u <- unpack(par)
  f <- exp(u$lf)
  c0 <- core(u$b, u$lf, u$ls)
  ref <- which.max(f)
  held <- which(f < MIN_INFO)
  fr <- setdiff(1:H, c(ref, held))
  # Numerical Hessian of the observed log-likelihood over the effects and
  # the free frequencies, sigma held at its maximum or (with_sigma) among
  # the parameters.
  hessian_se <- function(with_sigma) {
    direct <- function(q) {
      ff <- f; ff[fr] <- q[nb + seq_along(fr)]; ff[ref] <- 1 - sum(ff[-ref])
      list(b = q[1:nb], ff = ff, ls = if (with_sigma) q[length(q)] else u$ls)
    }
    gd <- function(q) {
      v <- direct(q); cv <- core(v$b, log(v$ff), v$ls)
      cnt <- expected_counts(ph, cv$w, H)
      c(as.numeric(crossprod(D, cv$w * cv$s)), cnt[fr] / v$ff[fr] - cnt[ref] / v$ff[ref],
        if (with_sigma) sum(cv$w * ((yr - cv$eta)^2 / exp(2 * v$ls) - 1)))
    }
    q <- c(u$b, f[fr], if (with_sigma) u$ls)
    Hs <- numDeriv::jacobian(gd, q)
    list(se = sqrt(diag(solve(-(Hs + t(Hs)) / 2)))[1:nb], grad = max(abs(gd(q))))
  }
  # Louis' formula written out at the maximum (Louis 1982, J R Stat Soc B
  # 44:226, eq. 3.1): sum over individuals of E(complete-data information)
  # minus Var(complete-data score) over their pairs, with the posteriors of
  # the maximum, dispersion a (gaussian) and only the pairs in rows.
  louis_se <- function(a, rows) {
    w <- c0$w * rows
    vr <- if (gauss) rep(1 / a, nrow(ph)) else plogis(c0$eta) * (1 - plogis(c0$eta))
    sr <- if (gauss) (yr - c0$eta) / a else c0$s
    onehot <- function(c) {
      m <- matrix(0, nrow(ph), H); ok <- !is.na(c); m[cbind(which(ok), c[ok])] <- 1; m
    }
    cnt <- onehot(ph$c1) + onehot(ph$c2)
    S <- cbind(D * sr, sweep(cnt[, fr, drop = FALSE], 2, f[fr], "/") - cnt[, ref] / f[ref])
    nf <- length(fr)
    Ic <- matrix(0, nb + nf, nb + nf)
    Ic[1:nb, 1:nb] <- crossprod(D, w * vr * D)
    Ic[nb + 1:nf, nb + 1:nf] <- diag(as.numeric(crossprod(w, cnt[, fr, drop = FALSE])) / f[fr]^2, nf) +
      sum(w * cnt[, ref]) / f[ref]^2
    Sbar <- rowsum(w * S, ph$subj)
    sqrt(diag(solve(Ic - crossprod(S, w * S) + crossprod(Sbar))))[1:nb]
  }
  h <- hessian_se(FALSE)
  rss <- sum(c0$w * (yr - c0$eta)^2)
  all_rows <- rep(TRUE, nrow(ph))
  # haplo.glm's conventions: dispersion over n - p; the pairs holding a
  # haplotype below MIN_INFO left out of the sums.
  se_hg <- louis_se(if (gauss) rss / (E$n - nb) else 1, !(ph$c1 %in% held | ph$c2 %in% held))
  se_louis_ml <- louis_se(if (gauss) rss / E$n else 1, all_rows)
  # The starts that reached the best log-likelihood (within 1e-8) and how
  # far their effects lie from the best.
  same <- which(lls > best$value - 1e-8)
  spread <- max(sapply(pars[same], function(pp) max(abs(pp[1:nb] - par[1:nb]))))
  list(haps = E$haps, f0 = f0, f = f, base = base, common = common, rare = rare,
       p = p, K = K, coef = u$b, ll = best$value,
       # reported: the Hessian's (binary), haplo.glm's dispersion (gaussian)
       se = if (gauss) se_hg else h$se,
       se_hessian = h$se, se_hg = se_hg, se_louis_ml = se_louis_ml,
       se_with_sigma = if (gauss) hessian_se(TRUE)$se,
       held_sum = sum(f[held]), grad = h$grad,
       starts_same = length(same), spread = spread,
       sigma = if (gauss) exp(u$ls) else NA, converged = best$convergence == 0)
}

# Rows in haplo_glm.tsv's layout; zname the covariate terms' names.
bruteforce_rows <- function(bf, znames) {
  rows <- list()
  for (k in seq_len(bf$p))
    rows[[k]] <- c(znames[k], "NA", "NA", fmt(bf$coef[k]), fmt(bf$se[k]))
  hr <- list()
  for (h in sort(c(bf$common, bf$base))) {
    k <- match(h, bf$common)
    hr[[bf$haps[h]]] <- if (h == bf$base) c("haplotype", bf$haps[h], fmt(bf$f[h]), "0", "NA") else
      c("haplotype", bf$haps[h], fmt(bf$f[h]), fmt(bf$coef[bf$p + k]), fmt(bf$se[bf$p + k]))
  }
  rows <- c(rows, hr[order(names(hr))])
  if (length(bf$rare))
    rows[[length(rows) + 1]] <- c("rare", "rare", fmt(sum(bf$f[bf$rare])),
                                  fmt(bf$coef[bf$p + bf$K]), fmt(bf$se[bf$p + bf$K]))
  do.call(rbind, rows)
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

glm_rows <- list(); global_rows <- list(); left_out <- character(0); kept_fits <- list()
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
        kept_fits[[length(kept_fits) + 1]] <- list(d = d, loci = loci, an = an, r = r,
                                                   name = paste(wname, aname))
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
# CHECKS_RDS=FILE keeps the per-fit checks for a closer look.
if (nzchar(Sys.getenv("CHECKS_RDS"))) saveRDS(checks, Sys.getenv("CHECKS_RDS"))
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

# ---------------------------------------------------------------------------
# Brute force on the X-chromosome sample: a male (sex 1) carries one
# haplotype, read from his homozygous calls; a female (sex 2) two.
X_ANALYSES <- list(
  cc     = list(trait = "cc", family = "binomial", effect = "additive"),
  cc_dom = list(trait = "cc", family = "binomial", effect = "dominant"),
  qt     = list(trait = "qt", family = "gaussian", effect = "additive"),
  qt_dom = list(trait = "qt", family = "gaussian", effect = "dominant"))
xped <- read.table(file.path(dir, "x.ped"), colClasses = "character")
xmap <- read.table(file.path(dir, "x.map"), colClasses = "character")
xph <- read.table(file.path(dir, "x.pheno"), header = TRUE,
                  colClasses = c("character", "character", "numeric", "numeric"))
stopifnot(identical(xped$V2, xph$IID), all(xmap$V1 == "X"), all(xped$V5 %in% c("1", "2")))
xgeno <- as.matrix(xped[, -(1:6)]); xgeno[xgeno == "0"] <- NA
xalleles <- lapply(seq_len(nrow(xmap)), function(l)
  sort(unique(na.omit(as.vector(xgeno[, c(2 * l - 1, 2 * l)])))))
EX <- enumerate_phases(xgeno, xalleles, xped$V5 == "1")
x_rows <- list()
for (aname in names(X_ANALYSES)) {
  an <- X_ANALYSES[[aname]]
  y <- if (an$trait == "cc") xph$cc - 1 else xph$qt
  Z <- matrix(1, nrow(xgeno), 1)
  bf <- bruteforce_fit(EX, y, Z, an$family, an$effect, n_starts = 6)
  stopifnot(bf$converged, bf$starts_same >= 2, bf$spread < 1e-6, bf$grad < 1e-4)
  rows <- bruteforce_rows(bf, "intercept")
  lead <- c("x", aname, if (an$family == "binomial") "binary" else "quantitative",
            an$effect, "-", xmap$V2[1], xmap$V2[nrow(xmap)])
  x_rows[[aname]] <- cbind(matrix(lead, nrow(rows), length(lead), byrow = TRUE), rows, 1)
  cat(sprintf(paste("x %s: log-likelihood %.10g; %d of 6 starts reach it, effects within %.1g;",
                    "largest gradient %.1g\n"), aname, bf$ll, bf$starts_same, bf$spread, bf$grad))
  cat(sprintf("  Louis' formula (dispersion at its maximum) vs the numerical Hessian: se relative %.1g\n",
              rel(bf$se_louis_ml, bf$se_hessian)))
  if (an$family == "gaussian")
    cat(sprintf(paste("  se reported (dispersion over n - p) vs the Hessian's (sigma fixed at its",
                      "maximum): %+.2g%% to %+.2g%%; vs sigma among the parameters: %+.2g%% to %+.2g%%\n"),
                100 * min(bf$se / bf$se_hessian - 1), 100 * max(bf$se / bf$se_hessian - 1),
                100 * min(bf$se / bf$se_with_sigma - 1), 100 * max(bf$se / bf$se_with_sigma - 1)))
}
write_tsv(do.call(rbind, x_rows),
          c(lead_cols, "term", "haplotype", "freq", "coef", "se", "converged"),
          "x_bruteforce.tsv")
cat(sprintf("x: %d males, %d females, %d phase rows; trait-free frequencies %s\n",
            sum(xped$V5 == "1"), sum(xped$V5 == "2"), nrow(EX$ph),
            paste(sprintf("%s %.4f", EX$haps, em_frequencies(EX)), collapse = ", ")))

# ---------------------------------------------------------------------------
# The brute force against haplo.glm on every fit of haplo_glm.tsv.
ac <- list()
for (kf in kept_fits) {
  r <- kf$r; an <- kf$an; loci <- kf$loci; d <- kf$d
  g <- d$geno[r$keep, as.vector(rbind(2 * loci - 1, 2 * loci))]
  alleles <- lapply(loci, function(l) sort(unique(na.omit(as.vector(d$geno[, c(2 * l - 1, 2 * l)])))))
  E <- enumerate_phases(g, alleles, rep(FALSE, length(r$keep)))
  Z <- model.matrix(as.formula(paste("~", paste(c("1", an$cov), collapse = " + "))), d$df[r$keep, ])
  bf <- bruteforce_fit(E, d$df[r$keep, an$trait], Z, an$family, an$effect, n_starts = 2)
  # haplo.glm's coefficients in the brute force's order.
  hap <- apply(as.matrix(r$fit$haplo.unique), 1, paste, collapse = "")
  lab <- names(r$coef); is_h <- grepl("^G\\.[0-9]+$", lab)
  lab[is_h] <- hap[as.integer(sub("G.", "", lab[is_h], fixed = TRUE))]
  lab[lab == "G.rare"] <- "rare"
  m <- match(c(colnames(Z), bf$haps[bf$common], if (length(bf$rare)) "rare"), lab)
  stopifnot(!anyNA(m), length(m) == length(lab))
  ac[[length(ac) + 1]] <- data.frame(
    fit = kf$name, family = an$family, ll = bf$ll - r$fit$lnlike,
    coef = max(abs(bf$coef - r$coef[m]) / r$se[m]),
    freq = max(abs(bf$f - r$freq[match(bf$haps, hap)])),
    se_hg = rel(bf$se_hg, r$se[m]), se_hessian = rel(bf$se_hessian, r$se[m]),
    louis_hessian = rel(bf$se_louis_ml, bf$se_hessian), held = bf$held_sum,
    starts = bf$starts_same, grad = bf$grad)
}
ac <- do.call(rbind, ac)
if (nzchar(Sys.getenv("CHECKS_RDS"))) saveRDS(ac, paste0(Sys.getenv("CHECKS_RDS"), ".bruteforce"))
cat(sprintf("brute force vs haplo.glm, %d fits: log-likelihood %.2g to %+.2g, coef within %.2g se, freq within %.2g\n",
            nrow(ac), min(ac$ll), max(ac$ll), max(ac$coef), max(ac$freq)))
cat(sprintf("  se by Louis' formula with haplo.glm's conventions: within %.2g (relative)\n", max(ac$se_hg)))
cat(sprintf("  Louis' formula (dispersion at its maximum) vs the numerical Hessian: within %.2g\n",
            max(ac$louis_hessian)))
bin <- ac$family == "binomial"; neg <- ac$held < 1e-9
cat(sprintf(paste("  se from the numerical Hessian, binary: within %.2g where every haplotype below %g has",
                  "frequency under 1e-9 (%d fits), up to %.2g otherwise (%d fits, held frequency up to %.2g)\n"),
            max(ac$se_hessian[bin & neg]), MIN_INFO, sum(bin & neg),
            max(c(0, ac$se_hessian[bin & !neg])), sum(bin & !neg), max(ac$held[bin])))
cat(sprintf("  se from the numerical Hessian, quantitative (dispersion over n): off by %.2g to %.2g\n",
            min(ac$se_hessian[!bin]), max(ac$se_hessian[!bin])))
