// Allele counting over the individuals typed at each locus, the marker
// allele frequencies, and the start of the EM at linkage equilibrium.

#include "possible.h"

double equilibrium(const hfstate_t &s, const int16_t *a)
{
  double prod = 1;
  for (int l = 0; l < s.nloci; l++)
    prod *= s.p[l][a[l] - 1];
  return prod;
}

int getp(hfstate_t &s, geno_t *table)
{
  double *dtally = s.dtally, *htally = s.htally;
  double fulld = 0;
  for (int l = 0; l < s.nloci; l++) {
    for (int a = 0; a < s.nalleles; a++) {
      s.p[l][a] = 0;
      s.pm[l][a] = 0;
    }
    dtally[l] = 0;
    htally[l] = 0;
  }
  s.d_msample = 0;
  s.h_sample = 0;
  s.h_msample = 0;

  for (int i = 0; i < s.obscom; i++) {
    const geno_t &rec = table[i];
    double n = rec.instances;
    int missing = 0;
    if (hemizygous(s, rec)) {
      for (int l = 0; l < s.nloci; l++) {
        int a = rec.allele[l];
        if (allelemissing(s, a, l)) {
          missing++;
          continue;
        }
        s.pm[l][a - 1] += n;
        htally[l] += n;
      }
      if (missing)
        s.h_msample = static_cast<int>(s.h_msample + n);
      else
        s.h_sample = static_cast<int>(s.h_sample + n);
    } else {
      for (int l = 0; l < s.nloci; l++) {
        int a = rec.allele[2 * l], b = rec.allele[2 * l + 1];
        if (allelemissing(s, a, l) || allelemissing(s, b, l)) {
          missing++;
          continue;
        }
        s.p[l][a - 1] += n;
        s.p[l][b - 1] += n;
        dtally[l] += n;
      }
      if (missing)
        s.d_msample += n;
      else
        fulld += n;
    }
  }

  // Without a typed individual a locus has no allele frequencies at all.
  for (int l = 0; l < s.nloci; l++)
    if (2 * dtally[l] + htally[l] == 0)
      return hf_fail(s, HF_EDATA,
                     "No individual is typed at locus %d, so its allele frequencies cannot be estimated\n", l + 1);

  s.fulld = fulld;
  s.d_sample = fulld;
  for (int l = 0; l < s.nloci; l++)
    for (int a = 0; a < s.loci[l]; a++) {
      if (s.xdata)
        s.p[l][a] = (s.p[l][a] + s.pm[l][a]) / (2 * dtally[l] + htally[l]);
      else
        s.p[l][a] = s.p[l][a] / (2 * dtally[l]);
    }

  // Equilibrium frequencies: the product of the allele frequencies, locus 1
  // first. Only the haplotypes some record can carry are held.
  int16_t a[HF_MAXLOCI];
  for (size_t i = 0; i < s.hapk.size(); i++) {
    hapalleles(s, s.hapk[i], a);
    s.h0[i] = s.h[i] = equilibrium(s, a);
  }
  return HF_OK;
}
