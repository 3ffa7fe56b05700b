// Genotype probabilities under the current haplotype frequencies h, and the
// sample log-likelihood.

#include <cmath>
#include <cstring>

#include "enumerate.h"

double phasep(const int16_t *a1, const int16_t *a2)
{
  int het[HF_MAXLOCI];
  int m = hetloci(a1, a2, het);
  if (m == 0) {
    int k = linenum(loci, a1);
    return h[k - 1] * h[k - 1];
  }
  int16_t digits[HF_MAXLOCI + 1];
  memset(digits, 0, sizeof digits);
  int16_t A[HF_MAXLOCI], B[HF_MAXLOCI];
  double sum = 0;
  int n = nphases(m);
  for (int t = 0; t < n; t++) {
    phasepair(a1, a2, het, m, digits, A, B);
    sum += 2 * h[linenum(loci, A) - 1] * h[linenum(loci, B) - 1];
    digit2(1, digits, 0);
  }
  return sum;
}

double genp(geno_t *table, int i)
{
  geno_t &rec = table[i];
  completion_t cp;
  double prob = 0;
  if (hemizygous(rec)) {
    if (firstsingle(rec, cp) == 0) {
      prob = h[linenum(loci, cp.a1) - 1];
    } else {
      do
        prob += h[linenum(loci, cp.a1) - 1];
      while (nextsingle(cp));
    }
  } else {
    if (firstpair(rec, cp) == 0) {
      prob = phasep(cp.a1, cp.a2);
    } else {
      do
        prob += phasep(cp.a1, cp.a2);
      while (nextpair(cp));
    }
  }
  rec.gprob = prob;
  return prob;
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
