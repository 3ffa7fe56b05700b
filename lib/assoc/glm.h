// Haplotype regression with unknown phase: the EM-weighted GLM of Lake et
// al. 2003 (Hum Hered 55:56-65), the model of haplo.stats' haplo.glm.
//
// Individual i with genotype G_i, covariates c_i and trait y_i contributes
//
//     L_i = sum_{pairs (a, b) compatible with G_i} f(y_i | eta_iab) k_ab f_a f_b,
//
// k_ab = 2 for a != b, 1 for a == b (a hemizygous male carries one
// haplotype: his term is f(y_i | eta_ia) f_a), eta_iab = beta0 + x_ab' beta_h
// + c_i' beta_c, x_ab the pair's coding of the haplotype terms (additive:
// copies 0/1/2, dominant: carries, recessive: two copies; a male's copy counts
// as 1 under every coding), f the logistic (binary trait) or normal density
// (quantitative trait, dispersion phi). The base haplotype has no column; the
// rare haplotypes share one column (`rare`), each keeping its own frequency.
//
// Estimation (Lake et al. sec. 2.2): EM over the unknown pairs. The E-step
// takes the pair posteriors w_iab proportional to the pair's term of L_i; the
// M-step fits the GLM to the pairs with prior weights w_iab (iteratively
// reweighted least squares) and sets f_h to the posterior share of copies.
// For a binary trait without the prior, the joint EM's steps from the
// second on are Newton steps on (beta, f) with the observed information
// below, each kept only where it raises the log-likelihood (frequencies the
// step would take out of the simplex held out of it and shrunk towards
// their boundary); where one fails, EM steps take over for two steps before
// the next is tried: the same optimum in fewer steps.
// The normal density of the EM and of the likelihoods takes the maximum-
// likelihood variance phi = sum w_iab (y_i - eta_iab)^2 / n; the standard
// errors take the dispersion sum w_iab (y_i - eta_iab)^2 / (n - d), d the
// number of coefficients. Both are haplo.glm's (its lnlike and its
// summary's dispersion).
//
// Variance (Louis 1982, J R Stat Soc B 44:226, eq. 3.2): the observed
// information of (beta, free frequencies) is, per individual,
//   E[-H_c | y, G] - Var[s_c | y, G]
// over the posterior of the pairs, s_c and H_c the complete-data score and
// Hessian; the frequencies enter through the parameters f_1 .. f_{m-1}
// (f_m = 1 - the rest) of the haplotypes of frequency >= min_info, as in
// haplo.glm: rarer ones are held fixed, and the pairs that hold one are
// left out of the sums (their posteriors not renormalised). The variance
// is its generalised
// inverse; the standard errors of beta do not depend on which frequency is
// left out.
//
// Separation or a fit that does not converge: when an effect of a binary
// trait runs off (|beta| > 15 or its standard error above 1e3 after the EM,
// or the EM ends at its step cap), the fit is repeated with a normal prior,
// mean 0 and sd 5 (log odds ratio), on every haplotype effect (a ridge
// penalty sum beta_h^2 / 50 on the log-likelihood); the information then
// includes the prior's 1/25. The terms hit are named in their status and
// every haplotype row says that the prior was used.
//
// Nothing here prints or exits; state kept between calls lives in the
// caller's glm_cache_t.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "hflib.h"
#include "stats.h"

enum glm_effect_t { GLM_ADDITIVE = 0, GLM_DOMINANT = 1, GLM_RECESSIVE = 2 };

struct glm_settings_t {
  glm_effect_t effect = GLM_ADDITIVE;
  double min_freq = HS_DEFAULT_MIN_FREQ; // a haplotype below this frequency is rare
  double min_count = 0;     // ... or below this many expected copies
  int base = -1;            // base haplotype (position), -1: the most frequent
  double sum_rare_min = 0.001;  // rare frequencies summing to less join the base
  double min_info = 0.001;  // frequencies below this are fixed in the information
  // The EM (trait-free and joint) stops when a step gains no more than gain
  // in log-likelihood, or after max_iter steps.
  double gain = 1e-9;
  int max_iter = 10000;
  double prior_sd = 5;      // the bound's prior, used only on separation
};

// The individuals: trait, covariates and each one's distinct genotype in a
// posterior table (hf_posteriors), with start frequencies of the haplotypes
// (positions as in the table's pairs).
struct glm_data_t {
  bool binary = true;
  size_t n = 0, q = 0;          // individuals, covariate columns
  std::vector<double> y;        // n; binary 1 case 0 control
  std::vector<double> cov;      // n x q, row-major
  std::vector<int> genotype;    // n
  std::vector<double> freq0;    // start frequencies, one per haplotype position
};

// One row of the table.
enum glm_kind_t { GLM_INTERCEPT, GLM_BASE, GLM_HAPLOTYPE, GLM_RARE, GLM_COVARIATE };
struct glm_term_t {
  glm_kind_t kind = GLM_INTERCEPT;
  int haplotype = -1;     // position (base and haplotype rows)
  size_t covariate = 0;   // column (covariate rows)
  double freq;            // final frequency (summed over the rare ones); NaN otherwise
  double effect = 0, se;  // se NaN where it cannot be computed (and for the base)
  std::string status;     // "" when ok
  glm_term_t();
};

struct glm_fit_t {
  std::vector<glm_term_t> terms;  // intercept, base, haplotypes by position, rare, covariates
  std::vector<double> freq;       // final frequencies
  std::vector<double> freq_null;  // the trait-free estimate, which chooses the terms
  std::vector<char> rare;         // per haplotype position
  double loglik = 0;              // at the estimate (joint: trait and genotypes)
  double loglik_null = 0;         // without haplotype effects
  double lrt_chi2 = 0;            // 2 (loglik - loglik_null); df the haplotype terms
  int lrt_df = 0;
  double dispersion = 1;          // of the standard errors (1 for a binary trait)
  int iterations = 0;
  bool converged = false;
  bool prior = false;             // the bound was applied
  std::string status;             // "" when the fit holds figures; else why not
};

// What one fit leaves for the next on the same individuals: the model
// without haplotypes, which depends on the trait and the covariates only
// (taken again when they are the same, bit for bit), and room for the
// fit's work.
struct glm_cache_t {
  bool valid = false;
  bool binary = true;
  size_t q = 0;
  std::vector<double> y, cov;   // those of the fit kept
  bool fitted = false;          // the model without haplotypes could be fitted
  std::vector<double> beta;     // its coefficients: intercept, covariates
  double loglik = 0;            // its log-likelihood of the trait
  // The fit's buffers, lent to the next fit (their contents mean nothing).
  std::vector<std::vector<double>> dbuf;
  std::vector<std::vector<size_t>> zbuf;
};

// Fits the model; false (with fit.status) when there is nothing to report
// (no individual, collinear covariates, a base haplotype that is rare).
// With cache, the model without haplotypes is taken from there when it
// holds the same trait and covariates (the figures are the same either way).
bool glm_fit(const glm_data_t &d, const hf_posterior_t &post, const glm_settings_t &s,
             glm_fit_t &fit, glm_cache_t *cache = nullptr);
