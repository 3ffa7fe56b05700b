// The statistics every program of the suite shares: tail probabilities,
// the case-control z of a haplotype, the empirical p values of
// permutations, and the defaults of the options that set them. No state,
// no dependencies; each function is a pure function of its arguments.
#pragma once

#include <cstdint>

// ---- defaults ---------------------------------------------------------------

// Haplotypes of lower frequency are rare: not modelled, not reported on top.
constexpr double HS_DEFAULT_MIN_FREQ = 0.01;
// The estimator's EM stopping rule: it stops when a step gains no more than
// HS_DEFAULT_EM_GAIN in log-likelihood or after HS_DEFAULT_EM_STEPS steps.
constexpr double HS_DEFAULT_EM_GAIN = 0.01;
constexpr int HS_DEFAULT_EM_STEPS = 50;
// The seed of the permutations.
constexpr int HS_DEFAULT_SEED = 3000;

// ---- tail probabilities -----------------------------------------------------

// P(Z > x) for a standard normal Z by the rational approximation 26.2.16
// of Abramowitz and Stegun (1964), absolute error below 1e-5; 0 beyond 12
// (1 below -12). hfp's haplotype tables print it.
double hs_normal_upper_as(double x);
// P(X > x) for a chi-square X with df degrees of freedom in closed forms
// over hs_normal_upper_as: the sums of Abramowitz and Stegun 26.4.4-26.4.5
// (26.4.21 for even df), and beyond x = 169 the cube-root approximation of
// Wilson and Hilferty (1931). Inherits the 1e-5 absolute error; hfp's.
double hs_chi2_upper_as(double x, int df);
// P(X > x) for a chi-square X with df degrees of freedom: the regularised
// upper incomplete gamma function Q(df/2, x/2), by its series below
// a + 1 and its continued fraction (modified Lentz) above (Numerical
// Recipes, 3rd ed., 6.2), to full double precision and exact in relative
// terms deep into the tail (p values of 1e-300 and below); 1 for x <= 0,
// NaN for df < 1 or x NaN. hfscan's and hfreg's.
double hs_chi2_upper(double x, int df);

// ---- the case-control z -----------------------------------------------------

// z of the difference of a haplotype's frequencies hca in nca cases and hco
// in nco controls, under the pooled frequency m = (nca hca + nco hco) /
// (nca + nco) with variance m (1 - m) (1/(2 nca) + 1/(2 nco)) (two
// haplotypes per individual): (hca - hco) / sqrt(variance), positive when
// more frequent in cases. Returns false, leaving z alone, when the
// variance is not positive (both groups at 0 or both at 1).
bool hs_casecontrol_z(double hca, double hco, double nca, double nco, double *z);

// ---- empirical p values -----------------------------------------------------
//
// Two definitions, both in use and both kept. hs_permutation_p is the
// permutation p value (hits + 1) / (n + 1) of Davison and Hinkley (1997,
// 4.4) and Phipson and Smyth (2010, Stat Appl Genet Mol Biol 9:39): the
// observed data count as one of the arrangements, so it is never 0 and is
// a valid p value; hfscan and hfreg report it. hs_fraction_p is the plain
// fraction hits / n of permuted statistics at least as large as the
// observed one, which may be 0; hfp's report has always printed it, in
// single precision, with its binomial standard error sqrt(p (1 - p) / n).

double hs_permutation_p(long hits, long n);

struct hs_fraction_t {
  float p, se;
};
hs_fraction_t hs_fraction_p(int hits, int n);
