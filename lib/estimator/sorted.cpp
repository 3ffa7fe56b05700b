// The haplotypes again, by decreasing frequency under linkage
// disequilibrium, with running sums and the Freeman-Tukey deviate.

#include <cmath>

#include "possible.h"
#include "report.h"

// Quicksort with the first record of the range as pivot. Each record of
// higher frequency is rotated in front of the pivot; the order of equal
// frequencies that results is part of the report. The two parts are
// independent, so the smaller is sorted by recursion and the larger in the
// loop: the stack stays shallow and the result is the same.
void qsorts(hfstate_t &s, int lo, int hi)
{
  hap_t *haplotypes = s.haplotypes.data();
  while (lo < hi) {
    int b = lo;
    for (int i = lo + 1; i <= hi; i++)
      if (haplotypes[i].h1 > haplotypes[b].h1) {
        s.haplotype_t = haplotypes[i];
        haplotypes[i] = haplotypes[b + 1];
        haplotypes[b + 1] = haplotypes[b];
        haplotypes[b] = s.haplotype_t;
        b++;
      }
    if (b - lo < hi - b) {
      qsorts(s, lo, b - 1);
      lo = b + 1;
    } else {
      qsorts(s, b + 1, hi);
      hi = b - 1;
    }
  }
}

void sortedreport(hfstate_t &s, repout_t &o)
{
  s.haplotypes.assign(static_cast<size_t>(s.nhaplotypes > 0 ? s.nhaplotypes : 0), hap_t());
  int filled = 0;
  for (size_t i = 0; i < s.hapk.size(); i++) {
    if (s.h[i] > s.epsh && filled < s.nhaplotypes) {
      hap_t &t = s.haplotypes[filled++];
      t.id = s.hapk[i];
      t.h0 = s.h0[i];
      t.h1 = s.h[i];
      hapalleles(s, s.hapk[i], t.allele);
    }
  }
  qsorts(s, 0, filled - 1);

  double n = 2 * (s.d_sample + s.d_msample) + (s.h_sample + s.h_msample);
  double sum0 = 0, sum1 = 0;
  o.text("Haplotype frequency estimates by decreasing order\n\n");
  o.text("    h1    accumul.    h0    accumul.     FT haplotypes/id\n\n");
  for (int i = 0; i < filled; i++) {
    const hap_t &t = s.haplotypes[i];
    sum0 += t.h0;
    sum1 += t.h1;
    double ft = sqrt(t.h1 * n) + sqrt(t.h1 * n + 1) - sqrt(4 * t.h0 * n + 1);
    o.ch(' ');
    o.fixed(t.h1, 6);
    o.ch(' ');
    o.fixed(sum1, 6);
    o.ch(' ');
    o.fixed(t.h0, 6);
    o.ch(' ');
    o.fixed(sum0, 6);
    o.ch(' ');
    o.fixed(ft, 2, 6);
    for (int l = 0; l < s.nloci; l++)
      o.integer(t.allele[l], 3);
    o.ch(' ');
    o.integer(t.id);
    o.ch('\n');
  }
  s.haplotypes = std::vector<hap_t>();
}
