// The score tests against closed forms, and the null model's refusals.

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include <Eigen/Dense>

#include <gtest/gtest.h>

#include "assoc.h"

namespace {

// One marker of two alleles: the genotypes 0, 1 and 2 copies of allele 1
// have one phase each, so the expected dosages are the counts.
hf_posterior_t one_snp()
{
  hf_posterior_t post;
  post.first = {0, 1, 2, 3};
  post.pairs = {{1, 1, 1.0}, {0, 1, 1.0}, {0, 0, 1.0}};  // 0, 1, 2 copies of position 0
  return post;
}

assoc_data_t data_of(bool binary, const std::vector<double> &y,
                     const std::vector<std::vector<double>> &cov = {})
{
  assoc_data_t d;
  d.binary = binary;
  d.n = y.size();
  d.p = 1 + (cov.empty() ? 0 : cov[0].size());
  d.y = y;
  for (size_t i = 0; i < d.n; i++) {
    d.z.push_back(1);
    for (size_t c = 0; c + 1 < d.p; c++)
      d.z.push_back(cov[i][c]);
  }
  return d;
}

// With one marker and no covariates the score statistic is the trend test:
// n r^2, r the correlation of y with the copy counts g (Armitage 1955; the
// logistic score test), or (n - 1) r^2 for a linear model whose residual
// variance is taken over n - 1.
double n_r2(const std::vector<double> &y, const std::vector<int> &g, bool linear)
{
  double n = static_cast<double>(y.size()), my = 0, mg = 0;
  for (size_t i = 0; i < y.size(); i++) {
    my += y[i] / n;
    mg += g[i] / n;
  }
  double syy = 0, sgg = 0, syg = 0;
  for (size_t i = 0; i < y.size(); i++) {
    syy += (y[i] - my) * (y[i] - my);
    sgg += (g[i] - mg) * (g[i] - mg);
    syg += (y[i] - my) * (g[i] - mg);
  }
  return (linear ? n - 1 : n) * syg * syg / (syy * sgg);
}

} // namespace

TEST(Score, OneMarkerIsTheTrendTest)
{
  const std::vector<int> copies = {0, 1, 2, 0, 1, 2, 1, 1, 0, 2};
  const std::vector<double> qt = {1.2, 2.0, 3.1, 1.9, 2.2, 2.4, 0.7, 1.8, 1.1, 3.3};
  const std::vector<double> cc = {0, 1, 1, 0, 0, 1, 1, 0, 0, 1};
  hf_posterior_t post = one_snp();
  std::vector<int> genotype(copies.size());
  for (size_t i = 0; i < copies.size(); i++)
    genotype[i] = copies[i];
  std::vector<int> column = {0, 1};
  for (bool binary : {false, true}) {
    for (assoc_variance_t v : {ASSOC_CONDITIONAL, ASSOC_LOUIS}) {
      const std::vector<double> &y = binary ? cc : qt;
      assoc_data_t d = data_of(binary, y);
      assoc_null_t m;
      ASSERT_TRUE(assoc_fit_null(d, m)) << m.status;
      assoc_dosage_t x;
      assoc_dosages(post, column, 2, v == ASSOC_LOUIS, x);
      assoc_test_t t;
      ASSERT_TRUE(assoc_score(d, m, x, genotype, v, t)) << t.status;
      // Both alleles modelled: their dosages add up to 2, one df.
      EXPECT_EQ(t.df, 1);
      EXPECT_NEAR(t.chi2, n_r2(y, copies, !binary), 1e-10 * t.chi2) << binary << v;
      EXPECT_NEAR(t.z[0] * t.z[0], t.chi2, 1e-9);
      EXPECT_GT(t.z[0], 0);  // allele 1 goes with the larger trait values here
      EXPECT_NEAR(t.z[1], -t.z[0], 1e-9);
      // The identity permutation gives the observed statistic.
      std::vector<uint32_t> order(y.size());
      std::iota(order.begin(), order.end(), 0u);
      std::vector<double> work;
      EXPECT_NEAR(assoc_permuted(m, x, genotype, t, order, work), t.chi2, 1e-12 * t.chi2);
    }
  }
}

TEST(Score, PhaseUncertaintyLowersLouisVariance)
{
  // Two markers, individual 0 a double heterozygote whose phases AB/ab and
  // Ab/aB are equally likely; positions 0..3 are AB, Ab, aB, ab.
  hf_posterior_t post;
  post.first = {0, 2, 3, 4};
  post.pairs = {{0, 3, 0.5}, {1, 2, 0.5}, {0, 0, 1.0}, {3, 3, 1.0}};
  std::vector<int> genotype = {0, 1, 2, 1, 2, 0, 1, 2};
  std::vector<double> y = {1.5, 2.5, 0.5, 1.9, 0.2, 1.1, 2.2, 0.9};
  assoc_data_t d = data_of(false, y);
  assoc_null_t m;
  ASSERT_TRUE(assoc_fit_null(d, m));
  std::vector<int> column = {0, 1, 2, 3};
  assoc_dosage_t x;
  assoc_dosages(post, column, 4, true, x);
  // E[x | G] of the double heterozygote is 1/2 of each haplotype; E[x x'] has
  // 1/2 on the diagonal and 1/2 for the pairs carried together.
  EXPECT_DOUBLE_EQ(x.mean[0], 0.5);
  EXPECT_DOUBLE_EQ(x.second[0 * 4 + 3], 0.5);
  EXPECT_DOUBLE_EQ(x.second[0 * 4 + 1], 0.0);
  EXPECT_DOUBLE_EQ(x.mean[4 + 0], 2.0);
  EXPECT_DOUBLE_EQ(x.second[16 + 0], 4.0);
  assoc_test_t c, l;
  ASSERT_TRUE(assoc_score(d, m, x, genotype, ASSOC_CONDITIONAL, c));
  ASSERT_TRUE(assoc_score(d, m, x, genotype, ASSOC_LOUIS, l));
  EXPECT_EQ(c.u, l.u);
}

TEST(NullModel, RefusesWhatCannotBeFitted)
{
  struct {
    bool binary;
    std::vector<double> y;
    std::vector<std::vector<double>> cov;
    const char *status;
  } cases[] = {
      {true, {0, 1, 0, 1, 0, 1}, {{1, 2}, {2, 4}, {3, 6}, {4, 8}, {5, 10}, {6, 12}}, "collinear"},
      {false, {1, 2, 3, 4}, {{0}, {0}, {0}, {0}}, "collinear"},
      {true, {0, 0, 0, 1, 1, 1}, {{1}, {2}, {3}, {4}, {5}, {6}}, "separate"},
      {true, {0, 0, 0, 0}, {}, "no case"},
      {false, {2, 2, 2, 2, 2}, {}, "does not vary"},
      {false, {1e300, -1e300, 3e299, 1}, {}, "too large to square"},
      {false, {1, 2}, {{1}, {2}}, "2 individuals for 2 coefficients"},
  };
  for (const auto &c : cases) {
    assoc_null_t m;
    EXPECT_FALSE(assoc_fit_null(data_of(c.binary, c.y, c.cov), m));
    EXPECT_NE(m.status.find(c.status), std::string::npos) << m.status;
  }
}

// A batch of permutations through the BLAS, in both forms (D'R over the
// individuals, M'(I'R) over the genotypes), gives each permutation's
// statistic as assoc_permuted does, to rounding; and the one-at-a-time
// statistic of a permuted trait is the observed statistic of that trait
// (no covariates: permuting the residuals is permuting the trait).
TEST(Score, BatchedPermutationsAreTheOneAtATimeStatistics)
{
  hf_posterior_t post;
  post.first = {0, 2, 3, 4};
  post.pairs = {{0, 3, 0.5}, {1, 2, 0.5}, {0, 0, 1.0}, {3, 3, 1.0}};
  std::vector<int> genotype = {0, 1, 2, 1, 2, 0, 1, 2, 0, 0, 1, 2};
  std::vector<double> y = {1.5, 2.5, 0.5, 1.9, 0.2, 1.1, 2.2, 0.9, 3.0, 1.7, 0.4, 2.8};
  const size_t n = y.size(), perms = 5;
  assoc_blas_one_thread();
  for (bool binary : {false, true}) {
    std::vector<double> trait = y;
    if (binary)
      for (double &v : trait)
        v = v > 1.6 ? 1 : 0;
    assoc_data_t d = data_of(binary, trait);
    assoc_null_t m;
    ASSERT_TRUE(assoc_fit_null(d, m)) << m.status;
    assoc_dosage_t x;
    assoc_dosages(post, {0, 1, 2, 3}, 4, false, x);
    assoc_test_t t;
    ASSERT_TRUE(assoc_score(d, m, x, genotype, ASSOC_CONDITIONAL, t)) << t.status;
    std::vector<std::vector<uint32_t>> orders;
    std::vector<double> resid, sums(perms * x.genotypes, 0.0);
    std::mt19937 gen(17);
    for (size_t c = 0; c < perms; c++) {
      std::vector<uint32_t> o(n);
      std::iota(o.begin(), o.end(), 0u);
      std::shuffle(o.begin(), o.end(), gen);
      for (size_t i = 0; i < n; i++) {
        resid.push_back(m.r[o[i]]);
        sums[c * x.genotypes + static_cast<size_t>(genotype[i])] += m.r[o[i]];
      }
      orders.push_back(o);
    }
    assoc_batch_t b;
    assoc_batch_dosages(x, genotype, b);
    std::vector<double> by_d(perms), by_g(perms), work;
    assoc_permuted_batch(m, t, resid.data(), perms, b, by_d.data());
    assoc_permuted_batch_sums(m, x, t, sums.data(), perms, b, by_g.data());
    for (size_t c = 0; c < perms; c++) {
      double one = assoc_permuted(m, x, genotype, t, orders[c], work);
      EXPECT_NEAR(by_d[c], one, 1e-12 * (1 + one)) << binary << c;
      EXPECT_NEAR(by_g[c], one, 1e-12 * (1 + one)) << binary << c;
      std::vector<double> permuted(n);
      for (size_t i = 0; i < n; i++)
        permuted[i] = trait[orders[c][i]];
      assoc_data_t dp = data_of(binary, permuted);
      assoc_null_t mp;
      assoc_test_t tp;
      ASSERT_TRUE(assoc_fit_null(dp, mp) && assoc_score(dp, mp, x, genotype, ASSOC_CONDITIONAL, tp));
      EXPECT_NEAR(tp.chi2, one, 1e-10 * (1 + one)) << binary << c;
    }
  }
}

// The intercept alone given as no array of z is the column of ones, and a
// model of it without residual and weight arrays is those arrays: the same
// bits in the fit and the score, whether the score takes Z'WZ from the fit
// or sums it itself, and past 16 modelled haplotypes (the sums one at a
// time).
TEST(Score, InterceptWithoutAnArrayIsTheColumnOfOnes)
{
  struct {
    bool binary;
    size_t k;
    bool own_zwz;
    assoc_variance_t variance;
  } cases[] = {{true, 3, false, ASSOC_CONDITIONAL}, {false, 3, true, ASSOC_LOUIS},
               {true, 18, true, ASSOC_CONDITIONAL}, {false, 18, false, ASSOC_CONDITIONAL}};
  std::mt19937 rng(11);
  for (const auto &c : cases) {
    const size_t n = 200, G = 40;
    hf_posterior_t post;
    post.first = {0};
    for (size_t g = 0; g < G; g++) {
      post.pairs.push_back({static_cast<int>(g % c.k), static_cast<int>((g * 7 + 1) % c.k), 0.25});
      post.pairs.push_back({static_cast<int>((g * 3) % c.k), static_cast<int>((g + 2) % c.k), 0.75});
      post.first.push_back(post.pairs.size());
    }
    std::vector<int> column(c.k), genotype(n);
    std::iota(column.begin(), column.end(), 0);
    std::vector<double> y(n);
    for (size_t i = 0; i < n; i++) {
      genotype[i] = static_cast<int>(rng() % G);
      y[i] = c.binary ? static_cast<double>(rng() % 2) : std::uniform_real_distribution<>(-2, 3)(rng);
    }
    assoc_data_t full = data_of(c.binary, y), bare = full;
    bare.z.clear();
    // Without arrays: one mean and weight, the trait read by the score test
    // (a binary one as bytes).
    assoc_data_t slim = bare;
    if (c.binary) {
      slim.cases.assign(y.begin(), y.end());
      slim.y.clear();
    }
    assoc_null_t mf, mb, ms;
    ASSERT_TRUE(assoc_fit_null(full, mf) && assoc_fit_null(bare, mb) && assoc_fit_null(slim, ms, false));
    EXPECT_EQ(mf.r, mb.r);
    EXPECT_EQ(mf.w, mb.w);
    EXPECT_TRUE(ms.r.empty() && ms.w.empty());
    for (size_t i = 0; i < n; i++)
      ASSERT_TRUE(mf.r[i] == y[i] - ms.mu && mf.w[i] == ms.w1) << i;
    for (const assoc_null_t *m : {&mb, &ms}) {
      EXPECT_EQ(mf.beta, m->beta);
      EXPECT_EQ(mf.zwz, m->zwz);
      EXPECT_EQ(mf.phi, m->phi);
    }
    if (c.own_zwz)
      mf.zwz.clear(), mb.zwz.clear(), ms.zwz.clear();
    assoc_dosage_t x;
    assoc_dosages(post, column, c.k, c.variance == ASSOC_LOUIS, x);
    assoc_test_t tf, tb, ts;
    ASSERT_TRUE(assoc_score(full, mf, x, genotype, c.variance, tf)) << tf.status;
    ASSERT_TRUE(assoc_score(bare, mb, x, genotype, c.variance, tb)) << tb.status;
    ASSERT_TRUE(assoc_score(slim, ms, x, genotype, c.variance, ts)) << ts.status;
    for (const assoc_test_t *t : {&tb, &ts}) {
      EXPECT_EQ(tf.chi2, t->chi2) << c.binary << " " << c.k;
      EXPECT_EQ(tf.u, t->u);
      EXPECT_EQ(tf.proj, t->proj);
    }
  }
}

// The intercept without the column of ones is the bits of the QR solution on
// that column (the fit with covariates takes the QR): sizes around the
// vectorised sums' steps of 2 and 4, traits of mixed scale.
TEST(Score, InterceptIsTheQrSolutionOnTheColumnOfOnes)
{
  std::mt19937 rng(5);
  for (size_t n : {2, 3, 4, 5, 6, 7, 8, 9, 31, 1000, 4099}) {
    for (int rep = 0; rep < 20; rep++) {
      Eigen::VectorXd y(static_cast<Eigen::Index>(n));
      for (Eigen::Index i = 0; i < y.size(); i++)
        y(i) = std::ldexp(std::uniform_real_distribution<>(-1, 1)(rng), static_cast<int>(rng() % 40) - 20);
      const Eigen::MatrixXd ones = Eigen::MatrixXd::Ones(static_cast<Eigen::Index>(n), 1);
      const double qr = ones.colPivHouseholderQr().solve(y)(0);
      ASSERT_EQ(assoc_intercept(y.data(), n), qr) << n << " " << rep;
    }
  }
}
