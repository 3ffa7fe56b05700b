// Haplotype counting: the EM that shares each individual's haplotype copies
// out over the haplotype pairs compatible with its genotype.

#include <cmath>
#include <cstring>

#include "possible.h"

namespace {

// Adds to hm the expected haplotype copies of a two-allele record with
// missing loci, shared out over its completions and their phases.
void countpartial(hfstate_t &s, const geno_t &rec, int p)
{
  double *hm = s.hm.data();
  const double *h = s.h.data();
  double total = rec.gprob;
  double u = total == 0 ? 0 : rec.instances / total;
  forcompletions(s, p, [&](const compview_t &v) {
    if (v.hom) {
      int k = v.a[0];
      hm[k] += 2 * h[k] * h[k] * u;
      return;
    }
    for (int t = 0; t < v.n; t++) {
      int ka = v.a[t], kb = v.b[t];
      // A stored term is 2 h(A) h(B) under the current h already.
      double share = (v.q ? v.q[t] : 2 * h[ka] * h[kb]) * u;
      hm[ka] += share;
      hm[kb] += share;
    }
  });
}

// A hemizygous record: one haplotype copy per individual.
void counthaploid(hfstate_t &s, const geno_t &rec, int p)
{
  double *c = s.c.data(), *hm = s.hm.data();
  const double *h = s.h.data();
  if (s.patterns[p].full) {
    forcompletions(s, p, [&](const compview_t &v) { c[v.a[0]] += rec.instances; });
    return;
  }
  double total = rec.gprob;
  double u = total == 0 ? 0 : rec.instances / total;
  forcompletions(s, p, [&](const compview_t &v) { hm[v.a[0]] += h[v.a[0]] * u; });
}

} // namespace

void counting(hfstate_t &s, geno_t *table, int i)
{
  double *c = s.c.data();
  const double *h = s.h.data();
  const geno_t &rec = table[i];
  double w = rec.instances;
  // The probability of the genotype under the current h is the sum of its
  // phase terms, which the record holds already.
  double total = rec.gprob;
  forcompletions(s, s.recpattern[i], [&](const compview_t &v) {
    if (v.hom) {
      c[v.a[0]] += 2 * w;
      return;
    }
    // A genotype that none of the current haplotypes can make (possible only
    // when it carries no weight in the estimate) contributes nothing.
    if (total == 0)
      return;
    for (int t = 0; t < v.n; t++) {
      int ka = v.a[t], kb = v.b[t];
      // A stored value is the phase's share of the probability already.
      double share = v.q ? v.q[t] : 2 * h[ka] * h[kb] / total;
      c[ka] += share * w;
      c[kb] += share * w;
    }
  });
}

void geth(hfstate_t &s, geno_t *table)
{
  int n = static_cast<int>(s.hapk.size());
  double *h = s.h.data(), *c = s.c.data(), *hm = s.hm.data();
  for (int k = 0; k < n; k++) {
    c[k] = 0;
    hm[k] = 0;
  }
  for (int i = 0; i < s.obscom; i++) {
    const geno_t &rec = table[i];
    int p = s.recpattern[i];
    if (s.patterns[p].hemi)
      counthaploid(s, rec, p);
    else if (s.patterns[p].full)
      counting(s, table, i);
    else
      countpartial(s, rec, p);
  }
  double msum = 0;
  for (int k = 0; k < n; k++)
    msum += hm[k];
  double copies = 2 * s.d_sample + msum + s.h_sample;
  for (int k = 0; k < n; k++)
    h[k] = (c[k] + hm[k]) / copies;
}

bool emdone(const hfstate_t &s, double gain, int steps)
{
  return !(gain > s.stopgain) || steps >= s.maxsteps;
}

int ehm(hfstate_t &s, geno_t *table)
{
  s.hapall = 1;
  int eqspec = 0;
  for (int l = 0; l < s.nloci; l++) {
    s.hapall *= s.loci[l];
    eqspec += s.loci[l] - 1;
  }
  int dispec = s.hapall - 1;

  int status = getp(s, table);
  if (status != HF_OK)
    return status;

  int eqseen = 0, seenproduct = 1;
  for (int l = 0; l < s.nloci; l++) {
    int seen = 0;
    for (int a = 0; a < s.loci[l]; a++)
      if (s.p[l][a] >= s.precis)
        seen++;
    eqseen += seen - 1;
    seenproduct *= seen;
  }
  int disseen = seenproduct - 1;
  s.eqseen = eqseen;
  s.eqspec = eqspec;
  s.disseen = disseen;
  s.dispec = dispec;

  genall(s, table);
  double l0 = ll(s, table);
  s.l0 = l0;
  s.steps.clear();

  int iteration = 1;
  double previous = l0, l1 = l0, gain = 0;
  for (;;) {
    geth(s, table);
    iteration++;
    genall(s, table);
    l1 = ll(s, table);
    s.steps.push_back(l1);
    gain = l1 - previous;
    previous = l1;
    if (emdone(s, gain, iteration - 1))
      break;
  }
  s.l1 = l1;

  int rows = 0;
  for (size_t i = 0; i < s.hapk.size(); i++)
    if (s.h[i] > s.epsh)
      rows++;
  s.nhaplotypes = rows;

  hf_result_t &r = s.result;
  r.ll0 = l0;
  r.ll1 = l1;
  r.chi2 = 2 * (l1 - l0);
  r.df = disseen - eqseen;
  r.df_specified = dispec - eqspec;
  r.iterations = iteration - 1;
  r.capped = !emdone(s, gain, 0);
  r.last_gain = gain;
  r.full = s.h_sample + s.fulld;
  r.partial = s.h_msample + s.d_msample;
  r.nhap = 2 * (s.d_sample + s.d_msample) + (s.h_sample + s.h_msample);
  r.nhaplotypes = rows;
  return HF_OK;
}
