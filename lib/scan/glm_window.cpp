// The haplotype GLM of one window (glm.h) on the pooled estimate of the
// tested individuals: the likelihood-ratio test against the model without
// haplotypes as assoc_*, and the haplotype term of largest |effect / se| as
// top_*.

#include <cmath>
#include <new>

#include "scan.h"

std::string glm_window(scan_glm_t &g, const scan_settings_t &set,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms,
                       hfstate_t *pooled, const std::vector<size_t> &tested, scan_row_t &row)
{
  if (hf_posteriors(pooled, g.post) == HF_ENOMEM)
    throw std::bad_alloc();
  const size_t n = tested.size();
  // Record i of the pooled estimate is tested individual i.
  if (g.post.pattern.size() != n)
    return "the pooled estimate lost records";
  const int *number;
  const double *h1, *h0;
  size_t nh = hf_haplotypes(pooled, &number, &h1, &h0);
  g.spelled.resize(nh);
  glm_settings_t s = set.glm_set;
  for (size_t a = 0; a < nh; a++) {
    g.spelled[a] = scan_spell(pooled, number[a], ms);
    if (!set.glm_base.empty() && g.spelled[a] == set.glm_base)
      s.base = static_cast<int>(a);
  }
  if (!set.glm_base.empty() && s.base < 0)
    return "--base " + set.glm_base + ": no individual can carry this haplotype";

  glm_data_t &d = g.data;
  d.binary = set.binary;
  d.n = n;
  d.q = set.ncov;
  d.y.resize(n);
  d.cov.resize(n * d.q);
  d.genotype = g.post.pattern;
  d.freq0.assign(h1, h1 + nh);
  for (size_t i = 0; i < n; i++) {
    d.y[i] = set.y[tested[i]];
    for (size_t c = 0; c < d.q; c++)
      d.cov[i * d.q + c] = set.cov[tested[i] * set.ncov + c];
  }
  if (!glm_fit(d, g.post, s, g.fit, &g.cache))
    return g.fit.status;
  const glm_fit_t &f = g.fit;
  if (f.lrt_df > 0) {
    row.assoc_chi2 = f.lrt_chi2;
    row.assoc_df = f.lrt_df;
    row.assoc_p = hs_chi2_upper(f.lrt_chi2, f.lrt_df);
  }
  double top = -1;
  for (const glm_term_t &t : f.terms)
    if ((t.kind == GLM_HAPLOTYPE || t.kind == GLM_RARE) && t.se > 0) {
      double z = t.effect / t.se;
      if (std::fabs(z) > top) {
        top = std::fabs(z);
        row.top_haplotype = t.kind == GLM_RARE ? "rare" : g.spelled[static_cast<size_t>(t.haplotype)];
        row.top_freq = t.freq;
        row.top_z = z;
      }
    }
  if (f.lrt_df == 0)
    return "no haplotype term: every haplotype but the base is rare";
  if (f.prior)
    return "separation: haplotype effects under a normal prior (sd " +
           std::to_string(static_cast<int>(s.prior_sd)) + ")";
  if (!f.converged)
    return "EM did not converge in " + std::to_string(s.max_iter) + " steps";
  return "";
}
