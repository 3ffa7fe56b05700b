// The haplotypes again, by decreasing frequency under linkage
// disequilibrium, with running sums and the Freeman-Tukey deviate.

#include <cmath>
#include <cstring>

#include "possible.h"

// Quicksort with the first record of the range as pivot. Each record of
// higher frequency is rotated in front of the pivot; the order of equal
// frequencies that results is part of the report. The two parts are
// independent, so the smaller is sorted by recursion and the larger in the
// loop: the stack stays shallow and the result is the same.
void qsorts(int lo, int hi)
{
  while (lo < hi) {
    int b = lo;
    for (int i = lo + 1; i <= hi; i++)
      if (haplotypes[i].h1 > haplotypes[b].h1) {
        haplotype_t = haplotypes[i];
        haplotypes[i] = haplotypes[b + 1];
        haplotypes[b + 1] = haplotypes[b];
        haplotypes[b] = haplotype_t;
        b++;
      }
    if (b - lo < hi - b) {
      qsorts(lo, b - 1);
      lo = b + 1;
    } else {
      qsorts(b + 1, hi);
      hi = b - 1;
    }
  }
}

void sortedreport()
{
  haplotypes = static_cast<hap_t *>(xmalloc(sizeof(hap_t) * (nhaplotypes > 0 ? nhaplotypes : 1)));
  int filled = 0;
  for (size_t i = 0; i < hapk.size(); i++) {
    if (h[i] > epsh && filled < nhaplotypes) {
      hap_t &t = haplotypes[filled++];
      t.id = hapk[i];
      t.h0 = h0[i];
      t.h1 = h[i];
      hapalleles(hapk[i], t.allele);
    }
  }
  qsorts(0, filled - 1);

  double n = 2 * (d_sample + d_msample) + (h_sample + h_msample);
  double sum0 = 0, sum1 = 0;
  fprintf(fo, "Haplotype frequency estimates by decreasing order\n\n");
  fprintf(fo, "    h1    accumul.    h0    accumul.     FT haplotypes/id\n\n");
  for (int i = 0; i < filled; i++) {
    const hap_t &t = haplotypes[i];
    sum0 += t.h0;
    sum1 += t.h1;
    double ft = sqrt(t.h1 * n) + sqrt(t.h1 * n + 1) - sqrt(4 * t.h0 * n + 1);
    fprintf(fo, " %.6lf %.6lf %.6lf %.6lf %6.2lf", t.h1, sum1, t.h0, sum0, ft);
    for (int l = 0; l < nloci; l++)
      fprintf(fo, "%3d", t.allele[l]);
    fprintf(fo, " %d\n", t.id);
  }
  free(haplotypes);
  haplotypes = nullptr;
}
