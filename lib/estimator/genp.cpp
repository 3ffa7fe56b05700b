// Genotype probabilities under the current haplotype frequencies h, and the
// sample log-likelihood.

#include <cmath>
#include <cstring>
#include <vector>

#include "possible.h"

double hfreq(const hfstate_t &s, int number)
{
  int i = hapindex(s, number);
  return i < 0 ? 0 : s.h[i];
}

double hfreq0(const hfstate_t &s, int number)
{
  int i = hapindex(s, number);
  return i < 0 ? 0 : s.h0[i];
}

double phasep(const hfstate_t &s, const int16_t *a1, const int16_t *a2)
{
  int het[HF_MAXLOCI];
  int m = hetloci(s, a1, a2, het);
  if (m == 0) {
    double f = hfreq(s, linenum(s, s.loci, a1));
    return f * f;
  }
  int16_t digits[HF_MAXLOCI + 1];
  memset(digits, 0, sizeof digits);
  int16_t A[HF_MAXLOCI], B[HF_MAXLOCI];
  double sum = 0;
  int n = nphases(m);
  for (int t = 0; t < n; t++) {
    phasepair(s, a1, a2, het, m, digits, A, B);
    sum += 2 * hfreq(s, linenum(s, s.loci, A)) * hfreq(s, linenum(s, s.loci, B));
    digit2(1, digits, 0);
  }
  return sum;
}

// The probability of a distinct genotype: the sum over its completions of
// the probability of each complete genotype, itself the sum over its phases.
// For a stored genotype the phase terms are kept for the next counting step.
double patternprob(hfstate_t &s, int p)
{
  double prob = 0;
  const pattern_t &pt = s.patterns[p];
  const double *h = s.h.data();
  if (pt.hemi) {
    forcompletions(s, p, [&](const compview_t &v) { prob += h[v.a[0]]; });
    return prob;
  }
  forcompletions(s, p, [&](const compview_t &v) {
    double sub;
    if (v.hom) {
      sub = h[v.a[0]] * h[v.a[0]];
    } else {
      sub = 0;
      for (int t = 0; t < v.n; t++) {
        double term = 2 * h[v.a[t]] * h[v.b[t]];
        if (v.q)
          v.q[t] = term;
        sub += term;
      }
    }
    prob += sub;
  });
  // A stored genotype typed everywhere has one completion; its phases' shares
  // of the probability are the same for every record that carries it.
  if (pt.cached && pt.full && prob != 0)
    forcompletions(s, p, [&](const compview_t &v) {
      for (int t = 0; !v.hom && t < v.n; t++)
        v.q[t] = v.q[t] / prob;
    });
  return prob;
}

void genpatterns(hfstate_t &s)
{
  for (size_t p = 0; p < s.patterns.size(); p++)
    s.patterns[p].prob = patternprob(s, static_cast<int>(p));
}

void genall(hfstate_t &s, geno_t *table)
{
  genpatterns(s);
  for (int i = 0; i < s.obscom; i++)
    table[i].gprob = s.patterns[s.recpattern[i]].prob;
}

double ll(const hfstate_t &s, const geno_t *table)
{
  if (s.nmembers != 0) {
    // Classes: one term of one instance per individual, in input order, as
    // records one per individual would add them; the logarithm is taken
    // once per distinct genotype.
    std::vector<double> logs(s.patterns.size());
    for (size_t p = 0; p < s.patterns.size(); p++)
      logs[p] = log(s.patterns[p].prob);
    double diploid = 0, haploid = 0;
    for (int p : patternsof(s)) {
      if (s.patterns[p].hemi) {
        if (s.patterns[p].prob > s.epsh)
          haploid += logs[p];
      } else {
        diploid += logs[p];
      }
    }
    return diploid + haploid;
  }
  // Records of one genotype share its probability, and so its logarithm:
  // it is taken once per distinct genotype (a record whose probability was
  // set otherwise gets its own).
  std::vector<double> logs(s.patterns.size());
  std::vector<char> known(s.patterns.size(), 0);
  bool patterned = s.recpattern.size() == static_cast<size_t>(s.obscom);
  auto logof = [&](int i, double prob) {
    if (!patterned)
      return log(prob);
    int p = s.recpattern[i];
    if (s.patterns[p].prob != prob)
      return log(prob);
    if (!known[p]) {
      logs[p] = log(prob);
      known[p] = 1;
    }
    return logs[p];
  };
  double diploid = 0, haploid = 0;
  for (int i = 0; i < s.obscom; i++) {
    const geno_t &rec = table[i];
    if (rec.instances == 0)
      continue;
    if (hemizygous(s, rec)) {
      if (rec.gprob > s.epsh)
        haploid += rec.instances * logof(i, rec.gprob);
    } else {
      diploid += rec.instances * logof(i, rec.gprob);
    }
  }
  return diploid + haploid;
}
