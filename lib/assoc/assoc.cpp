// The null model, the expected dosages, the score statistic and its
// permuted values (assoc.h gives the formulas and their sources).

#include "assoc.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <Eigen/Dense>

namespace {

using matrix_t = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic>;
using vector_t = Eigen::Matrix<double, Eigen::Dynamic, 1>;
using rowmap_t = Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>;

const double NA = std::numeric_limits<double>::quiet_NaN();

// Logistic IRLS stops when the deviance changes by less than this share.
const double IRLS_TOL = 1e-10;
const int IRLS_MAX = 50;
// A fitted probability this close to 0 or 1 means the covariates separate
// the cases from the controls: the coefficients run off to infinity.
const double SEPARATED = 1e-9;
// Eigenvalues of the score's variance below this share of the largest are
// taken as 0: the generalised inverse and df leave those directions out.
const double RANK_TOL = 1e-6;

bool fail(assoc_null_t &m, const std::string &why)
{
  m.status = why;
  return false;
}

// The columns of Z are linearly independent once each is scaled to a
// largest magnitude of 1 (so that years and dummies compare).
bool full_rank(const matrix_t &z)
{
  matrix_t s = z;
  for (Eigen::Index c = 0; c < s.cols(); c++) {
    double top = s.col(c).cwiseAbs().maxCoeff();
    if (!(top > 0))
      return false;
    s.col(c) /= top;
  }
  Eigen::ColPivHouseholderQR<matrix_t> qr(s);
  qr.setThreshold(1e-9);
  return qr.rank() == s.cols();
}

// Z'WZ summed over the individuals in input order, as the score test's
// cross-information takes it: the same bits whether cached or not.
void sum_zwz(const rowmap_t &z, const std::vector<double> &w, double *out)
{
  const Eigen::Index n = z.rows(), P = z.cols();
  for (Eigen::Index s = 0; s < P * P; s++)
    out[s] = 0;
  for (Eigen::Index i = 0; i < n; i++)
    for (Eigen::Index s = 0; s < P; s++) {
      double wz = w[static_cast<size_t>(i)] * z(i, s);
      for (Eigen::Index s2 = 0; s2 < P; s2++)
        out[s * P + s2] += wz * z(i, s2);
    }
}

} // namespace

// The least-squares intercept of y (n >= 2) as a Householder QR of the
// column of ones gives it (Golub and Van Loan, Matrix Computations, 4th ed.,
// algorithms 5.1.1 and 5.2.1), in the operations and order of Eigen's
// ColPivHouseholderQR on that column, without the column or a copy of y:
// the reflector of a column of ones is known in closed form (its tail's
// squared norm is n - 1 exactly, each entry of its essential part 1 / (1 -
// beta)), and the intercept reads the first entry of Q'y alone.
double assoc_intercept(const double *y, size_t n)
{
  const double c0 = 1;
  const double beta = -std::sqrt(c0 * c0 + static_cast<double>(n - 1));
  const double essential = c0 / (c0 - beta);
  const double tau = (beta - c0) / beta;
  // v'y over the tail, one term after another, as Eigen sums that dot
  // product with its vectorisation off (as it is built here).
  double tmp = essential * y[1];
  for (size_t i = 2; i < n; i++)
    tmp += essential * y[i];
  tmp += y[0];
  return (y[0] - tau * tmp) / beta;
}

namespace {

// Individual i's weight, from the array or, without it, the one weight.
inline double weight(const assoc_null_t &m, size_t i)
{
  return m.arrays ? m.w[i] : m.w1;
}

} // namespace

bool assoc_fit_null(const assoc_data_t &d, assoc_null_t &m, bool arrays)
{
  const size_t n = d.n, p = d.p;
  m = assoc_null_t();
  if (n <= p)
    return fail(m, "null model: " + std::to_string(n) + " individuals for " + std::to_string(p) +
                       " coefficients");
  // The intercept alone without an array (ones): a row's linear predictor
  // is then beta_0, which is 1 beta_0, and a term z_ic z_ic' is a one; a
  // column of ones is of full rank.
  const bool ones = d.z.empty();
  if (d.y.size() != n && d.cases.size() != n)
    return fail(m, "null model: the trait is not given for every individual");
  rowmap_t z(ones ? nullptr : d.z.data(), static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(p));
  if (!ones && !full_rank(z))
    return fail(m, "null model: the covariates are collinear (or constant) among the individuals tested");
  vector_t beta;
  auto eta = [&](size_t i) {
    return ones ? beta(0) : z.row(static_cast<Eigen::Index>(i)).dot(beta);
  };
  // Without arrays (the intercept alone) the fitted mean and weight are
  // the same for everyone: held once, in m.mu and m.w1, and each array
  // entry below is then that one value.
  m.arrays = arrays || !ones;
  if (m.arrays) {
    m.r.assign(n, 0);
    m.w.assign(n, 1);
  }
  auto setmean = [&](size_t i, double mu) {
    if (m.arrays)
      m.r[i] = mu, m.w[i] = mu * (1 - mu);
    else
      m.mu = mu, m.w1 = mu * (1 - mu);
  };
  // Through the iterations r holds the fitted means, the residuals after.
  auto mean = [&](size_t i) { return m.arrays ? m.r[i] : m.mu; };
  if (!d.binary) {
    if (d.y.size() != n)
      return fail(m, "null model: a quantitative trait comes as numbers");
    if (ones) {
      beta.resize(1);
      beta(0) = assoc_intercept(d.y.data(), n);
      m.mu = beta(0);
    } else {
      // Decomposed in place: no copy of the design beside the one made here.
      matrix_t design(z);
      Eigen::Map<const vector_t> y(d.y.data(), static_cast<Eigen::Index>(n));
      beta = Eigen::ColPivHouseholderQR<Eigen::Ref<matrix_t>>(design).solve(y);
    }
    double rss = 0;
    for (size_t i = 0; i < n; i++) {
      double r = d.y[i] - eta(i);
      if (m.arrays)
        m.r[i] = r;
      rss += r * r;
    }
    m.phi = rss / static_cast<double>(n - p);
    // A trait that the covariates fit exactly has no residual variance.
    double scale = 0;
    for (size_t i = 0; i < n; i++)
      scale += d.y[i] * d.y[i];
    if (!std::isfinite(m.phi) || !std::isfinite(scale))
      return fail(m, "null model: the trait's values are too large to square (beyond about 1e154)");
    if (!(m.phi > 1e-24 * scale / static_cast<double>(n)))
      return fail(m, "null model: the trait does not vary around the covariates' fit");
    m.iterations = 1;
  } else {
    // The trait's loops, each over the doubles or the bytes.
    auto each = [&](auto f) {
      if (d.y.empty())
        for (size_t i = 0; i < n; i++)
          f(i, static_cast<double>(d.cases[i]));
      else
        for (size_t i = 0; i < n; i++)
          f(i, d.y[i]);
    };
    double cases = 0;
    each([&](size_t, double y) { cases += y; });
    if (!(cases > 0) || !(cases < static_cast<double>(n)))
      return fail(m, cases > 0 ? "no control among the individuals tested"
                               : "no case among the individuals tested");
    beta = vector_t::Zero(static_cast<Eigen::Index>(p));
    double ybar = cases / static_cast<double>(n);
    beta(0) = std::log(ybar / (1 - ybar));
    double dev_old = std::numeric_limits<double>::infinity();
    bool converged = false;
    for (int it = 1; it <= IRLS_MAX; it++) {
      double dev = 0;
      if (ones) {
        // The intercept alone: everyone's mean, weight and deviance terms
        // are the same two or three values, computed once (the same bits
        // as for each individual), and added up in input order.
        const double mu = 1 / (1 + std::exp(-beta(0)));
        const double dcase = -2 * std::log(mu), dcontrol = -2 * std::log1p(-mu);
        if (m.arrays)
          for (size_t i = 0; i < n; i++)
            setmean(i, mu);
        else
          setmean(0, mu);
        each([&](size_t, double y) { dev += y > 0.5 ? dcase : dcontrol; });
      } else
        each([&](size_t i, double y) {
          double mu = 1 / (1 + std::exp(-eta(i)));
          setmean(i, mu);
          dev += y > 0.5 ? -2 * std::log(mu) : -2 * std::log1p(-mu);
        });
      m.iterations = it;
      if (!std::isfinite(dev))
        break;
      if (std::fabs(dev - dev_old) < IRLS_TOL * (std::fabs(dev) + 0.1)) {
        converged = true;
        break;
      }
      dev_old = dev;
      // Newton step: (Z'WZ) beta = Z'(W eta + y - mu), eta that of the
      // means above (the same beta).
      matrix_t a = matrix_t::Zero(static_cast<Eigen::Index>(p), static_cast<Eigen::Index>(p));
      vector_t b = vector_t::Zero(static_cast<Eigen::Index>(p));
      if (ones) {
        const double wi = weight(m, 0), mu = mean(0), weta = wi * beta(0);
        each([&](size_t, double y) {
          b(0) += weta + (y - mu);
          a(0, 0) += wi;
        });
      } else
        each([&](size_t i, double y) {
          double wi = m.w[i];
          double work = wi * eta(i) + (y - m.r[i]);
          auto zi = z.row(static_cast<Eigen::Index>(i));
          for (size_t c = 0; c < p; c++) {
            b(static_cast<Eigen::Index>(c)) += zi(static_cast<Eigen::Index>(c)) * work;
            for (size_t c2 = 0; c2 < p; c2++)
              a(static_cast<Eigen::Index>(c), static_cast<Eigen::Index>(c2)) +=
                  wi * zi(static_cast<Eigen::Index>(c)) * zi(static_cast<Eigen::Index>(c2));
          }
        });
      beta = a.ldlt().solve(b);
      if (!beta.allFinite())
        break;
    }
    if (!converged)
      return fail(m, "null model: the logistic regression did not converge in " +
                         std::to_string(IRLS_MAX) + " steps");
    bool separated = false;
    each([&](size_t i, double y) {
      separated = separated || mean(i) < SEPARATED || mean(i) > 1 - SEPARATED;
      if (m.arrays)
        m.r[i] = y - m.r[i];
    });
    if (separated)
      return fail(m, "null model: the covariates separate cases from controls");
    m.phi = 1;
  }
  m.beta.assign(beta.data(), beta.data() + beta.size());
  m.zwz.resize(p * p);
  if (ones) {
    // w_i 1 1 summed in input order.
    double sum = 0;
    for (size_t i = 0; i < n; i++)
      sum += weight(m, i);
    m.zwz[0] = sum;
  } else
    sum_zwz(z, m.w, m.zwz.data());
  return true;
}

void assoc_dosages(const hf_posterior_t &post, const std::vector<int> &column, size_t k,
                   bool second, assoc_dosage_t &out)
{
  const size_t genotypes = post.first.empty() ? 0 : post.first.size() - 1;
  out.k = k;
  out.genotypes = genotypes;
  out.mean.assign(genotypes * k, 0.0);
  out.second.assign(second ? genotypes * k * k : 0, 0.0);
  for (size_t g = 0; g < genotypes; g++) {
    double *mean = out.mean.data() + g * k;
    double *sq = second ? out.second.data() + g * k * k : nullptr;
    for (size_t q = post.first[g]; q < post.first[g + 1]; q++) {
      const hf_pair_t &pr = post.pairs[q];
      // The pair's copies of each modelled haplotype: at most two columns.
      int ca = column[pr.a], cb = pr.b >= 0 ? column[pr.b] : -1;
      int col[2];
      double copies[2];
      int m = 0;
      if (ca >= 0) {
        col[m] = ca;
        copies[m++] = 1;
      }
      if (cb >= 0) {
        if (m && col[0] == cb)
          copies[0] = 2;
        else {
          col[m] = cb;
          copies[m++] = 1;
        }
      }
      for (int s = 0; s < m; s++) {
        mean[col[s]] += pr.p * copies[s];
        if (sq)
          for (int t = 0; t < m; t++)
            sq[col[s] * k + col[t]] += pr.p * copies[s] * copies[t];
      }
    }
  }
}

namespace {

typedef double pair_t __attribute__((vector_size(16)));

// The cross-information sums of k <= W modelled haplotypes (W even), row s
// into cs[s * k ..]: per coefficient one pass over the individuals, its
// sums held in registers two by two (the genotypes' dosages padded with
// zeros to W, whose sums are dropped). Each sum takes w_i z_is x_ij in input
// order, as one at a time would. Arrays: the model holds its weights (else
// the one weight w1, with the intercept alone).
template <int W, bool Arrays>
void cross_pass(const assoc_data_t &d, const assoc_null_t &m, const std::vector<double> &padded,
                const int *genotype, size_t k, double *cs)
{
  const size_t n = d.n, p = d.p;
  const bool ones = d.z.empty();
  const double *w = m.w.data();
  for (size_t s = 0; s < p; s++) {
    pair_t a0 = {0, 0}, a1 = {0, 0}, a2 = {0, 0}, a3 = {0, 0}, a4 = {0, 0}, a5 = {0, 0}, a6 = {0, 0},
           a7 = {0, 0};
    for (size_t i = 0; i < n; i++) {
      // w_i times a one is w_i.
      const double wz = !Arrays ? m.w1 : ones ? w[i] : w[i] * d.z[i * p + s];
      const pair_t wzz = {wz, wz};
      const double *row = padded.data() + static_cast<size_t>(genotype[i]) * W;
      pair_t x;
#define ASSOC_ADDROW(j, acc)                                                                       \
  if (W > 2 * (j)) {                                                                               \
    memcpy(&x, row + 2 * (j), sizeof x);                                                           \
    acc += wzz * x;                                                                                \
  }
      ASSOC_ADDROW(0, a0)
      ASSOC_ADDROW(1, a1)
      ASSOC_ADDROW(2, a2)
      ASSOC_ADDROW(3, a3)
      ASSOC_ADDROW(4, a4)
      ASSOC_ADDROW(5, a5)
      ASSOC_ADDROW(6, a6)
      ASSOC_ADDROW(7, a7)
#undef ASSOC_ADDROW
    }
    const pair_t acc[8] = {a0, a1, a2, a3, a4, a5, a6, a7};
    double sums[16];
    memcpy(sums, acc, sizeof sums);
    for (size_t j = 0; j < k; j++)
      cs[s * k + j] = sums[j];
  }
}

template <bool Arrays>
void cross_rows(const assoc_data_t &d, const assoc_null_t &m, const assoc_dosage_t &x,
                const int *genotype, double *cs)
{
  const size_t k = x.k, G = x.genotypes, W = (k + 1) / 2 * 2;
  std::vector<double> padded(G * W, 0.0);
  for (size_t g = 0; g < G; g++)
    for (size_t j = 0; j < k; j++)
      padded[g * W + j] = x.mean[g * k + j];
  switch (W / 2) {
  case 1: return cross_pass<2, Arrays>(d, m, padded, genotype, k, cs);
  case 2: return cross_pass<4, Arrays>(d, m, padded, genotype, k, cs);
  case 3: return cross_pass<6, Arrays>(d, m, padded, genotype, k, cs);
  case 4: return cross_pass<8, Arrays>(d, m, padded, genotype, k, cs);
  case 5: return cross_pass<10, Arrays>(d, m, padded, genotype, k, cs);
  case 6: return cross_pass<12, Arrays>(d, m, padded, genotype, k, cs);
  case 7: return cross_pass<14, Arrays>(d, m, padded, genotype, k, cs);
  default: return cross_pass<16, Arrays>(d, m, padded, genotype, k, cs);
  }
}

} // namespace

bool assoc_score(const assoc_data_t &d, const assoc_null_t &m, const assoc_dosage_t &x,
                 const int *genotype, assoc_variance_t variance, assoc_test_t &t)
{
  const size_t n = d.n, p = d.p, k = x.k, G = x.genotypes;
  const Eigen::Index K = static_cast<Eigen::Index>(k), P = static_cast<Eigen::Index>(p);
  t = assoc_test_t();
  t.chi2 = NA;
  if (k == 0) {
    t.status = "no haplotype is frequent enough to model";
    return false;
  }
  if (!m.arrays && d.y.size() != n && d.cases.size() != n) {
    t.status = "the null model's residuals need the trait";
    return false;
  }
  // Sums over the individuals of each distinct genotype: residuals, squared
  // residuals and weights.
  std::vector<double> rg(G, 0.0), r2g(G, 0.0), wg(G, 0.0);
  // Each form of the residuals and weights in a loop of its own.
  auto sums = [&](auto resid, auto wt) {
    for (size_t i = 0; i < n; i++) {
      size_t g = static_cast<size_t>(genotype[i]);
      const double r = resid(i);
      rg[g] += r;
      if (variance == ASSOC_LOUIS)
        r2g[g] += r * r;
      wg[g] += wt(i);
    }
  };
  const double mu = m.mu, w1 = m.w1;
  auto one = [w1](size_t) { return w1; };
  if (m.arrays)
    sums([&](size_t i) { return m.r[i]; }, [&](size_t i) { return m.w[i]; });
  else if (d.y.empty())
    sums([&](size_t i) { return static_cast<double>(d.cases[i]) - mu; }, one);
  else
    sums([&](size_t i) { return d.y[i] - mu; }, one);
  vector_t u = vector_t::Zero(K);
  matrix_t vxx = matrix_t::Zero(K, K);
  for (size_t g = 0; g < G; g++) {
    const double *mean = x.mean.data() + g * k;
    for (size_t j = 0; j < k; j++) {
      u(static_cast<Eigen::Index>(j)) += rg[g] * mean[j];
      for (size_t l = 0; l < k; l++) {
        double xx = variance == ASSOC_LOUIS ? x.second[(g * k + j) * k + l] : mean[j] * mean[l];
        vxx(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(l)) += wg[g] * xx;
      }
    }
  }
  u /= m.phi;
  // Cross-information with the null model's coefficients, and theirs.
  // Each c(s, j) sums its terms in input order; the sums are kept side by
  // side, a row of k per coefficient, so that they run together.
  matrix_t c(P, K), a(P, P);
  const bool ones = d.z.empty();
  std::vector<double> cs(p * k, 0.0);
  if (k <= 16)
    m.arrays ? cross_rows<true>(d, m, x, genotype, cs.data()) : cross_rows<false>(d, m, x, genotype, cs.data());
  else
    for (size_t i = 0; i < n; i++) {
      const double *mean = x.mean.data() + static_cast<size_t>(genotype[i]) * k;
      const double *zi = ones ? nullptr : d.z.data() + i * p;
      for (size_t s = 0; s < p; s++) {
        const double wz = ones ? weight(m, i) : m.w[i] * zi[s];
        double *cr = cs.data() + s * k;
        for (size_t j = 0; j < k; j++)
          cr[j] += wz * mean[j];
      }
    }
  for (Eigen::Index s = 0; s < P; s++)
    for (Eigen::Index j = 0; j < K; j++)
      c(s, j) = cs[static_cast<size_t>(s) * k + static_cast<size_t>(j)];
  // Z'WZ depends on the null model alone: fitted once, shared by windows.
  std::vector<double> zwz;
  if (m.zwz.size() != p * p) {
    zwz.assign(p * p, 0.0);
    if (ones)
      for (size_t i = 0; i < n; i++)
        zwz[0] += weight(m, i);
    else
      sum_zwz(rowmap_t(d.z.data(), static_cast<Eigen::Index>(n), P), m.w, zwz.data());
  }
  const double *az = zwz.empty() ? m.zwz.data() : zwz.data();
  for (Eigen::Index s = 0; s < P; s++)
    for (Eigen::Index s2 = 0; s2 < P; s2++)
      a(s, s2) = az[s * P + s2];
  matrix_t v = (vxx - c.transpose() * a.ldlt().solve(c)) / m.phi;
  if (variance == ASSOC_LOUIS) {
    // Less the phase variance of the complete-data score (Louis 1982).
    const double phi2 = m.phi * m.phi;
    for (size_t g = 0; g < G; g++) {
      const double *mean = x.mean.data() + g * k;
      const double *sq = x.second.data() + g * k * k;
      for (size_t j = 0; j < k; j++)
        for (size_t l = 0; l < k; l++)
          v(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(l)) -=
              r2g[g] * (sq[j * k + l] - mean[j] * mean[l]) / phi2;
    }
  }
  v = (v + v.transpose()).eval() * 0.5;
  t.u.assign(u.data(), u.data() + k);
  t.z.assign(k, NA);
  for (size_t j = 0; j < k; j++) {
    double vj = v(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(j));
    if (vj > 0)
      t.z[j] = t.u[j] / std::sqrt(vj);
  }
  Eigen::SelfAdjointEigenSolver<matrix_t> eig(v);
  if (eig.info() != Eigen::Success || !v.allFinite()) {
    t.status = "the variance of the score could not be decomposed";
    return false;
  }
  const vector_t &lambda = eig.eigenvalues();
  double top = lambda.maxCoeff();
  if (!(top > 0)) {
    t.status = "the score of the modelled haplotypes has no variance";
    return false;
  }
  std::vector<Eigen::Index> kept;
  for (Eigen::Index j = 0; j < K; j++)
    if (lambda(j) > RANK_TOL * top)
      kept.push_back(j);
  t.df = static_cast<int>(kept.size());
  t.proj.assign(kept.size() * k, 0.0);
  double chi2 = 0;
  for (size_t q = 0; q < kept.size(); q++) {
    double scale = 1 / std::sqrt(lambda(kept[q]));
    double dot = 0;
    for (size_t j = 0; j < k; j++) {
      double e = eig.eigenvectors()(static_cast<Eigen::Index>(j), kept[q]) * scale;
      t.proj[q * k + j] = e;
      dot += e * t.u[j];
    }
    chi2 += dot * dot;
  }
  t.chi2 = chi2;
  return true;
}

double assoc_permuted(const assoc_null_t &m, const assoc_dosage_t &x,
                      const std::vector<int> &genotype, const assoc_test_t &t,
                      const std::vector<uint32_t> &order, std::vector<double> &work)
{
  const size_t k = x.k, G = x.genotypes, n = genotype.size();
  if (!m.arrays)
    return NA;
  work.assign(G + k, 0.0);
  double *rg = work.data();
  for (size_t i = 0; i < n; i++)
    rg[genotype[i]] += m.r[order[i]];
  return assoc_permuted_sums(m, x, t, rg, work.data() + G);
}

double assoc_permuted_sums(const assoc_null_t &m, const assoc_dosage_t &x, const assoc_test_t &t,
                           const double *rg, double *u)
{
  const size_t k = x.k, G = x.genotypes;
  for (size_t j = 0; j < k; j++)
    u[j] = 0;
  for (size_t g = 0; g < G; g++) {
    const double *mean = x.mean.data() + g * k;
    for (size_t j = 0; j < k; j++)
      u[j] += rg[g] * mean[j];
  }
  return assoc_projected(m, t, u);
}

double assoc_projected(const assoc_null_t &m, const assoc_test_t &t, double *u)
{
  const size_t k = t.u.size();
  for (size_t j = 0; j < k; j++)
    u[j] /= m.phi;
  double chi2 = 0;
  for (size_t q = 0; q < static_cast<size_t>(t.df); q++) {
    double dot = 0;
    for (size_t j = 0; j < k; j++)
      dot += t.proj[q * k + j] * u[j];
    chi2 += dot * dot;
  }
  return chi2;
}
