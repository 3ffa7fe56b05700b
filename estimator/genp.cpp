// Genotype probabilities under the current haplotype frequencies h, and the
// sample log-likelihood.

#include <cmath>
#include <cstring>

#include "possible.h"

double hfreq(int number)
{
  int i = hapindex(number);
  return i < 0 ? 0 : h[i];
}

double hfreq0(int number)
{
  int i = hapindex(number);
  return i < 0 ? 0 : h0[i];
}

double phasep(const int16_t *a1, const int16_t *a2)
{
  int het[HF_MAXLOCI];
  int m = hetloci(a1, a2, het);
  if (m == 0) {
    double f = hfreq(linenum(loci, a1));
    return f * f;
  }
  int16_t digits[HF_MAXLOCI + 1];
  memset(digits, 0, sizeof digits);
  int16_t A[HF_MAXLOCI], B[HF_MAXLOCI];
  double sum = 0;
  int n = nphases(m);
  for (int t = 0; t < n; t++) {
    phasepair(a1, a2, het, m, digits, A, B);
    sum += 2 * hfreq(linenum(loci, A)) * hfreq(linenum(loci, B));
    digit2(1, digits, 0);
  }
  return sum;
}

// The probability of a distinct genotype: the sum over its completions of
// the probability of each complete genotype, itself the sum over its phases.
// For a stored genotype the phase terms are kept for the next counting step.
static double patternprob(int p)
{
  double prob = 0;
  const pattern_t &pt = patterns[p];
  if (pt.hemi) {
    forcompletions(p, [&](const compview_t &v) { prob += h[v.a[0]]; });
    return prob;
  }
  forcompletions(p, [&](const compview_t &v) {
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
    forcompletions(p, [&](const compview_t &v) {
      for (int t = 0; !v.hom && t < v.n; t++)
        v.q[t] = v.q[t] / prob;
    });
  return prob;
}

void genall(geno_t *table)
{
  for (size_t p = 0; p < patterns.size(); p++)
    patterns[p].prob = patternprob(static_cast<int>(p));
  for (int i = 0; i < obscom; i++)
    table[i].gprob = patterns[recpattern[i]].prob;
}

double ll(const geno_t *table)
{
  double diploid = 0, haploid = 0;
  for (int i = 0; i < obscom; i++) {
    const geno_t &rec = table[i];
    if (rec.instances == 0)
      continue;
    if (hemizygous(rec)) {
      if (rec.gprob > epsh)
        haploid += rec.instances * log(rec.gprob);
    } else {
      diploid += rec.instances * log(rec.gprob);
    }
  }
  return diploid + haploid;
}
