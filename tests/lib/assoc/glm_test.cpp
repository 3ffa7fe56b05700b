// The haplotype GLM against figures computed another way: closed forms
// where the phase is known (one marker: the model is an ordinary regression
// on allele counts), and on X data a brute-force maximum of the likelihood
// written out from enumerated phases, with its standard errors from a
// finite-difference Hessian.

#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "glm.h"
#include "hflib.h"

namespace {

// One marker, haplotypes 0 (A, the more frequent) and 1 (B): genotype g
// carries g copies of B, with no phase to infer.
hf_posterior_t one_marker()
{
  hf_posterior_t p;
  p.pairs = {{0, 0, 1.0}, {0, 1, 1.0}, {1, 1, 1.0}};
  p.first = {0, 1, 2, 3};
  return p;
}

const glm_term_t &term(const glm_fit_t &f, glm_kind_t kind)
{
  for (const glm_term_t &t : f.terms)
    if (t.kind == kind)
      return t;
  static glm_term_t none;
  ADD_FAILURE() << "no term of kind " << kind;
  return none;
}

struct closed_case_t {
  const char *what;
  bool binary;
  std::vector<int> genotype;
  std::vector<double> y;
};

TEST(GlmClosedForm, OneMarkerIsARegressionOnAlleleCounts)
{
  // Binary: genotypes AA and AB only, so the fit is the 2x2 table's: log
  // odds ratio log(ad / bc), se sqrt(1/a + 1/b + 1/c + 1/d), and the test
  // is the table's likelihood-ratio G statistic.
  // Quantitative: least squares on copies 0, 1, 2: slope Sxy / Sxx, se
  // sqrt(s^2 / Sxx), s^2 = RSS / (n - 2); the test n log(RSS0 / RSS1).
  std::vector<closed_case_t> cases = {
      {"binary", true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1},
       {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
      {"quantitative", false, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2},
       {1.2, 0.7, 1.9, 1.1, 0.4, 1.6, 0.9, 1.3, 2.1, 1.5, 2.8, 1.9, 2.2, 3.1, 2.4}},
  };
  hf_posterior_t post = one_marker();
  for (const closed_case_t &c : cases) {
    SCOPED_TRACE(c.what);
    glm_data_t d;
    d.binary = c.binary;
    d.n = c.y.size();
    d.y = c.y;
    d.genotype = c.genotype;
    d.freq0 = {0.5, 0.5};
    glm_settings_t s;
    s.gain = 1e-13;
    glm_fit_t f;
    ASSERT_TRUE(glm_fit(d, post, s, f)) << f.status;
    ASSERT_EQ(f.lrt_df, 1);
    const glm_term_t &b = term(f, GLM_HAPLOTYPE), &base = term(f, GLM_BASE);
    EXPECT_EQ(base.haplotype, 0);
    EXPECT_EQ(b.haplotype, 1);
    double copies = 0, n = static_cast<double>(d.n);
    for (int g : c.genotype)
      copies += g;
    EXPECT_NEAR(b.freq, copies / (2 * n), 1e-10);
    double effect, se, chi2;
    if (c.binary) {
      double t[2][2] = {{0, 0}, {0, 0}};  // [genotype][case]
      for (size_t i = 0; i < d.n; i++)
        t[c.genotype[i]][c.y[i] > 0.5] += 1;
      effect = std::log(t[1][1] * t[0][0] / (t[1][0] * t[0][1]));
      se = std::sqrt(1 / t[0][0] + 1 / t[0][1] + 1 / t[1][0] + 1 / t[1][1]);
      chi2 = 0;
      double cases = t[0][1] + t[1][1];
      for (int g = 0; g < 2; g++)
        for (int k = 0; k < 2; k++) {
          double row = t[g][0] + t[g][1], col = k ? cases : n - cases;
          chi2 += 2 * t[g][k] * std::log(t[g][k] * n / (row * col));
        }
    } else {
      double mx = 0, my = 0;
      for (size_t i = 0; i < d.n; i++) {
        mx += c.genotype[i] / n;
        my += c.y[i] / n;
      }
      double sxx = 0, sxy = 0, syy = 0;
      for (size_t i = 0; i < d.n; i++) {
        sxx += (c.genotype[i] - mx) * (c.genotype[i] - mx);
        sxy += (c.genotype[i] - mx) * (c.y[i] - my);
        syy += (c.y[i] - my) * (c.y[i] - my);
      }
      effect = sxy / sxx;
      double rss = syy - sxy * sxy / sxx;
      se = std::sqrt(rss / (n - 2) / sxx);
      chi2 = n * std::log(syy / rss);
    }
    EXPECT_NEAR(b.effect, effect, 1e-7 * (1 + std::fabs(effect)));
    EXPECT_NEAR(b.se, se, 1e-7 * se);
    EXPECT_NEAR(f.lrt_chi2, chi2, 1e-6 * (1 + chi2));
    EXPECT_TRUE(b.status.empty()) << b.status;
  }
}

// X data: two markers, females (two haplotypes, the double heterozygotes
// of unknown phase) and males (one haplotype), a binary trait.
struct xperson_t {
  bool male;
  int h1, h2;  // haplotypes 0..3 = alleles (1 + h / 2, 1 + h % 2); h2 -1 for a male
  double y;
};

std::vector<xperson_t> x_sample()
{
  // A fixed linear congruential stream: frequencies about .4 .3 .2 .1,
  // log odds -0.4 + 0.9 (copies of haplotype 1).
  uint64_t state = 12345;
  auto u = [&]() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  auto draw = [&]() {
    double v = u();
    return v < 0.4 ? 0 : v < 0.7 ? 1 : v < 0.9 ? 2 : 3;
  };
  std::vector<xperson_t> s;
  for (int i = 0; i < 90; i++) {
    xperson_t p;
    p.male = i % 3 == 0;
    p.h1 = draw();
    p.h2 = p.male ? -1 : draw();
    double eta = -0.4 + 0.9 * ((p.h1 == 1) + (p.h2 == 1));
    p.y = u() < 1 / (1 + std::exp(-eta)) ? 1 : 0;
    s.push_back(p);
  }
  return s;
}

// The log-likelihood written out from the genotypes: for a female every
// ordered pair of haplotypes that gives her alleles at both markers, for a
// male his one haplotype. theta = intercept, effects of the haplotypes in
// cols (-1: base), then f of haplotypes 0..2 (f3 = 1 - the rest).
double x_loglik(const std::vector<xperson_t> &s, const std::vector<int> &col,
                const std::vector<double> &theta)
{
  double f[4] = {theta[4], theta[5], theta[6], 1 - theta[4] - theta[5] - theta[6]};
  for (double v : f)
    if (!(v > 0))
      return -HUGE_VAL;
  double ll = 0;
  for (const xperson_t &p : s) {
    auto allele = [](int h, int l) { return l == 0 ? h / 2 : h % 2; };
    double like = 0;
    auto add = [&](int a, int b) {
      double eta = theta[0];
      if (col[a] >= 0)
        eta += theta[1 + col[a]];
      if (b >= 0 && col[b] >= 0)
        eta += theta[1 + col[b]];
      double mu = 1 / (1 + std::exp(-eta));
      like += (b >= 0 ? f[a] * f[b] : f[a]) * (p.y > 0.5 ? mu : 1 - mu);
    };
    if (p.male) {
      add(p.h1, -1);
    } else {
      for (int a = 0; a < 4; a++)
        for (int b = 0; b < 4; b++) {
          bool same = true;
          for (int l = 0; l < 2; l++) {
            int x = allele(a, l) + allele(b, l), want = allele(p.h1, l) + allele(p.h2, l);
            same = same && x == want;
          }
          if (same)
            add(a, b);
        }
    }
    ll += std::log(like);
  }
  return ll;
}

// The Hessian of x_loglik by central differences of step h.
std::vector<std::vector<double>> fd_hessian(const std::vector<xperson_t> &s, const std::vector<int> &col,
                                            const std::vector<double> &t, double h)
{
  size_t k = t.size();
  std::vector<std::vector<double>> hs(k, std::vector<double>(k));
  for (size_t a = 0; a < k; a++)
    for (size_t b = 0; b < k; b++) {
      std::vector<double> pp = t, pm = t, mp = t, mm = t;
      pp[a] += h, pp[b] += h;
      pm[a] += h, pm[b] -= h;
      mp[a] -= h, mp[b] += h;
      mm[a] -= h, mm[b] -= h;
      hs[a][b] = (x_loglik(s, col, pp) - x_loglik(s, col, pm) - x_loglik(s, col, mp) +
                  x_loglik(s, col, mm)) / (4 * h * h);
    }
  return hs;
}

std::vector<double> solve(std::vector<std::vector<double>> a, std::vector<double> b)
{
  size_t n = b.size();
  for (size_t c = 0; c < n; c++) {
    size_t piv = c;
    for (size_t r = c + 1; r < n; r++)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c]))
        piv = r;
    std::swap(a[c], a[piv]);
    std::swap(b[c], b[piv]);
    for (size_t r = 0; r < n; r++)
      if (r != c) {
        double m = a[r][c] / a[c][c];
        for (size_t c2 = c; c2 < n; c2++)
          a[r][c2] -= m * a[c][c2];
        b[r] -= m * b[c];
      }
  }
  for (size_t c = 0; c < n; c++)
    b[c] /= a[c][c];
  return b;
}

TEST(GlmXChromosome, MatchesBruteForceOverEnumeratedPhases)
{
  std::vector<xperson_t> sample = x_sample();
  // The records as the X estimator takes them: males one allele per
  // marker (sex 0), females two (sex 1).
  std::vector<geno_t> rec;
  for (size_t i = 0; i < sample.size(); i++) {
    geno_t r;
    memset(&r, 0, sizeof r);
    r.id = static_cast<int32_t>(i + 1);
    r.instances = 1;
    const xperson_t &p = sample[i];
    r.sex = p.male ? 0 : 1;
    for (int l = 0; l < 2; l++) {
      int a = 1 + (l == 0 ? p.h1 / 2 : p.h1 % 2);
      if (p.male) {
        r.allele[l] = static_cast<int16_t>(a);
      } else {
        int b = 1 + (l == 0 ? p.h2 / 2 : p.h2 % 2);
        r.allele[2 * l] = static_cast<int16_t>(std::min(a, b));
        r.allele[2 * l + 1] = static_cast<int16_t>(std::max(a, b));
      }
    }
    rec.push_back(r);
  }
  int alleles[2] = {2, 2};
  hfstate_t *st = hf_new(1);
  ASSERT_TRUE(st);
  ASSERT_EQ(hf_set_data(st, alleles, 2, rec.data(), rec.size()), HF_OK) << hf_message(st);
  ASSERT_EQ(hf_estimate(st), HF_OK);
  hf_posterior_t post;
  ASSERT_EQ(hf_posteriors(st, post), HF_OK);
  const int *number;
  const double *h1, *h0;
  size_t nh = hf_haplotypes(st, &number, &h1, &h0);
  ASSERT_EQ(nh, 4u);
  std::vector<int> hap_of(nh);  // position -> brute-force haplotype 0..3
  for (size_t a = 0; a < nh; a++) {
    int16_t al[60];
    hf_hapalleles(st, number[a], al);
    hap_of[a] = (al[0] - 1) * 2 + (al[1] - 1);
  }
  glm_data_t d;
  d.binary = true;
  d.n = sample.size();
  for (const xperson_t &p : sample)
    d.y.push_back(p.y);
  d.genotype = post.pattern;
  d.freq0.assign(h1, h1 + nh);
  glm_settings_t s;
  s.gain = 1e-13;
  glm_fit_t fit;
  ASSERT_TRUE(glm_fit(d, post, s, fit)) << fit.status;
  hf_free(st);

  // The same model by brute force, with the glm's base.
  std::vector<int> col(4, -1);
  int k = 0;
  for (const glm_term_t &t : fit.terms)
    if (t.kind == GLM_HAPLOTYPE)
      col[hap_of[t.haplotype]] = k++;
  ASSERT_EQ(k, 3);
  // Newton's method with finite-difference derivatives and step halving.
  std::vector<double> theta = {0, 0, 0, 0, 0.25, 0.25, 0.25};
  for (int it = 0; it < 100; it++) {
    const double h = 1e-5;
    std::vector<double> g(theta.size());
    for (size_t a = 0; a < theta.size(); a++) {
      std::vector<double> p = theta, m = theta;
      p[a] += h;
      m[a] -= h;
      g[a] = (x_loglik(sample, col, p) - x_loglik(sample, col, m)) / (2 * h);
    }
    std::vector<std::vector<double>> hs = fd_hessian(sample, col, theta, 1e-4);
    for (auto &row : hs)
      for (double &v : row)
        v = -v;
    std::vector<double> step = solve(hs, g);
    double before = x_loglik(sample, col, theta), scale = 1;
    std::vector<double> next;
    do {
      next = theta;
      for (size_t a = 0; a < theta.size(); a++)
        next[a] += scale * step[a];
      scale /= 2;
    } while (!(x_loglik(sample, col, next) >= before - 1e-12) && scale > 1e-6);
    theta = next;
    double gmax = 0;
    for (double v : g)
      gmax = std::max(gmax, std::fabs(v));
    if (gmax < 1e-7)
      break;
  }
  std::vector<std::vector<double>> info = fd_hessian(sample, col, theta, 1e-4);
  for (auto &row : info)
    for (double &v : row)
      v = -v;
  for (const glm_term_t &t : fit.terms) {
    int c = t.kind == GLM_INTERCEPT ? 0 : t.kind == GLM_HAPLOTYPE ? 1 + col[hap_of[t.haplotype]] : -1;
    if (c < 0)
      continue;
    std::vector<double> e(theta.size(), 0.0);
    e[static_cast<size_t>(c)] = 1;
    double var = solve(info, e)[static_cast<size_t>(c)];
    SCOPED_TRACE(c);
    EXPECT_NEAR(t.effect, theta[static_cast<size_t>(c)], 1e-5);
    EXPECT_NEAR(t.se, std::sqrt(var), 1e-4 * std::sqrt(var));
    if (t.kind == GLM_HAPLOTYPE) {
      int hb = hap_of[t.haplotype];
      double fb = hb < 3 ? theta[4 + static_cast<size_t>(hb)] : 1 - theta[4] - theta[5] - theta[6];
      EXPECT_NEAR(t.freq, fb, 1e-5);
    }
  }
  EXPECT_TRUE(fit.converged);
  EXPECT_NEAR(fit.loglik, x_loglik(sample, col, theta), 1e-7);
}

} // namespace

// A cache carried from fit to fit gives each fit the figures of a fresh
// one, whether the trait and covariates change between the fits or not.
TEST(GlmCache, FitsThroughOneCacheMatchFreshFits)
{
  struct data_case_t {
    bool binary;
    std::vector<double> cov;  // one column, or none
  };
  const std::vector<int> genotype = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 1, 0, 2};
  const std::vector<double> y01 = {1, 0, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 1, 1};
  const std::vector<double> cov = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3};
  const std::vector<double> cov2(cov.rbegin(), cov.rend());
  const std::vector<data_case_t> order = {
      {true, {}}, {true, {}}, {false, {}}, {false, cov}, {true, cov}, {true, cov2}, {true, {}}};
  hf_posterior_t post = one_marker();
  glm_cache_t cache;
  for (size_t k = 0; k < order.size(); k++) {
    SCOPED_TRACE(k);
    glm_data_t d;
    d.binary = order[k].binary;
    d.n = genotype.size();
    d.q = order[k].cov.empty() ? 0 : 1;
    d.cov = order[k].cov;
    d.genotype = genotype;
    d.freq0 = {0.6, 0.4};
    for (size_t i = 0; i < d.n; i++)
      d.y.push_back(d.binary ? y01[i] : y01[i] * 1.5 + 0.1 * cov[i]);
    glm_settings_t s;
    glm_fit_t fresh, cached;
    ASSERT_TRUE(glm_fit(d, post, s, fresh)) << fresh.status;
    ASSERT_TRUE(glm_fit(d, post, s, cached, &cache)) << cached.status;
    EXPECT_EQ(fresh.loglik, cached.loglik);
    EXPECT_EQ(fresh.loglik_null, cached.loglik_null);
    EXPECT_EQ(fresh.iterations, cached.iterations);
    ASSERT_EQ(fresh.terms.size(), cached.terms.size());
    for (size_t t = 0; t < fresh.terms.size(); t++) {
      EXPECT_EQ(fresh.terms[t].effect, cached.terms[t].effect);
      EXPECT_TRUE(fresh.terms[t].se == cached.terms[t].se ||
                  (std::isnan(fresh.terms[t].se) && std::isnan(cached.terms[t].se)));
    }
  }
}

namespace {

// The observed log-likelihood of a binary trait written out over the pairs
// of each individual's pattern: theta = intercept, effects of the
// haplotypes in col (-1: base), then f_0 .. f_{H-2} (f_{H-1} = 1 - rest).
double table_loglik(const hf_posterior_t &post, const glm_data_t &d, const std::vector<int> &col,
                    size_t K, const std::vector<double> &theta)
{
  const size_t H = col.size();
  std::vector<double> f(H, 1.0);
  for (size_t h = 0; h + 1 < H; h++) {
    f[h] = theta[1 + K + h];
    f[H - 1] -= f[h];
  }
  double ll = 0;
  for (size_t i = 0; i < d.n; i++) {
    size_t g = static_cast<size_t>(d.genotype[i]);
    double like = 0;
    for (size_t q = post.first[g]; q < post.first[g + 1]; q++) {
      const hf_pair_t &p = post.pairs[q];
      double eta = theta[0];
      for (int h : {p.a, p.b})
        if (col[static_cast<size_t>(h)] >= 0)
          eta += theta[1 + static_cast<size_t>(col[static_cast<size_t>(h)])];
      double mu = 1 / (1 + std::exp(-eta));
      like += (p.a == p.b ? 1 : 2) * f[static_cast<size_t>(p.a)] * f[static_cast<size_t>(p.b)] *
              (d.y[i] > 0.5 ? mu : 1 - mu);
    }
    ll += std::log(like);
  }
  return ll;
}

} // namespace

// Individuals of unknown genotype (every pair of four haplotypes: a
// pattern of ten pairs, more than the information's blocks take) beside
// known ones: the standard errors are those of the observed information by
// finite differences at the estimate.
TEST(GlmManyPairs, StandardErrorsMatchFiniteDifferences)
{
  hf_posterior_t post;
  post.first = {0};
  for (int a = 0; a < 4; a++)  // patterns 0..3: homozygous a
    post.pairs.push_back({a, a, 1.0}), post.first.push_back(post.pairs.size());
  for (int a = 0; a < 4; a++)  // pattern 4: unknown
    for (int b = a; b < 4; b++)
      post.pairs.push_back({a, b, 0.1});
  post.first.push_back(post.pairs.size());
  uint64_t state = 777;
  auto u = [&]() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  glm_data_t d;
  d.n = 160;
  for (size_t i = 0; i < d.n; i++) {
    double v = u();
    int h = v < 0.4 ? 0 : v < 0.7 ? 1 : v < 0.9 ? 2 : 3;
    d.genotype.push_back(i % 3 == 0 ? 4 : h);
    d.y.push_back(u() < 1 / (1 + std::exp(0.3 - 0.8 * (h == 1))) ? 1 : 0);
  }
  d.freq0 = {0.25, 0.25, 0.25, 0.25};
  glm_settings_t s;
  s.gain = 1e-13;
  glm_fit_t fit;
  ASSERT_TRUE(glm_fit(d, post, s, fit)) << fit.status;
  ASSERT_TRUE(fit.converged);
  std::vector<int> col(4, -1);
  std::vector<double> theta(1 + 3 + 3, 0.0);
  size_t K = 0;
  for (const glm_term_t &t : fit.terms)
    if (t.kind == GLM_INTERCEPT)
      theta[0] = t.effect;
    else if (t.kind == GLM_HAPLOTYPE) {
      col[static_cast<size_t>(t.haplotype)] = static_cast<int>(K);
      theta[1 + K++] = t.effect;
    }
  ASSERT_EQ(K, 3u);
  for (size_t h = 0; h < 3; h++)
    theta[4 + h] = fit.freq[h];
  const double step = 1e-4;
  const size_t P = theta.size();
  std::vector<std::vector<double>> info(P, std::vector<double>(P));
  for (size_t a = 0; a < P; a++)
    for (size_t b = 0; b < P; b++) {
      double sum = 0;
      for (int sa : {1, -1})
        for (int sb : {1, -1}) {
          std::vector<double> t = theta;
          t[a] += sa * step;
          t[b] += sb * step;
          sum += sa * sb * table_loglik(post, d, col, K, t);
        }
      info[a][b] = -sum / (4 * step * step);
    }
  for (const glm_term_t &t : fit.terms) {
    if (t.kind != GLM_INTERCEPT && t.kind != GLM_HAPLOTYPE)
      continue;
    size_t c = t.kind == GLM_INTERCEPT ? 0 : 1 + static_cast<size_t>(col[static_cast<size_t>(t.haplotype)]);
    std::vector<double> e(P, 0.0);
    e[c] = 1;
    double var = solve(info, e)[c];
    SCOPED_TRACE(c);
    EXPECT_NEAR(t.se, std::sqrt(var), 1e-4 * std::sqrt(var));
  }
}
