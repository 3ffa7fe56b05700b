// The statistics module: the tails, the case-control z, the two empirical
// p values and their contracts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "stats.h"

namespace {

TEST(Tails, NormalAtTheListedPoints)
{
  EXPECT_NEAR(hs_normal_upper_as(0), 0.5, 1e-6);
  EXPECT_NEAR(hs_normal_upper_as(1.96), 0.025, 1e-5);
  EXPECT_NEAR(hs_normal_upper_as(-1.96), 0.975, 1e-5);
  EXPECT_EQ(hs_normal_upper_as(12.5), 0.0);
  EXPECT_EQ(hs_normal_upper_as(-12.5), 1.0);
}

TEST(Tails, ChiSquareByDegreesOfFreedom)
{
  EXPECT_NEAR(hs_chi2_upper_as(3.841, 1), 0.05, 1e-4);
  EXPECT_NEAR(hs_chi2_upper_as(0, 1), 1.0, 1e-6);
  for (double x : {0.5, 7.0, 169.0})
    EXPECT_EQ(hs_chi2_upper_as(x, 2), exp(-x / 2)) << x;
  EXPECT_NEAR(hs_chi2_upper_as(5, 4), 0.287297, 1e-6);
  EXPECT_NEAR(hs_chi2_upper_as(5, 4), exp(-2.5) * 3.5, 1e-15);
  // Odd degrees of freedom: P(chi2_3 > 3) = 0.391625, P(chi2_5 > 9) = 0.109064.
  EXPECT_NEAR(hs_chi2_upper_as(3, 3), 0.391625, 1e-4);
  EXPECT_NEAR(hs_chi2_upper_as(9, 5), 0.109064, 1e-4);
  // Beyond 169 the cube-root approximation: P(chi2_10 > 200) is tiny.
  double f = 2.0 / 90, c = exp(log(20.0) / 3);
  EXPECT_EQ(hs_chi2_upper_as(200, 10), hs_normal_upper_as((c - 1 + f) / sqrt(f)));
}

// The incomplete gamma tail against closed forms: df 1 is erfc(sqrt(x/2)),
// df 2 is exp(-x/2), df 4 is exp(-x/2)(1 + x/2); relative error near the
// last bits also deep in the tail, where the approximation above is 0.
TEST(Tails, IncompleteGammaIsExactInRelativeTerms)
{
  for (double x : {0.01, 1.0, 3.0, 10.0, 100.0, 700.0, 1400.0}) {
    double one = std::erfc(std::sqrt(x / 2)), two = std::exp(-x / 2), four = std::exp(-x / 2) * (1 + x / 2);
    EXPECT_NEAR(hs_chi2_upper(x, 1) / one, 1, 1e-12) << x;
    EXPECT_NEAR(hs_chi2_upper(x, 2) / two, 1, 1e-12) << x;
    EXPECT_NEAR(hs_chi2_upper(x, 4) / four, 1, 1e-12) << x;
  }
  EXPECT_GT(hs_chi2_upper(1400, 1), 0);
  EXPECT_EQ(hs_chi2_upper(0, 3), 1);
  EXPECT_EQ(hs_chi2_upper(INFINITY, 3), 0);
  EXPECT_TRUE(std::isnan(hs_chi2_upper(2, 0)));
  EXPECT_TRUE(std::isnan(hs_chi2_upper(NAN, 2)));
}

TEST(CaseControl, ZSignedAndUndefinedWithoutVariance)
{
  struct {
    double hca, hco, nca, nco;
    bool defined;
    double z;
  } cases[] = {
      // m = 0.35, variance 0.2275 (0.5/100 + 0.5/100) = 0.002275.
      {0.4, 0.3, 100, 100, true, 0.1 / std::sqrt(0.002275)},
      {0.3, 0.4, 100, 100, true, -0.1 / std::sqrt(0.002275)},
      {0.2, 0.2, 30, 70, true, 0},
      {0, 0, 10, 10, false, 0},
      {1, 1, 10, 10, false, 0},
  };
  for (const auto &c : cases) {
    double z = 99;
    EXPECT_EQ(hs_casecontrol_z(c.hca, c.hco, c.nca, c.nco, &z), c.defined) << c.hca << " " << c.hco;
    EXPECT_NEAR(z, c.defined ? c.z : 99, 1e-12) << c.hca << " " << c.hco;
  }
}

// hfscan's permutation p is never 0; hfp's fraction is, and prints as its
// report always has.
TEST(EmpiricalP, PermutationPAndFraction)
{
  EXPECT_EQ(hs_permutation_p(0, 999), 0.001);
  EXPECT_EQ(hs_permutation_p(19, 19), 1.0);
  EXPECT_EQ(hs_permutation_p(4, 1000), 5.0 / 1001);
  char text[64];
  hs_fraction_t v = hs_fraction_p(5, 100);
  snprintf(text, sizeof text, "%f %f", v.p, v.se);
  EXPECT_STREQ(text, "0.050000 0.021794");
  v = hs_fraction_p(0, 1000);
  snprintf(text, sizeof text, "%f %f", v.p, v.se);
  EXPECT_STREQ(text, "0.000000 0.000000");
  snprintf(text, sizeof text, "%f", hs_fraction_p(1, 10).p);
  EXPECT_STREQ(text, "0.100000");
}

} // namespace
