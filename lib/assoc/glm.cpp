// The EM-weighted haplotype GLM (glm.h gives the model and its sources).

#include "glm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <Eigen/Dense>

namespace {

using matrix_t = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic>;
using vector_t = Eigen::Matrix<double, Eigen::Dynamic, 1>;
using index_t = Eigen::Index;

const double NA = std::numeric_limits<double>::quiet_NaN();
const double LOG_2PI = 1.8378770664093454836;
// Newton steps of one M-step, and the step size that ends them.
const int NEWTON_MAX = 50;
const double NEWTON_TOL = 1e-10;
// The joint EM of a binary trait takes Newton steps on all parameters from
// this step on; frequencies below NEWTON_MIN_FREQ are held there, those the
// full step takes out of the simplex shrink by NEWTON_SHRINK; a Newton step
// is halved at most NEWTON_HALVINGS - 1 times.
const int NEWTON_FROM = 2;
const double NEWTON_MIN_FREQ = 1e-10;
const int NEWTON_HALVINGS = 6;
const double NEWTON_SHRINK = 0.1;
// A binary trait's effect this large, or a standard error this large, is
// taken as separation.
const double RUNAWAY_EFFECT = 15;
const double RUNAWAY_SE = 1e3;
// Eigenvalues of the scaled information below this share of the largest
// are dropped by the generalised inverse (haplo.glm's eps.svd, the square
// root of the machine precision).
const double EPS_SVD = 1.4901161193847656e-08;

double sigmoid(double x)
{
  return x >= 0 ? 1 / (1 + std::exp(-x)) : std::exp(x) / (1 + std::exp(x));
}

double pair_prior(const hf_pair_t &pr, const std::vector<double> &f)
{
  if (pr.b < 0)
    return f[static_cast<size_t>(pr.a)];
  if (pr.a == pr.b)
    return f[static_cast<size_t>(pr.a)] * f[static_cast<size_t>(pr.a)];
  return 2 * f[static_cast<size_t>(pr.a)] * f[static_cast<size_t>(pr.b)];
}

// The expanded data: one row per individual and compatible pair.
struct model_t {
  const glm_data_t &d;
  const hf_posterior_t &post;
  size_t H = 0, K = 0, D = 0;  // haplotypes, haplotype columns, coefficients
  std::vector<int> column;     // per position: haplotype column, or -1
  std::vector<double> code;    // per pair of post: K codes
  std::vector<size_t> first;   // rows of individual i: first[i] .. first[i + 1] - 1
  std::vector<size_t> pair;    // per row: its pair in post
  std::vector<double> w, eta;  // per row: posterior, linear predictor
  std::vector<double> mu;      // per row: fitted probability (binary)
  bool fresh = false;          // eta and mu are those of the current beta
  double copies = 0;           // haplotype copies of the sample
  std::vector<bool> penalised; // per coefficient
  double lambda = 0;           // prior precision, 0 without the prior

  model_t(const glm_data_t &data, const hf_posterior_t &p) : d(data), post(p) {}

  // Per pair of post: its nonzero codes, at most two (coefficient column
  // and value). The design row of individual i and pair q is
  // (1, codes of q, covariates of i), so eta = (beta_0 + c_i' beta_c) +
  // (codes of q)' beta_h, and every sum over the rows below gathers, per
  // individual, what multiplies its covariate vector z_i = (1, c_i) and, per
  // pair, what multiplies the pair's codes.
  std::vector<unsigned char> hn;
  std::vector<size_t> hcol;
  std::vector<double> hval, hb;  // hb: per pair, codes' part of eta (scratch)
  std::vector<double> base;      // per individual: the rest of eta (scratch)
  std::vector<double> prior, ehb;  // per pair: prior and exp(hb) (the E-step's scratch)

  std::vector<double> keep_w, keep_eta, keep_mu;  // what a rejected Newton step restores
  std::vector<double> start_w;                     // the joint EM's start posteriors

  // The buffers a cache lends from one fit to the next.
  std::vector<std::vector<double> *> dbufs()
  {
    return {&code, &w, &eta, &mu, &hval, &hb, &base, &prior, &ehb,
            &keep_w, &keep_eta, &keep_mu, &start_w};
  }
  std::vector<std::vector<size_t> *> zbufs() { return {&first, &pair, &hcol}; }

  // Fills the pairs' codes once the codes, rows and D are set.
  void build_rows()
  {
    const size_t Q = post.pairs.size();
    hn.assign(Q, 0);
    hcol.assign(2 * Q, 0);
    hval.assign(2 * Q, 0.0);
    hb.assign(Q, 0.0);
    for (size_t q = 0; q < Q; q++)
      for (size_t k = 0; k < K; k++)
        if (code[q * K + k] != 0) {
          hcol[2 * q + hn[q]] = 1 + k;
          hval[2 * q + hn[q]] = code[q * K + k];
          hn[q]++;
        }
  }
  // Coefficient of entry j of z_i, and the entry.
  size_t zc(size_t j) const { return j == 0 ? 0 : K + j; }
  double zv(size_t i, size_t j) const { return j == 0 ? 1 : d.cov[i * d.q + j - 1]; }
  // The linear predictors of all rows under beta, each the individual's
  // part (intercept and covariates in order) plus the pair's part (codes in
  // order).
  void predict(const vector_t &beta)
  {
    for (size_t q = 0; q < hn.size(); q++) {
      double s = 0;
      for (size_t t = 0; t < hn[q]; t++)
        s += hval[2 * q + t] * beta(static_cast<index_t>(hcol[2 * q + t]));
      hb[q] = s;
    }
    base.resize(d.n);
    for (size_t i = 0; i < d.n; i++) {
      double b = beta(0);
      for (size_t c = 0; c < d.q; c++)
        b += d.cov[i * d.q + c] * beta(static_cast<index_t>(1 + K + c));
      base[i] = b;
      for (size_t r = first[i]; r < first[i + 1]; r++)
        eta[r] = b + hb[pair[r]];
    }
  }
  // predict, and for a binary trait the fitted probabilities: exp(eta) as
  // exp(individual's part) exp(pair's part) while far from overflow.
  void predict_mu(const vector_t &beta)
  {
    predict(beta);
    mu.resize(eta.size());
    if (!d.binary) {
      mu = eta;
      return;
    }
    ehb.resize(hb.size());
    for (size_t q = 0; q < hb.size(); q++)
      ehb[q] = std::exp(hb[q]);
    for (size_t i = 0; i < d.n; i++) {
      const double eb = std::exp(base[i]);
      for (size_t r = first[i]; r < first[i + 1]; r++) {
        const double E = eb * ehb[pair[r]];
        mu[r] = E > 1e-250 && E < 1e250 ? E / (1 + E) : sigmoid(eta[r]);
      }
    }
  }
};

// A vector of the parameter space t0 + c E: t0 with at most two entries
// (ascending), E the left-out frequency's score direction (-1 / f_L on
// every free frequency, 0 elsewhere).
struct ext_t {
  size_t n = 0;
  size_t at[2] = {0, 0};
  double val[2] = {0, 0};
  double c = 0;
};

// The information as sum of val (t1 t2' + t2 t1') (val t t' for t1 = t2)
// over vectors of the form t0 + c E: the sparse products at once, the
// terms in E gathered in X and Y and added once at the end.
struct gather_t {
  size_t P = 0;
  std::vector<double> M, X;  // M full P x P, row-major
  double Y = 0;
  void reset(size_t p)
  {
    P = p;
    M.assign(P * P, 0.0);
    X.assign(P, 0.0);
    Y = 0;
  }
  void add(const ext_t &a, const ext_t &b, double v, bool same)
  {
    if (v == 0)
      return;
    for (size_t p = 0; p < a.n; p++) {
      const double va = v * a.val[p];
      for (size_t q = 0; q < b.n; q++) {
        M[a.at[p] * P + b.at[q]] += va * b.val[q];
        if (!same)
          M[b.at[q] * P + a.at[p]] += va * b.val[q];
      }
    }
    if (same) {
      if (a.c != 0) {
        for (size_t p = 0; p < a.n; p++)
          X[a.at[p]] += v * a.c * a.val[p];
        Y += v * a.c * a.c;
      }
      return;
    }
    if (b.c != 0)
      for (size_t p = 0; p < a.n; p++)
        X[a.at[p]] += v * b.c * a.val[p];
    if (a.c != 0)
      for (size_t q = 0; q < b.n; q++)
        X[b.at[q]] += v * a.c * b.val[q];
    Y += 2 * v * a.c * b.c;
  }
  // Adds X E' + E X' + Y E E', E = e on the coefficients from `from` on.
  void finish(size_t from, double e)
  {
    for (size_t a = 0; a < P; a++)
      for (size_t b = 0; b < P; b++) {
        const double ea = a >= from ? e : 0, eb = b >= from ? e : 0;
        M[a * P + b] += X[a] * eb + ea * X[b] + Y * ea * eb;
      }
  }
};

ext_t unit(size_t at)
{
  ext_t t;
  t.n = 1;
  t.at[0] = at;
  t.val[0] = 1;
  return t;
}

// The codes of pair q as a vector of the parameters.
ext_t codes(const model_t &m, size_t q)
{
  ext_t t;
  t.n = m.hn[q];
  for (size_t k = 0; k < t.n; k++) {
    t.at[k] = m.hcol[2 * q + k];
    t.val[k] = m.hval[2 * q + k];
  }
  return t;
}

// Lends a cache's buffers to a model for its life, emptied.
struct lend_t {
  model_t &m;
  glm_cache_t *cache;
  lend_t(model_t &model, glm_cache_t *c) : m(model), cache(c)
  {
    if (!cache)
      return;
    std::vector<std::vector<double> *> d = m.dbufs();
    std::vector<std::vector<size_t> *> z = m.zbufs();
    cache->dbuf.resize(d.size());
    cache->zbuf.resize(z.size());
    for (size_t k = 0; k < d.size(); k++) {
      d[k]->swap(cache->dbuf[k]);
      d[k]->clear();
    }
    for (size_t k = 0; k < z.size(); k++) {
      z[k]->swap(cache->zbuf[k]);
      z[k]->clear();
    }
  }
  ~lend_t()
  {
    if (!cache)
      return;
    std::vector<std::vector<double> *> d = m.dbufs();
    std::vector<std::vector<size_t> *> z = m.zbufs();
    for (size_t k = 0; k < d.size(); k++)
      d[k]->swap(cache->dbuf[k]);
    for (size_t k = 0; k < z.size(); k++)
      z[k]->swap(cache->zbuf[k]);
  }
  lend_t(const lend_t &) = delete;
  lend_t &operator=(const lend_t &) = delete;
};

// Solves a x = b for a symmetric positive semi-definite a by its
// eigen-decomposition, dropping directions of no information.
vector_t solve_psd(const matrix_t &a, const vector_t &b)
{
  // A well-conditioned positive definite a: its Cholesky factor, the
  // condition judged by the factor's diagonal (its squared range).
  Eigen::LLT<matrix_t> llt(a);
  bool well = llt.info() == Eigen::Success && a.rows() > 0;
  if (well) {
    const vector_t dl = llt.matrixLLT().diagonal();
    const double lo = dl.minCoeff(), hi = dl.maxCoeff();
    well = lo > 0 && (lo / hi) * (lo / hi) > 1e-10;
  }
  if (well) {
    vector_t x = llt.solve(b);
    if (x.allFinite())
      return x;
  }
  Eigen::SelfAdjointEigenSolver<matrix_t> es(a);
  const vector_t &l = es.eigenvalues();
  double top = l.size() ? l(l.size() - 1) : 0;
  vector_t ub = es.eigenvectors().transpose() * b;
  for (index_t k = 0; k < l.size(); k++)
    ub(k) = l(k) > 1e-12 * top && top > 0 ? ub(k) / l(k) : 0;
  return es.eigenvectors() * ub;
}

// The M-step for beta: weighted least squares (normal) or Newton's method
// on the weighted logistic log-likelihood, with the prior when lambda > 0,
// at most steps Newton steps. Returns false when a step is not finite.
bool fit_beta(model_t &m, vector_t &beta, int steps = NEWTON_MAX)
{
  const size_t D = m.D, n = m.d.n, Z = 1 + m.d.q, Q = m.post.pairs.size();
  // The weighted sums of x x' and of the score, gathered per individual (its
  // z z' and z) and per pair (z times the pair's codes, the codes' own
  // square), each in the order of the individuals and their rows.
  std::vector<double> szz(Z * Z), szq(Z * Q), sqq(Q), sz(Z), sq(Q), z(Z);
  std::vector<ext_t> zt(Z), ht(Q);
  for (size_t j = 0; j < Z; j++)
    zt[j] = unit(m.zc(j));
  for (size_t q = 0; q < Q; q++)
    ht[q] = codes(m, q);
  gather_t gat;
  matrix_t a(static_cast<index_t>(D), static_cast<index_t>(D));
  vector_t g(static_cast<index_t>(D));
  for (int step = 0; step < steps; step++) {
    if (!m.fresh) {
      m.predict_mu(beta);
      m.fresh = true;
    }
    std::fill(szz.begin(), szz.end(), 0.0);
    std::fill(szq.begin(), szq.end(), 0.0);
    std::fill(sqq.begin(), sqq.end(), 0.0);
    std::fill(sz.begin(), sz.end(), 0.0);
    std::fill(sq.begin(), sq.end(), 0.0);
    for (size_t i = 0; i < n; i++) {
      for (size_t j = 0; j < Z; j++)
        z[j] = m.zv(i, j);
      double wvi = 0, wri = 0;
      for (size_t r = m.first[i]; r < m.first[i + 1]; r++) {
        const double w = m.w[r];
        if (!(w > 0))
          continue;
        const size_t q = m.pair[r];
        const double eta = m.eta[r];
        double v = 1, res = m.d.y[i] - eta;
        if (m.d.binary) {
          const double mu = m.mu[r];
          v = mu * (1 - mu);
          res = m.d.y[i] - mu;
        }
        const double wv = w * v, wr = w * res;
        wvi += wv;
        wri += wr;
        double *zq = szq.data() + q * Z;
        for (size_t j = 0; j < Z; j++)
          zq[j] += wv * z[j];
        sqq[q] += wv;
        sq[q] += wr;
      }
      for (size_t j = 0; j < Z; j++) {
        sz[j] += wri * z[j];
        for (size_t k = 0; k <= j; k++)
          szz[j * Z + k] += wvi * z[j] * z[k];
      }
    }
    gat.reset(D);
    g.setZero();
    for (size_t j = 0; j < Z; j++) {
      for (size_t k = 0; k <= j; k++)
        gat.add(zt[j], zt[k], szz[j * Z + k], j == k);
      g(static_cast<index_t>(m.zc(j))) += sz[j];
    }
    for (size_t q = 0; q < Q; q++) {
      for (size_t j = 0; j < Z; j++)
        gat.add(zt[j], ht[q], szq[q * Z + j], false);
      gat.add(ht[q], ht[q], sqq[q], true);
      for (size_t t = 0; t < ht[q].n; t++)
        g(static_cast<index_t>(ht[q].at[t])) += sq[q] * ht[q].val[t];
    }
    for (size_t c = 0; c < D; c++)
      for (size_t c2 = 0; c2 <= c; c2++) {
        a(static_cast<index_t>(c), static_cast<index_t>(c2)) = gat.M[c * D + c2];
        a(static_cast<index_t>(c2), static_cast<index_t>(c)) = gat.M[c * D + c2];
      }
    for (size_t c = 0; c < D; c++)
      if (m.penalised[c]) {
        a(static_cast<index_t>(c), static_cast<index_t>(c)) += m.lambda;
        g(static_cast<index_t>(c)) -= m.lambda * beta(static_cast<index_t>(c));
      }
    vector_t delta = solve_psd(a, g);
    if (!delta.allFinite())
      return false;
    beta += delta;
    m.fresh = false;
    if (!m.d.binary)
      return true;  // the normal log-likelihood is quadratic: one step is exact
    if (delta.cwiseAbs().maxCoeff() < NEWTON_TOL * (1 + beta.cwiseAbs().maxCoeff()))
      return true;
  }
  return beta.allFinite();
}

// The E-step: linear predictors, posteriors and the log-likelihood.
double e_step(model_t &m, const vector_t &beta, double phi, const std::vector<double> &f)
{
  const size_t n = m.d.n;
  std::vector<double> logf(f.size());
  for (size_t h = 0; h < f.size(); h++)
    logf[h] = f[h] > 0 ? std::log(f[h]) : -HUGE_VAL;
  const double log2 = std::log(2.0), lognorm = -0.5 * (LOG_2PI + std::log(phi));
  m.mu.resize(m.eta.size());
  m.predict(beta);
  const size_t Q = m.post.pairs.size();
  if (m.d.binary) {
    // exp(eta) = exp(individual's part) exp(pair's part): one exponential
    // per individual and per pair.
    m.prior.resize(Q);
    m.ehb.resize(Q);
    for (size_t q = 0; q < Q; q++) {
      m.prior[q] = pair_prior(m.post.pairs[q], f);
      m.ehb[q] = std::exp(m.hb[q]);
    }
  }
  // The log-likelihood sums the logarithms of products of the individuals'
  // likelihoods, each product taken while it stays far from underflow.
  double ll = 0, prod = 1;
  for (size_t i = 0; i < n; i++) {
    const size_t lo = m.first[i], hi = m.first[i + 1];
    const bool y1 = m.d.y[i] > 0.5;
    // A binary trait: each term as a product, unless the individual's
    // terms come too close to underflow or overflow.
    if (m.d.binary) {
      const double eb = std::exp(m.base[i]);
      double sum = 0;
      bool inside = eb > 1e-150 && eb < 1e150;
      for (size_t r = lo; r < hi && inside; r++) {
        const size_t q = m.pair[r];
        const double E = eb * m.ehb[q];
        if (!(E > 1e-250 && E < 1e250)) {
          inside = false;
          break;
        }
        const double inv = 1 / (1 + E);
        m.mu[r] = E * inv;
        m.w[r] = m.prior[q] * (y1 ? E * inv : inv);
        sum += m.w[r];
      }
      if (inside && sum > 1e-250) {
        const double inv = 1 / sum;
        for (size_t r = lo; r < hi; r++)
          m.w[r] *= inv;
        if (sum < 1e-100)
          ll += std::log(sum);
        else {
          prod *= sum;
          if (prod < 1e-150) {
            ll += std::log(prod);
            prod = 1;
          }
        }
        continue;
      }
    }
    // On the log scale, shifted by the largest term.
    double top = -HUGE_VAL;
    for (size_t r = lo; r < hi; r++) {
      const double eta = m.eta[r];
      const hf_pair_t &pr = m.post.pairs[m.pair[r]];
      double lp = logf[static_cast<size_t>(pr.a)];
      if (pr.b >= 0)
        lp += logf[static_cast<size_t>(pr.b)] + (pr.a != pr.b ? log2 : 0.0);
      double dens;
      if (m.d.binary) {
        const double e = std::exp(-std::fabs(eta));
        m.mu[r] = eta >= 0 ? 1 / (1 + e) : e / (1 + e);
        double l1 = std::log1p(e);
        dens = y1 == (eta >= 0) ? -l1 : -std::fabs(eta) - l1;
      } else {
        m.mu[r] = eta;
        dens = lognorm - 0.5 * (m.d.y[i] - eta) * (m.d.y[i] - eta) / phi;
      }
      double t = lp > -HUGE_VAL ? dens + lp : -HUGE_VAL;
      m.w[r] = t;
      top = std::max(top, t);
    }
    double sum = 0;
    for (size_t r = lo; r < hi; r++) {
      m.w[r] = m.w[r] > -HUGE_VAL ? std::exp(m.w[r] - top) : 0;
      sum += m.w[r];
    }
    for (size_t r = lo; r < hi; r++)
      m.w[r] /= sum;
    ll += top + std::log(sum);
  }
  m.fresh = true;
  return ll + std::log(prod);
}

// The frequencies from the posteriors: each haplotype's share of copies.
void m_step_freq(const model_t &m, std::vector<double> &f)
{
  f.assign(m.H, 0.0);
  for (size_t r = 0; r < m.pair.size(); r++) {
    const hf_pair_t &pr = m.post.pairs[m.pair[r]];
    f[static_cast<size_t>(pr.a)] += m.w[r];
    if (pr.b >= 0)
      f[static_cast<size_t>(pr.b)] += m.w[r];
  }
  for (double &v : f)
    v /= m.copies;
}

// The weighted residual sum of squares over n (the maximum-likelihood
// estimate, which the EM and the likelihoods use) or over n - d (the
// dispersion of the standard errors); haplo.glm takes the same two.
double dispersion(const model_t &m, bool over_n)
{
  double rss = 0;
  for (size_t i = 0; i < m.d.n; i++)
    for (size_t r = m.first[i]; r < m.first[i + 1]; r++)
      rss += m.w[r] * (m.d.y[i] - m.eta[r]) * (m.d.y[i] - m.eta[r]);
  return rss / static_cast<double>(m.d.n - (over_n ? 0 : m.D));
}

// Louis' observed information of (beta, free frequencies) at the estimate,
// m.w the posteriors there (glm.h). free[h]: the parameter of haplotype h
// among the frequencies, -1 when held fixed, -2 for the one left out. With
// score, also the score of the observed log-likelihood (over the pairs kept).
//
// A row's complete-data score is s = T sigma, sigma = (res z_i, res at its
// pair, 1 at its pair) in coordinates of the individuals' z and of the
// pairs, T mapping a pair's res to its codes and its 1 to its frequency
// score (1 / f_h per copy of a free haplotype h, plus the copies of the one
// left out times E = -1 / f_L on every free frequency). The complete-data
// information of the coefficients is T (v sigma_b sigma_b') T' likewise.
// So the information, sum over the rows of w (J - s s') plus per individual
// sbar sbar', is T S T' (plus the frequencies' complete-data information,
// per pair), S summed in those coordinates: per individual a multiple of
// z z', per pair z and a few scalars, and sbar sbar' per pattern of
// genotypes in a block over its pairs (or, for a pattern of more than
// LOUIS_BLOCK pairs, directly in the parameters). An individual of one
// pair, its posterior 1, has no variance: only J and the score.
const size_t LOUIS_BLOCK = 8;

matrix_t louis(model_t &m, const vector_t &beta, double phi, const std::vector<double> &f,
               const std::vector<int> &free, size_t nfree, vector_t *score)
{
  const size_t D = m.D, P = D + nfree, Z = 1 + m.d.q, Q = m.post.pairs.size();
  const size_t G = m.post.first.size() - 1;
  if (!m.fresh) {
    m.predict_mu(beta);
    m.fresh = true;
  }
  double e = 0, left2 = 0;
  for (size_t h = 0; h < f.size(); h++)
    if (free[h] == -2) {
      e = -1 / f[h];
      left2 = 1 / (f[h] * f[h]);
    }
  // Per pair: kept (no haplotype held fixed), its codes and frequency score.
  std::vector<char> kept(Q, 0);
  std::vector<ext_t> th(Q), tf(Q), zt(Z);
  for (size_t j = 0; j < Z; j++)
    zt[j] = unit(m.zc(j));
  for (size_t q = 0; q < Q; q++) {
    const hf_pair_t &pr = m.post.pairs[q];
    const size_t ha = static_cast<size_t>(pr.a);
    if (free[ha] == -1 || (pr.b >= 0 && free[static_cast<size_t>(pr.b)] == -1))
      continue;
    kept[q] = 1;
    th[q] = codes(m, q);
    ext_t &t = tf[q];
    int copy[2] = {pr.a, pr.b};
    for (int c = 0; c < (pr.b >= 0 ? 2 : 1); c++) {
      const size_t h = static_cast<size_t>(copy[c]);
      if (free[h] == -2) {
        t.c += 1;
        continue;
      }
      const size_t j = D + static_cast<size_t>(free[h]);
      if (t.n > 0 && t.at[t.n - 1] == j)
        t.val[t.n - 1] += 1 / f[h];
      else if (t.n > 0 && t.at[t.n - 1] > j) {  // keep the entries ascending
        t.at[1] = t.at[0];
        t.val[1] = t.val[0];
        t.at[0] = j;
        t.val[0] = 1 / f[h];
        t.n = 2;
      } else {
        t.at[t.n] = j;
        t.val[t.n++] = 1 / f[h];
      }
    }
  }
  // Blocks of sbar sbar' per pattern: coordinate 2 a + 0 the res of the
  // pattern's a-th pair, 2 a + 1 its 1.
  std::vector<size_t> boff(G + 1, 0);
  for (size_t g = 0; g < G; g++) {
    const size_t np = m.post.first[g + 1] - m.post.first[g];
    boff[g + 1] = boff[g] + (np <= LOUIS_BLOCK ? 4 * np * np : 0);
  }
  std::vector<double> block(boff[G], 0.0);
  std::vector<double> szz(Z * Z, 0.0), szx(2 * Q * Z, 0.0), drr(Q, 0.0), drw(Q, 0.0),
      dww(Q, 0.0), jw(Q, 0.0), sz(Z, 0.0), sr(Q, 0.0), sw(Q, 0.0), z(Z), big(P);
  std::vector<size_t> idx;
  std::vector<double> val;
  gather_t gat;
  gat.reset(P);
  // The rows' arrays through plain pointers: the sums' stores cannot
  // alias them.
  const double *const W = m.w.data(), *const ETA = m.eta.data(), *const MU = m.mu.data(),
                      *const Y = m.d.y.data();
  const size_t *const FIRST = m.first.data(), *const PAIR = m.pair.data();
  const char *const KEPT = kept.data();
  const bool binary = m.d.binary;
  double *const SZX = szx.data(), *const DRR = drr.data(), *const DRW = drw.data(),
               *const DWW = dww.data(), *const JW = jw.data(), *const SR = sr.data(),
               *const SW = sw.data();
  for (size_t i = 0; i < m.d.n; i++) {
    const size_t lo = FIRST[i], hi = FIRST[i + 1];
    const bool known = hi - lo == 1 && W[lo] == 1;
    for (size_t j = 0; j < Z; j++)
      z[j] = m.zv(i, j);
    double a = 0, sres = 0;
    idx.clear();
    val.clear();
    for (size_t r = lo; r < hi; r++) {
      const double w = W[r];
      const size_t q = PAIR[r];
      // A pair with a haplotype held fixed is left out of the sums, the
      // posteriors not renormalised (haplo.glm's haplo.min.info).
      if (!(w > 0) || !KEPT[q])
        continue;
      double v, res;
      if (binary) {
        const double mu = MU[r];
        v = mu * (1 - mu);
        res = Y[i] - mu;
      } else {
        v = 1 / phi;
        res = (Y[i] - ETA[r]) / phi;
      }
      const double wr = w * res, wa = known ? w * v : w * (v - res * res);
      a += wa;
      sres += wr;
      double *zr = SZX + 2 * q * Z;
      for (size_t j = 0; j < Z; j++)
        zr[j] += wa * z[j];
      DRR[q] += wa;
      JW[q] += w;
      SR[q] += wr;
      SW[q] += w;
      if (known)
        continue;
      double *zw = zr + Z;
      for (size_t j = 0; j < Z; j++)
        zw[j] -= wr * z[j];
      DRW[q] -= wr;
      DWW[q] -= w;
      idx.push_back(2 * (r - lo));
      val.push_back(wr);
      idx.push_back(2 * (r - lo) + 1);
      val.push_back(w);
    }
    if (!idx.empty()) {
      // + sbar sbar': its z part sres z, its pairs' part in val.
      a += sres * sres;
      const size_t g = static_cast<size_t>(m.d.genotype[i]);
      const size_t q0 = m.post.first[g], np = m.post.first[g + 1] - q0;
      for (size_t k = 0; k < idx.size(); k++) {
        double *zx = szx.data() + (2 * (q0 + idx[k] / 2) + idx[k] % 2) * Z;
        for (size_t j = 0; j < Z; j++)
          zx[j] += sres * z[j] * val[k];
      }
      if (np <= LOUIS_BLOCK) {
        double *bl = block.data() + boff[g];
        const size_t nb = 2 * np;
        for (size_t k = 0; k < idx.size(); k++)
          for (size_t k2 = 0; k2 <= k; k2++)
            bl[idx[k] * nb + idx[k2]] += val[k] * val[k2];
      } else {
        // The pairs' part of sbar in the parameters, t0 + c E.
        std::fill(big.begin(), big.end(), 0.0);
        double c = 0;
        for (size_t k = 0; k < idx.size(); k++) {
          const size_t q = q0 + idx[k] / 2;
          const ext_t &t = idx[k] % 2 ? tf[q] : th[q];
          for (size_t p = 0; p < t.n; p++)
            big[t.at[p]] += val[k] * t.val[p];
          c += val[k] * t.c;
        }
        for (size_t p = 0; p < P; p++) {
          if (big[p] == 0)
            continue;
          for (size_t p2 = 0; p2 < P; p2++)
            gat.M[p * P + p2] += big[p] * big[p2];
          gat.X[p] += c * big[p];
        }
        gat.Y += c * c;
      }
    }
    for (size_t j = 0; j < Z; j++) {
      sz[j] += sres * z[j];
      for (size_t k = 0; k <= j; k++)
        szz[j * Z + k] += a * z[j] * z[k];
    }
  }
  // T S T'.
  for (size_t j = 0; j < Z; j++)
    for (size_t k = 0; k <= j; k++)
      gat.add(zt[j], zt[k], szz[j * Z + k], j == k);
  double fixed_left = 0;  // the frequencies' dense complete-data information
  for (size_t q = 0; q < Q; q++) {
    if (!kept[q])
      continue;
    for (size_t j = 0; j < Z; j++) {
      gat.add(zt[j], th[q], szx[2 * q * Z + j], false);
      gat.add(zt[j], tf[q], szx[(2 * q + 1) * Z + j], false);
    }
    gat.add(th[q], th[q], drr[q], true);
    gat.add(th[q], tf[q], drw[q], false);
    gat.add(tf[q], tf[q], dww[q], true);
    // The frequencies' complete-data information: 1 / f_h^2 per copy.
    const hf_pair_t &pr = m.post.pairs[q];
    int copy[2] = {pr.a, pr.b};
    for (int c = 0; c < (pr.b >= 0 ? 2 : 1); c++) {
      const size_t h = static_cast<size_t>(copy[c]);
      if (free[h] >= 0) {
        const size_t j = D + static_cast<size_t>(free[h]);
        gat.M[j * P + j] += jw[q] / (f[h] * f[h]);
      }
    }
    fixed_left += jw[q] * tf[q].c * left2;
  }
  for (size_t g = 0; g < G; g++) {
    const size_t q0 = m.post.first[g], np = m.post.first[g + 1] - q0;
    if (np > LOUIS_BLOCK)
      continue;
    const double *bl = block.data() + boff[g];
    const size_t nb = 2 * np;
    for (size_t k = 0; k < nb; k++)
      for (size_t k2 = 0; k2 <= k; k2++) {
        const double v = bl[k * nb + k2];
        if (v == 0)
          continue;
        const ext_t &t1 = k % 2 ? tf[q0 + k / 2] : th[q0 + k / 2];
        const ext_t &t2 = k2 % 2 ? tf[q0 + k2 / 2] : th[q0 + k2 / 2];
        gat.add(t1, t2, v, k == k2);
      }
  }
  gat.finish(D, e);
  const index_t Pi = static_cast<index_t>(P);
  matrix_t out(Pi, Pi);
  for (size_t a = 0; a < P; a++)
    for (size_t b = 0; b <= a; b++) {
      double v = gat.M[a * P + b];
      if (a >= D && b >= D)
        v += fixed_left;
      out(static_cast<index_t>(a), static_cast<index_t>(b)) = v;
      out(static_cast<index_t>(b), static_cast<index_t>(a)) = v;
    }
  for (size_t c = 0; c < D; c++)
    if (m.penalised[c])
      out(static_cast<index_t>(c), static_cast<index_t>(c)) += m.lambda;
  if (score) {
    *score = vector_t::Zero(Pi);
    double c = 0;
    for (size_t j = 0; j < Z; j++)
      (*score)(static_cast<index_t>(m.zc(j))) += sz[j];
    for (size_t q = 0; q < Q; q++) {
      if (!kept[q])
        continue;
      for (size_t p = 0; p < th[q].n; p++)
        (*score)(static_cast<index_t>(th[q].at[p])) += sr[q] * th[q].val[p];
      for (size_t p = 0; p < tf[q].n; p++)
        (*score)(static_cast<index_t>(tf[q].at[p])) += sw[q] * tf[q].val[p];
      c += sw[q] * tf[q].c;
    }
    for (size_t a = D; a < P; a++)
      (*score)(static_cast<index_t>(a)) += c * e;
  }
  return out;
}

// One safeguarded Newton-Raphson step on (beta, frequencies) of a binary
// trait from the posteriors in m.w (those of beta and f, log-likelihood ll),
// with the observed information: the full step, halved while it leaves the
// simplex or does not raise the log-likelihood. On success beta, f, ll and
// m.w are those of the new point; otherwise nothing changes and false.
// Frequencies below NEWTON_MIN_FREQ stay where they are.
bool newton_step(model_t &m, vector_t &beta, std::vector<double> &f, double &ll)
{
  const size_t H = f.size(), D = m.D;
  std::vector<int> free(H, -1);
  int left_out = -1;
  for (size_t h = 0; h < H; h++)
    if (f[h] >= NEWTON_MIN_FREQ && (left_out < 0 || f[h] > f[static_cast<size_t>(left_out)]))
      left_out = static_cast<int>(h);
  if (left_out < 0)
    return false;
  size_t nfree = 0;
  for (size_t h = 0; h < H; h++)
    if (f[h] >= NEWTON_MIN_FREQ && static_cast<int>(h) != left_out)
      free[h] = static_cast<int>(nfree++);
  free[static_cast<size_t>(left_out)] = -2;
  vector_t score;
  matrix_t info = louis(m, beta, 1, f, free, nfree, &score);
  // Frequencies the full step would take out of the simplex head for its
  // boundary, where the likelihood's quadratic model fails: they are held
  // out of the step (the others' step solved without them) and moved to a
  // tenth of their value.
  const index_t P = static_cast<index_t>(D + nfree);
  std::vector<char> held(nfree, 0);
  vector_t delta;
  for (;;) {
    std::vector<index_t> keep_at;
    for (index_t k = 0; k < P; k++)
      if (k < static_cast<index_t>(D) || !held[static_cast<size_t>(k) - D])
        keep_at.push_back(k);
    const index_t Q = static_cast<index_t>(keep_at.size());
    matrix_t sub(Q, Q);
    vector_t ssub(Q);
    for (index_t a = 0; a < Q; a++) {
      ssub(a) = score(keep_at[static_cast<size_t>(a)]);
      for (index_t b = 0; b < Q; b++)
        sub(a, b) = info(keep_at[static_cast<size_t>(a)], keep_at[static_cast<size_t>(b)]);
    }
    vector_t dsub = solve_psd(sub, ssub);
    if (!dsub.allFinite())
      return false;
    delta = vector_t::Zero(P);
    for (index_t a = 0; a < Q; a++)
      delta(keep_at[static_cast<size_t>(a)]) = dsub(a);
    bool more = false;
    for (size_t h = 0; h < H; h++)
      if (free[h] >= 0 && !held[static_cast<size_t>(free[h])] &&
          !(f[h] + delta(static_cast<index_t>(D) + free[h]) > 0)) {
        held[static_cast<size_t>(free[h])] = 1;
        more = true;
      }
    if (!more)
      break;
  }
  m.keep_w = m.w;
  m.keep_eta = m.eta;
  m.keep_mu = m.mu;
  vector_t nb(beta.size());
  std::vector<double> nf(H);
  double t = 1;
  for (int halve = 0; halve < NEWTON_HALVINGS; halve++, t /= 2) {
    nb = beta + t * delta.head(static_cast<index_t>(D));
    double rest = 0;
    bool inside = true;
    for (size_t h = 0; h < H; h++) {
      nf[h] = f[h];
      if (free[h] >= 0) {
        if (held[static_cast<size_t>(free[h])])
          nf[h] = f[h] * NEWTON_SHRINK;
        else
          nf[h] += t * delta(static_cast<index_t>(D) + free[h]);
        if (!(nf[h] > 0))
          inside = false;
      }
      if (free[h] != -2)
        rest += nf[h];
    }
    nf[static_cast<size_t>(left_out)] = 1 - rest;
    if (!inside || !(nf[static_cast<size_t>(left_out)] > 0))
      continue;
    double nl = e_step(m, nb, 1, nf);
    if (std::isfinite(nl) && nl > ll) {
      beta = nb;
      f = nf;
      ll = nl;
      return true;
    }
  }
  m.w.swap(m.keep_w);
  m.eta.swap(m.keep_eta);
  m.mu.swap(m.keep_mu);
  m.fresh = true;
  return false;
}

// The joint EM from the posteriors in m.w; beta, phi, f at the end, and
// m.w the posteriors under them. Returns the log-likelihood.
double joint_em(model_t &m, const glm_settings_t &s, vector_t &beta, double &phi,
                std::vector<double> &f, int &iterations, bool &converged)
{
  double ll = -HUGE_VAL, prev = -HUGE_VAL;
  converged = false;
  // Binary traits without the prior: there the log-likelihood is the
  // objective of every step.
  const bool newton = m.d.binary && m.lambda == 0;
  int wait = NEWTON_FROM - 1;  // EM steps before the next Newton step
  for (iterations = 1; iterations <= s.max_iter; iterations++) {
    // Newton steps on all parameters once the EM is under way, each kept
    // only where it raises the log-likelihood (the stopping rule holds for
    // both kinds of step); one that fails gives way to an EM step in its
    // place and NEWTON_FROM - 1 more.
    if (newton && wait == 0) {
      if (newton_step(m, beta, f, ll)) {
        if (!(ll - prev > s.gain)) {
          converged = true;
          break;
        }
        prev = ll;
        continue;
      }
      wait = NEWTON_FROM - 1;
    } else if (wait > 0)
      wait--;
    // One Newton step on beta per EM step (a generalised EM: each step
    // raises the expected complete-data log-likelihood, and the fixed
    // point is the same); the first step fits the start posteriors fully.
    if (!fit_beta(m, beta, iterations == 1 ? NEWTON_MAX : 1))
      break;
    if (!m.d.binary) {
      // eta under the new beta for the dispersion.
      m.predict(beta);
      phi = dispersion(m, true);
    }
    m_step_freq(m, f);
    ll = e_step(m, beta, phi, f);
    if (!std::isfinite(ll))
      break;
    if (iterations > 1 && !(ll - prev > s.gain)) {
      converged = true;
      break;
    }
    prev = ll;
  }
  if (iterations > s.max_iter)
    iterations = s.max_iter;
  return ll;
}

// The generalised inverse of the information, scaled to unit diagonal
// first so that frequencies and effects compare. estimable[c] is false for
// a parameter with a share of the dropped directions.
matrix_t ginv(const matrix_t &info, std::vector<bool> &estimable)
{
  const index_t P = info.rows();
  vector_t scale(P);
  for (index_t k = 0; k < P; k++)
    scale(k) = info(k, k) > 0 ? 1 / std::sqrt(info(k, k)) : 0;
  matrix_t a = scale.asDiagonal() * info * scale.asDiagonal();
  Eigen::SelfAdjointEigenSolver<matrix_t> es(a);
  const vector_t &l = es.eigenvalues();
  const matrix_t &u = es.eigenvectors();
  double top = P ? l(P - 1) : 0;
  matrix_t inv = matrix_t::Zero(P, P);
  vector_t dropped = vector_t::Zero(P);
  for (index_t k = 0; k < P; k++) {
    if (top > 0 && l(k) > EPS_SVD * top)
      inv.noalias() += u.col(k) * u.col(k).transpose() / l(k);
    else
      dropped += u.col(k).cwiseAbs2();
  }
  estimable.assign(static_cast<size_t>(P), true);
  for (index_t k = 0; k < P; k++)
    estimable[static_cast<size_t>(k)] = scale(k) > 0 && dropped(k) < 1e-6;
  return scale.asDiagonal() * inv * scale.asDiagonal();
}

bool fail(glm_fit_t &fit, const std::string &why)
{
  fit.status = why;
  return false;
}

} // namespace

glm_term_t::glm_term_t() : freq(NA), se(NA) {}

bool glm_fit(const glm_data_t &d, const hf_posterior_t &post, const glm_settings_t &s,
             glm_fit_t &fit, glm_cache_t *cache)
{
  fit = glm_fit_t();
  model_t m(d, post);
  lend_t lend(m, cache);
  const size_t n = d.n, H = d.freq0.size();
  m.H = H;
  if (n == 0)
    return fail(fit, "no individual to fit");
  size_t G = post.first.empty() ? 0 : post.first.size() - 1;
  std::vector<double> count(G, 0.0);
  for (size_t i = 0; i < n; i++) {
    size_t g = static_cast<size_t>(d.genotype[i]);
    if (g >= G || post.first[g] == post.first[g + 1])
      return fail(fit, "a genotype has no compatible pair of haplotypes");
    count[g] += 1;
    m.copies += post.pairs[post.first[g]].b < 0 ? 1 : 2;
  }

  // The trait-free EM to convergence: the null model's frequencies, which
  // choose the modelled haplotypes.
  std::vector<double> f = d.freq0, next(H);
  double ll_geno = -HUGE_VAL, prev = -HUGE_VAL;
  for (int it = 1; it <= s.max_iter; it++) {
    ll_geno = 0;
    next.assign(H, 0.0);
    for (size_t g = 0; g < G; g++) {
      if (count[g] == 0)
        continue;
      double sum = 0;
      for (size_t q = post.first[g]; q < post.first[g + 1]; q++)
        sum += pair_prior(post.pairs[q], f);
      if (!(sum > 0))
        return fail(fit, "a genotype is impossible under the haplotype frequencies");
      ll_geno += count[g] * std::log(sum);
      for (size_t q = post.first[g]; q < post.first[g + 1]; q++) {
        const hf_pair_t &pr = post.pairs[q];
        double w = count[g] * pair_prior(pr, f) / sum;
        next[static_cast<size_t>(pr.a)] += w;
        if (pr.b >= 0)
          next[static_cast<size_t>(pr.b)] += w;
      }
    }
    if (it > 1 && !(ll_geno - prev > s.gain))
      break;
    prev = ll_geno;
    for (size_t h = 0; h < H; h++)
      f[h] = next[h] / m.copies;
  }
  fit.freq_null = f;

  // The terms: rare haplotypes, the base, the columns.
  fit.rare.assign(H, 0);
  double rare_sum = 0;
  for (size_t h = 0; h < H; h++)
    if (f[h] < s.min_freq || f[h] * m.copies < s.min_count) {
      fit.rare[h] = 1;
      rare_sum += f[h];
    }
  int base = s.base;
  if (base >= 0) {
    if (static_cast<size_t>(base) >= H)
      return fail(fit, "the base haplotype is not among the haplotypes of the sample");
    if (fit.rare[static_cast<size_t>(base)]) {
      char buf[64];
      snprintf(buf, sizeof buf, "%.4g", f[static_cast<size_t>(base)]);
      return fail(fit, std::string("the base haplotype is rare (frequency ") + buf +
                           "); choose a modelled one");
    }
  } else {
    for (size_t h = 0; h < H; h++)
      if (!fit.rare[h] && (base < 0 || f[h] > f[static_cast<size_t>(base)]))
        base = static_cast<int>(h);
    if (base < 0)
      return fail(fit, "no haplotype is frequent enough to model");
  }
  bool rare_term = rare_sum >= s.sum_rare_min;
  m.column.assign(H, -1);
  for (size_t h = 0; h < H; h++)
    if (!fit.rare[h] && static_cast<int>(h) != base)
      m.column[h] = static_cast<int>(m.K++);
  if (rare_term) {
    for (size_t h = 0; h < H; h++)
      if (fit.rare[h])
        m.column[h] = static_cast<int>(m.K);
    m.K++;
  }
  m.D = 1 + m.K + d.q;
  if (n <= m.D)
    return fail(fit, std::to_string(n) + " individuals for " + std::to_string(m.D) +
                         " coefficients");
  m.code.assign(post.pairs.size() * m.K, 0.0);
  for (size_t q = 0; q < post.pairs.size(); q++) {
    const hf_pair_t &pr = post.pairs[q];
    int ca = m.column[static_cast<size_t>(pr.a)], cb = pr.b >= 0 ? m.column[static_cast<size_t>(pr.b)] : -1;
    double *c = m.code.data() + q * m.K;
    if (ca >= 0)
      c[ca] += 1;
    if (cb >= 0)
      c[cb] += 1;
    for (size_t k = 0; k < m.K; k++) {
      if (pr.b < 0 || s.effect == GLM_ADDITIVE)
        continue;  // a male's copy counts as 1 under every coding
      if (s.effect == GLM_DOMINANT)
        c[k] = c[k] > 0 ? 1 : 0;
      else
        c[k] = c[k] > 1 ? 1 : 0;
    }
  }
  m.first.assign(n + 1, 0);
  for (size_t i = 0; i < n; i++) {
    size_t g = static_cast<size_t>(d.genotype[i]);
    for (size_t q = post.first[g]; q < post.first[g + 1]; q++)
      m.pair.push_back(q);
    m.first[i + 1] = m.pair.size();
  }
  m.w.assign(m.pair.size(), 0.0);
  m.eta.assign(m.pair.size(), 0.0);
  m.penalised.assign(m.D, false);
  m.build_rows();

  // The null model: the trait on the covariates, the genotypes under the
  // trait-free frequencies. One row per individual, as a model without
  // haplotype columns. Its trait part depends on y and the covariates only.
  glm_cache_t local;
  glm_cache_t &nc = cache ? *cache : local;
  if (!(nc.valid && nc.binary == d.binary && nc.q == d.q && nc.y == d.y && nc.cov == d.cov)) {
    nc.valid = false;
    glm_data_t nd;
    nd.binary = d.binary;
    nd.n = n;
    nd.q = d.q;
    nd.y = d.y;
    nd.cov = d.cov;
    hf_posterior_t one;
    one.first = {0, 1};
    one.pairs.push_back(hf_pair_t{0, -1, 1.0});
    nd.genotype.assign(n, 0);
    model_t m0(nd, one);
    m0.H = 1;
    m0.K = 0;
    m0.D = 1 + d.q;
    m0.first.resize(n + 1);
    for (size_t i = 0; i <= n; i++)
      m0.first[i] = i;
    m0.pair.assign(n, 0);
    m0.w.assign(n, 1.0);
    m0.eta.assign(n, 0.0);
    m0.penalised.assign(m0.D, false);
    m0.build_rows();
    vector_t b0 = vector_t::Zero(static_cast<index_t>(m0.D));
    nc.fitted = fit_beta(m0, b0);
    if (nc.fitted) {
      double phi0 = 1;
      m0.predict(b0);
      if (!d.binary)
        phi0 = dispersion(m0, true);
      std::vector<double> one_f = {1.0};
      nc.loglik = e_step(m0, b0, phi0, one_f);
      nc.beta.assign(b0.data(), b0.data() + b0.size());
    }
    nc.binary = d.binary;
    nc.q = d.q;
    nc.y = d.y;
    nc.cov = d.cov;
    nc.valid = true;
  }
  if (!nc.fitted)
    return fail(fit, "the model without haplotypes cannot be fitted");
  fit.loglik_null = nc.loglik + ll_geno;

  // The joint EM from the trait-free posteriors, then the information.
  for (size_t i = 0; i < n; i++) {
    size_t g = static_cast<size_t>(d.genotype[i]);
    double sum = 0;
    for (size_t q = post.first[g]; q < post.first[g + 1]; q++)
      sum += pair_prior(post.pairs[q], f);
    for (size_t r = m.first[i]; r < m.first[i + 1]; r++)
      m.w[r] = pair_prior(post.pairs[m.pair[r]], f) / sum;
  }
  m.start_w = m.w;
  vector_t beta;
  double phi = 1;
  std::vector<bool> hit(m.D, false);
  matrix_t var;
  std::vector<bool> estimable;
  for (int pass = 0; pass < 2; pass++) {
    m.w = m.start_w;
    f = fit.freq_null;
    // From the null model's intercept and covariates: the first M-step's
    // fit, to convergence, is the same from any start.
    beta = vector_t::Zero(static_cast<index_t>(m.D));
    for (size_t c = 0; c < nc.beta.size(); c++)
      beta(static_cast<index_t>(m.zc(c))) = nc.beta[c];
    m.fresh = false;
    phi = 1;
    fit.loglik = joint_em(m, s, beta, phi, f, fit.iterations, fit.converged);
    if (!beta.allFinite() || !std::isfinite(fit.loglik)) {
      if (pass == 0 && d.binary) {
        fit.converged = false;
      } else
        return fail(fit, "the fit failed (no finite estimate)");
    }
    // The frequencies of the information: those of at least min_info, the
    // last of them left out.
    std::vector<int> free(H, -1);
    size_t nfree = 0;
    int left_out = -1;
    for (size_t h = 0; h < H; h++)
      if (f[h] >= s.min_info)
        left_out = static_cast<int>(h);
    for (size_t h = 0; h < H; h++)
      if (f[h] >= s.min_info && static_cast<int>(h) != left_out)
        free[h] = static_cast<int>(nfree++);
    if (left_out >= 0)
      free[static_cast<size_t>(left_out)] = -2;
    if (!d.binary)
      fit.dispersion = dispersion(m, false);
    if (beta.allFinite()) {
      var = ginv(louis(m, beta, fit.dispersion, f, free, nfree, nullptr), estimable);
    } else {
      var = matrix_t::Zero(static_cast<index_t>(m.D + nfree), static_cast<index_t>(m.D + nfree));
      estimable.assign(m.D + nfree, false);
    }
    if (pass == 1 || !d.binary)
      break;
    bool runaway = !fit.converged;
    for (size_t c = 1; c <= m.K; c++) {
      double se = estimable[c] ? std::sqrt(var(static_cast<index_t>(c), static_cast<index_t>(c))) : NA;
      if (!beta.allFinite() || std::fabs(beta(static_cast<index_t>(c))) > RUNAWAY_EFFECT ||
          se > RUNAWAY_SE) {
        hit[c] = true;
        runaway = true;
      }
    }
    if (!runaway)
      break;
    fit.prior = true;
    m.lambda = 1 / (s.prior_sd * s.prior_sd);
    for (size_t c = 1; c <= m.K; c++)
      m.penalised[c] = true;
  }
  fit.freq = f;

  // The rows.
  char prior_note[96];
  snprintf(prior_note, sizeof prior_note, "normal prior (sd %g) on the haplotype effects",
           s.prior_sd);
  auto coef = [&](size_t c, glm_term_t &t) {
    t.effect = beta(static_cast<index_t>(c));
    double v = var(static_cast<index_t>(c), static_cast<index_t>(c));
    if (estimable[c] && v > 0)
      t.se = std::sqrt(v);
    else
      t.status = "not estimable: no information in the data";
    if (c >= 1 && c <= m.K && fit.prior) {
      std::string why = hit[c] ? "separation: bounded by a " : "fitted with a ";
      t.status = why + prior_note + (t.status.empty() ? "" : "; " + t.status);
    }
    if (!fit.converged) {
      std::string why = "EM did not converge in " + std::to_string(s.max_iter) + " steps";
      t.status = t.status.empty() ? why : t.status + "; " + why;
    }
  };
  glm_term_t t0;
  t0.kind = GLM_INTERCEPT;
  coef(0, t0);
  fit.terms.push_back(t0);
  glm_term_t tb;
  tb.kind = GLM_BASE;
  tb.haplotype = base;
  tb.freq = f[static_cast<size_t>(base)];
  fit.terms.push_back(tb);
  for (size_t h = 0; h < H; h++)
    if (!fit.rare[h] && static_cast<int>(h) != base) {
      glm_term_t t;
      t.kind = GLM_HAPLOTYPE;
      t.haplotype = static_cast<int>(h);
      t.freq = f[h];
      coef(1 + static_cast<size_t>(m.column[h]), t);
      fit.terms.push_back(t);
    }
  if (rare_term) {
    glm_term_t t;
    t.kind = GLM_RARE;
    t.freq = 0;
    for (size_t h = 0; h < H; h++)
      if (fit.rare[h])
        t.freq += f[h];
    coef(m.K, t);
    fit.terms.push_back(t);
  }
  for (size_t c = 0; c < d.q; c++) {
    glm_term_t t;
    t.kind = GLM_COVARIATE;
    t.covariate = c;
    coef(1 + m.K + c, t);
    fit.terms.push_back(t);
  }
  fit.lrt_df = static_cast<int>(m.K);
  fit.lrt_chi2 = 2 * (fit.loglik - fit.loglik_null);
  if (fit.lrt_chi2 < 0)
    fit.lrt_chi2 = 0;
  return true;
}
