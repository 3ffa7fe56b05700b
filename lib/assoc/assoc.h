// Haplotype association by score tests on one window's pooled estimate.
//
// The trait is regressed on an intercept and the covariates (the null
// model: logistic for a binary trait, linear with normal errors for a
// quantitative one). Under that model the score for the additive effects of
// the modelled haplotypes is
//
//     U = sum_i (y_i - mu_i) xbar_i / phi,
//
// xbar_i the individual's expected copies of each modelled haplotype given
// its genotype, under the pooled frequencies (Schaid et al. 2002, Am J Hum
// Genet 70:425, eq. 2 with the additive coding). The global statistic is
// U' V^- U on rank(V) degrees of freedom, V^- a generalised inverse.
//
// Two variances of U are offered:
//   conditional  the variance of U given the genotypes and covariates,
//                V = (X'WX - X'WZ (Z'WZ)^-1 Z'WX) / phi over the expected
//                dosages X, the working weights W and the null model's
//                columns Z (the score test of a regression on the expected
//                dosages; with normal errors and no covariates it is
//                (n - 1) R^2);
//   louis        Schaid et al.'s variance (eq. 5-7): Louis' information for
//                the haplotype effects, sum_i w_i E[x x' | G_i] / phi minus
//                sum_i r_i^2 Var(x | G_i) / phi^2, with the covariate
//                coefficients projected out as above. haplo.stats'
//                haplo.score computes this one.
// Under the null the haplotype frequencies need no projection: their
// cross-information with U is zero, because the phase posteriors do not
// involve the trait when the haplotype effects are 0.
//
// Nothing here prints, exits or keeps state between calls: a window's work
// lives in the structs its caller owns, so windows run in threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hflib.h"

enum assoc_variance_t { ASSOC_CONDITIONAL = 0, ASSOC_LOUIS = 1 };

// The individuals of the test: the trait y (binary: 1 case, 0 control) and
// the null model's columns, row-major n x p, column 0 the intercept. With
// the intercept alone (p == 1) z may be left empty: the same column of ones,
// with no array. A binary trait may come as cases (1 a case, 0 a control:
// a byte for each individual) with y empty: the same values. The score test
// reads n, p and z alone (the trait only the fit), but for a model without
// arrays (assoc_null_t::arrays).
struct assoc_data_t {
  bool binary = true;
  size_t n = 0, p = 0;
  std::vector<double> y;
  std::vector<uint8_t> cases;
  std::vector<double> z;
};

// The fitted null model. status is "" when the fit can be used, else why
// not (collinear covariates, separation, no convergence).
struct assoc_null_t {
  std::vector<double> beta;  // p coefficients
  std::vector<double> r;     // residuals y - mu, mu the fitted means
  std::vector<double> w;     // working weights: mu (1 - mu), or 1
  // With the intercept alone every individual has the same fitted mean mu
  // and weight w1. A model fitted without arrays keeps those two and no r
  // and w: individual i's residual is y_i - mu, its weight w1 (the same
  // IEEE values the arrays would hold), and the score test reads the trait
  // from the data. It costs nothing per individual beyond the trait; the
  // permutations (assoc_permuted, the batches) need the arrays.
  bool arrays = true;
  double mu = 0, w1 = 1;
  double phi = 1;            // dispersion: 1, or the residual variance
  // Z'WZ (p x p, row-major), summed over the individuals in input order;
  // empty when not fitted here (assoc_score then sums it itself).
  std::vector<double> zwz;
  int iterations = 0;
  std::string status;
};
// Fits the null model; false (with m.status) when it cannot be used. The
// dispersion of a linear model is the residual sum of squares over n - p,
// as haplo.score takes it. arrays false keeps a model of the intercept
// alone (z empty) without its arrays (above); with covariates it is ignored.
bool assoc_fit_null(const assoc_data_t &d, assoc_null_t &m, bool arrays = true);

// The least-squares intercept of y[0 .. n - 1] (n >= 2): the same bits as
// the QR solution on a column of ones that the fit of a linear model with
// covariates takes, without that column.
double assoc_intercept(const double *y, size_t n);

// Expected copies of the modelled haplotypes for every distinct genotype
// of a window (mean[g * k + j]) and, for the Louis variance, the expected
// products of copies (second[(g * k + j) * k + l]). column[a] is the column
// of haplotype position a, or -1 when it is not modelled.
struct assoc_dosage_t {
  size_t k = 0, genotypes = 0;
  std::vector<double> mean, second;
};
void assoc_dosages(const hf_posterior_t &post, const std::vector<int> &column, size_t k,
                   bool second, assoc_dosage_t &out);

// The test. genotype[i] is the distinct genotype of individual i of the
// data (n of them). status is "" when the statistic is sound.
struct assoc_test_t {
  double chi2 = 0;
  int df = 0;
  std::vector<double> u;     // the score of each modelled haplotype
  std::vector<double> z;     // u_j / sqrt(V_jj), NaN where V_jj is not positive
  std::vector<double> proj;  // df x k: the statistic of a score v is |proj v|^2
  std::string status;
};
bool assoc_score(const assoc_data_t &d, const assoc_null_t &m, const assoc_dosage_t &x,
                 const int *genotype, assoc_variance_t variance, assoc_test_t &t);
inline bool assoc_score(const assoc_data_t &d, const assoc_null_t &m, const assoc_dosage_t &x,
                        const std::vector<int> &genotype, assoc_variance_t variance, assoc_test_t &t)
{
  return assoc_score(d, m, x, genotype.data(), variance, t);
}

// The statistic with the residuals permuted: residual r[order[i]] goes to
// individual i; the variance stays that of the observed data. work is
// scratch of the caller's.
double assoc_permuted(const assoc_null_t &m, const assoc_dosage_t &x,
                      const std::vector<int> &genotype, const assoc_test_t &t,
                      const std::vector<uint32_t> &order, std::vector<double> &work);
// The same from the permuted residuals summed by genotype (rg[g], summed in
// the individuals' order as assoc_permuted sums them); u is scratch of k.
double assoc_permuted_sums(const assoc_null_t &m, const assoc_dosage_t &x, const assoc_test_t &t,
                           const double *rg, double *u);
// The statistic of a score vector u (the raw sums, overwritten by u / phi):
// the squared length of its projection on the test's retained directions.
double assoc_projected(const assoc_null_t &m, const assoc_test_t &t, double *u);

// Permuted statistics in batches (batch.cpp). With D the individuals'
// expected dosages (n x k, row i the dosages of genotype[i]) and R the
// residuals of P permutations (n x P), the permuted scores are the columns
// of D' R / phi: one matrix product through the CBLAS of OpenBLAS. Each
// statistic is the one assoc_permuted gives for the same permutation, up to
// the order of its sums (so to rounding in the last bits).
struct assoc_batch_t {
  std::vector<double> d;  // D, row-major n x k
  std::vector<double> u;  // the scores, k per permutation
};
// D of a window, once for all its batches.
void assoc_batch_dosages(const assoc_dosage_t &x, const std::vector<int> &genotype, assoc_batch_t &b);
// chi2[c] for the residual vectors resid[c * n .. c * n + n - 1], c < perms.
void assoc_permuted_batch(const assoc_null_t &m, const assoc_test_t &t, const double *resid,
                          size_t perms, assoc_batch_t &b, double *chi2);
// The same product through the genotypes: D = I M, I the individuals'
// genotype indicators and M the dosages of the distinct genotypes (x.mean,
// G x k), so D'R = M'(I'R). sums[c * G + g] holds column c of I'R, the
// permuted residuals summed by genotype; when the individuals are many and
// their genotypes few this product is the cheaper.
void assoc_permuted_batch_sums(const assoc_null_t &m, const assoc_dosage_t &x, const assoc_test_t &t,
                               const double *sums, size_t perms, assoc_batch_t &b, double *chi2);
// The BLAS computes on the calling thread only: the threads of the caller
// are the parallelism, and a product's sums do not depend on how many
// threads the BLAS would have used. Call once, before any product.
void assoc_blas_one_thread();
// OpenBLAS takes a work area of ASSOC_BLAS_AREA bytes of address space for
// each product running at once, and waits for ever when it cannot have it
// (under a limit such as ulimit -v). True when the address space has room
// for that many products at once; checked before any is started.
const size_t ASSOC_BLAS_AREA = (size_t(128) << 20) + 4096;
bool assoc_blas_room(size_t products);
