// Haplotype counting: the EM that shares each individual's haplotype copies
// out over the haplotype pairs compatible with its genotype, and its report.

#include <cmath>
#include <cstring>

#include "enumerate.h"

namespace {

// Adds to hm the expected haplotype copies of a two-allele record with
// missing loci, shared out over its completions and their phases.
void countpartial(const geno_t &rec)
{
  completion_t cp;
  firstpair(rec, cp);
  double total = 0;
  do
    total += phasep(cp.a1, cp.a2);
  while (nextpair(cp));
  double u = total == 0 ? 0 : rec.instances / total;

  int het[HF_MAXLOCI];
  int16_t digits[HF_MAXLOCI + 1], A[HF_MAXLOCI], B[HF_MAXLOCI];
  firstpair(rec, cp);
  do {
    int m = hetloci(cp.a1, cp.a2, het);
    if (m == 0) {
      int k = linenum(loci, cp.a1) - 1;
      hm[k] += 2 * h[k] * h[k] * u;
      continue;
    }
    memset(digits, 0, sizeof digits);
    int n = nphases(m);
    for (int t = 0; t < n; t++) {
      phasepair(cp.a1, cp.a2, het, m, digits, A, B);
      int ka = linenum(loci, A) - 1, kb = linenum(loci, B) - 1;
      double share = 2 * h[ka] * h[kb] * u;
      hm[ka] += share;
      hm[kb] += share;
      digit2(1, digits, 0);
    }
  } while (nextpair(cp));
}

// A hemizygous record: one haplotype copy per individual.
void counthaploid(const geno_t &rec)
{
  completion_t cp;
  if (firstsingle(rec, cp) == 0) {
    c[linenum(loci, cp.a1) - 1] += rec.instances;
    return;
  }
  double total = 0;
  do
    total += h[linenum(loci, cp.a1) - 1];
  while (nextsingle(cp));
  double u = total == 0 ? 0 : rec.instances / total;
  firstsingle(rec, cp);
  do {
    int k = linenum(loci, cp.a1) - 1;
    hm[k] += h[k] * u;
  } while (nextsingle(cp));
}

bool fullytyped(const geno_t &rec)
{
  for (int l = 0; l < nloci; l++)
    if (allelemissing(rec.allele[2 * l], l) || allelemissing(rec.allele[2 * l + 1], l))
      return false;
  return true;
}

} // namespace

void counting(geno_t *table, int i)
{
  const geno_t &rec = table[i];
  int16_t a1[HF_MAXLOCI], a2[HF_MAXLOCI];
  for (int l = 0; l < nloci; l++) {
    a1[l] = rec.allele[2 * l];
    a2[l] = rec.allele[2 * l + 1];
  }
  double w = rec.instances;
  int het[HF_MAXLOCI];
  int m = hetloci(a1, a2, het);
  if (m == 0) {
    c[linenum(loci, a1) - 1] += 2 * w;
    return;
  }
  int16_t digits[HF_MAXLOCI + 1], A[HF_MAXLOCI], B[HF_MAXLOCI];
  int n = nphases(m);
  double total = 0;
  memset(digits, 0, sizeof digits);
  for (int t = 0; t < n; t++) {
    phasepair(a1, a2, het, m, digits, A, B);
    total += 2 * h[linenum(loci, A) - 1] * h[linenum(loci, B) - 1];
    digit2(1, digits, 0);
  }
  // A genotype that none of the current haplotypes can make (possible only
  // when it carries no weight in the estimate) contributes nothing.
  if (total == 0)
    return;
  memset(digits, 0, sizeof digits);
  for (int t = 0; t < n; t++) {
    phasepair(a1, a2, het, m, digits, A, B);
    int ka = linenum(loci, A) - 1, kb = linenum(loci, B) - 1;
    double share = 2 * h[ka] * h[kb] / total;
    c[ka] += share * w;
    c[kb] += share * w;
    digit2(1, digits, 0);
  }
}

void geth(geno_t *table)
{
  for (int k = 0; k < hapall; k++) {
    c[k] = 0;
    hm[k] = 0;
  }
  for (int i = 0; i < obscom; i++) {
    const geno_t &rec = table[i];
    if (hemizygous(rec))
      counthaploid(rec);
    else if (fullytyped(rec))
      counting(table, i);
    else
      countpartial(rec);
  }
  double msum = 0;
  for (int k = 0; k < hapall; k++)
    msum += hm[k];
  double copies = 2 * d_sample + msum + h_sample;
  for (int k = 0; k < hapall; k++)
    h[k] = (c[k] + hm[k]) / copies;
}

bool emdone(double gain, int steps)
{
  return !(gain > 0.01) || steps >= 50;
}

int ehm(geno_t *table)
{
  hapall = 1;
  int eqspec = 0;
  for (int l = 0; l < nloci; l++) {
    hapall *= loci[l];
    eqspec += loci[l] - 1;
  }
  int dispec = hapall - 1;

  if (getp(table) != 0)
    return 1;

  int eqseen = 0, seenproduct = 1;
  for (int l = 0; l < nloci; l++) {
    int seen = 0;
    for (int a = 0; a < loci[l]; a++)
      if (p[l][a] >= precis)
        seen++;
    eqseen += seen - 1;
    seenproduct *= seen;
  }
  int disseen = seenproduct - 1;

  for (int i = 0; i < obscom; i++)
    genp(table, i);
  double l0 = ll(table);
  fprintf(fo, "\nlog-likelihood assuming linkage equilibrium %.2lf\n", l0);
  fprintf(fo, "# parameters %d (%d, by # of specified alleles)\n\n", eqseen, eqspec);

  int iteration = 1;
  double previous = l0, l1 = l0;
  for (;;) {
    geth(table);
    fprintf(fo, "Iteration %3d, ", iteration);
    iteration++;
    for (int i = 0; i < obscom; i++)
      genp(table, i);
    l1 = ll(table);
    fprintf(fo, "log-likelihood=%.2lf\n", l1);
    double gain = l1 - previous;
    previous = l1;
    if (emdone(gain, iteration - 1))
      break;
  }

  fprintf(fo, "\nlog-likelihood assuming linkage disequilibrium =%.2lf\n", l1);
  fprintf(fo, "# parameters %d (%d, by # of specified alleles)\n", disseen, dispec);
  fprintf(fo, "\nTest of marker-marker disequilibrium, chi-square=%.2lf\n", 2 * (l1 - l0));
  fprintf(fo, "degree(s) of freedom = %d (%d, by # of specified alleles) \n", disseen - eqseen, dispec - eqspec);

  double n = 2 * (d_sample + d_msample) + (h_sample + h_msample);
  fprintf(fo, "\nHaplotype frequency estimates and Freeman-Tukey statistic (FT)\n\n");
  fprintf(fo, " n = number of haplotypes (%.0lf) in the sample\n", n);
  fprintf(fo, "h1 = frequencies under linkage disequilibrium (>%lf)\n", epsh);
  fprintf(fo, "h0 = frequencies under linkage equilibrium\n");
  fprintf(fo, "FT = sqrt(h1*n)+sqrt(h1*n+1)-sqrt(4*h0+1)\n");
  fprintf(fo, "\n       h1             h1       h0     FT  haplotype/id\n\n");

  int16_t maxima[HF_MAXLOCI + 1], digits[HF_MAXLOCI + 1];
  for (int i = 0; i < nloci; i++)
    maxima[i] = static_cast<int16_t>(loci[nloci - 1 - i] - 1);
  maxima[nloci] = 1;
  memset(digits, 0, sizeof digits);
  long rows = 0;
  for (int k = 1; k <= hapall; k++) {
    double h1 = h[k - 1];
    if (h1 > epsh) {
      double e0 = h0[k - 1];
      double ft = sqrt(h1 * n) + sqrt(h1 * n + 1) - sqrt(4 * e0 * n + 1);
      fprintf(fo, " %.6lf %.12lf %.6lf %6.2lf", h1, h1, e0, ft);
      for (int l = 0; l < nloci; l++)
        fprintf(fo, "%3d", digits[nloci - 1 - l] + 1);
      fprintf(fo, " %d\n", k);
      rows++;
    }
    digitm(maxima, digits, 0);
  }
  fprintf(fo, "\nNumber of nonzero haplotypes = %ld\n\n", rows);
  nhaplotypes = static_cast<int>(rows);
  return 0;
}
