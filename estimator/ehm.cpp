// Haplotype counting: the EM that shares each individual's haplotype copies
// out over the haplotype pairs compatible with its genotype, and its report.

#include <cmath>
#include <cstring>

#include "possible.h"

namespace {

// Adds to hm the expected haplotype copies of a two-allele record with
// missing loci, shared out over its completions and their phases.
void countpartial(const geno_t &rec, int p)
{
  double total = rec.gprob;
  double u = total == 0 ? 0 : rec.instances / total;
  forcompletions(p, [&](const compview_t &v) {
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
void counthaploid(const geno_t &rec, int p)
{
  if (patterns[p].full) {
    forcompletions(p, [&](const compview_t &v) { c[v.a[0]] += rec.instances; });
    return;
  }
  double total = rec.gprob;
  double u = total == 0 ? 0 : rec.instances / total;
  forcompletions(p, [&](const compview_t &v) { hm[v.a[0]] += h[v.a[0]] * u; });
}

} // namespace

void counting(geno_t *table, int i)
{
  const geno_t &rec = table[i];
  double w = rec.instances;
  // The probability of the genotype under the current h is the sum of its
  // phase terms, which the record holds already.
  double total = rec.gprob;
  forcompletions(recpattern[i], [&](const compview_t &v) {
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

void geth(geno_t *table)
{
  int n = static_cast<int>(hapk.size());
  for (int k = 0; k < n; k++) {
    c[k] = 0;
    hm[k] = 0;
  }
  for (int i = 0; i < obscom; i++) {
    const geno_t &rec = table[i];
    int p = recpattern[i];
    if (patterns[p].hemi)
      counthaploid(rec, p);
    else if (patterns[p].full)
      counting(table, i);
    else
      countpartial(rec, p);
  }
  double msum = 0;
  for (int k = 0; k < n; k++)
    msum += hm[k];
  double copies = 2 * d_sample + msum + h_sample;
  for (int k = 0; k < n; k++)
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

  genall(table);
  double l0 = ll(table);
  fprintf(fo, "\nlog-likelihood assuming linkage equilibrium %.2lf\n", l0);
  fprintf(fo, "# parameters %d (%d, by # of specified alleles)\n\n", eqseen, eqspec);

  int iteration = 1;
  double previous = l0, l1 = l0;
  for (;;) {
    geth(table);
    fprintf(fo, "Iteration %3d, ", iteration);
    iteration++;
    genall(table);
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

  // Haplotypes that no record can carry have frequency 0 after the first
  // step, so the table walks the possible ones in number order.
  long rows = 0;
  int16_t a[HF_MAXLOCI];
  for (size_t i = 0; i < hapk.size(); i++) {
    double h1 = h[i];
    if (h1 > epsh) {
      double e0 = h0[i];
      double ft = sqrt(h1 * n) + sqrt(h1 * n + 1) - sqrt(4 * e0 * n + 1);
      fprintf(fo, " %.6lf %.12lf %.6lf %6.2lf", h1, h1, e0, ft);
      hapalleles(hapk[i], a);
      for (int l = 0; l < nloci; l++)
        fprintf(fo, "%3d", a[l]);
      fprintf(fo, " %d\n", hapk[i]);
      rows++;
    }
  }
  fprintf(fo, "\nNumber of nonzero haplotypes = %ld\n\n", rows);
  nhaplotypes = static_cast<int>(rows);
  return 0;
}
