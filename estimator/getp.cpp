// Allele counting over the individuals typed at each locus, the marker
// allele frequency table, and the start of the EM at linkage equilibrium.

#include <cstring>

#include "possible.h"

static double equilibrium(const int16_t *a)
{
  double prod = 1;
  for (int l = 0; l < nloci; l++)
    prod *= p[l][a[l] - 1];
  return prod;
}

int getp(geno_t *table)
{
  double dtally[HF_MAXLOCI], htally[HF_MAXLOCI];
  double fulld = 0;
  for (int l = 0; l < nloci; l++) {
    for (int a = 0; a < nalleles; a++) {
      p[l][a] = 0;
      pm[l][a] = 0;
    }
    dtally[l] = 0;
    htally[l] = 0;
  }
  d_msample = 0;
  h_sample = 0;
  h_msample = 0;

  for (int i = 0; i < obscom; i++) {
    const geno_t &rec = table[i];
    double n = rec.instances;
    int missing = 0;
    if (hemizygous(rec)) {
      for (int l = 0; l < nloci; l++) {
        int a = rec.allele[l];
        if (allelemissing(a, l)) {
          missing++;
          continue;
        }
        pm[l][a - 1] += n;
        htally[l] += n;
      }
      if (missing)
        h_msample = static_cast<int>(h_msample + n);
      else
        h_sample = static_cast<int>(h_sample + n);
    } else {
      for (int l = 0; l < nloci; l++) {
        int a = rec.allele[2 * l], b = rec.allele[2 * l + 1];
        if (allelemissing(a, l) || allelemissing(b, l)) {
          missing++;
          continue;
        }
        p[l][a - 1] += n;
        p[l][b - 1] += n;
        dtally[l] += n;
      }
      if (missing)
        d_msample += n;
      else
        fulld += n;
    }
  }

  // Without a typed individual a locus has no allele frequencies at all.
  for (int l = 0; l < nloci; l++)
    if (2 * dtally[l] + htally[l] == 0) {
      fflush(fo);
      fprintf(stderr, "No individual is typed at locus %d, so its allele frequencies cannot be estimated\n",
              l + 1);
      return 1;
    }

  for (int l = 0; l < nloci; l++)
    fprintf(fo, "locus %3d # individuals = %.0lf\n", l + 1, dtally[l] + htally[l]);
  fprintf(fo, "\n%.lf/%.lf individuals with F/P information\n\n", h_sample + fulld, h_msample + d_msample);
  d_sample = fulld;

  fprintf(fo, "\nMarker allele frequencies:\n\nMarker\\Allele number\n\n");
  fprintf(fo, "   ");
  for (int a = 1; a <= nalleles; a++)
    fprintf(fo, "%9d", a);
  fprintf(fo, "\n\n");
  for (int l = 0; l < nloci; l++) {
    fprintf(fo, "%2d ", l + 1);
    for (int a = 0; a < loci[l]; a++) {
      if (xdata)
        p[l][a] = (p[l][a] + pm[l][a]) / (2 * dtally[l] + htally[l]);
      else
        p[l][a] = p[l][a] / (2 * dtally[l]);
      if (p[l][a] < precis)
        fprintf(fo, "         ");
      else
        fprintf(fo, " %.6lf", p[l][a]);
    }
    fprintf(fo, "\n");
  }

  // Equilibrium frequencies: the product of the allele frequencies, locus 1
  // first. Only the haplotypes some record can carry are held.
  int16_t a[HF_MAXLOCI];
  for (size_t i = 0; i < hapk.size(); i++) {
    hapalleles(hapk[i], a);
    h0[i] = h[i] = equilibrium(a);
  }

  if (debug) {
    fprintf(fo, "\nHaplotype frequencies under linkage equilibrium\n\n");
    for (int k = 1; k <= hapall; k++) {
      hapalleles(k, a);
      double e = equilibrium(a);
      fprintf(fo, "%.6lf [%.12lf]", e, e);
      for (int l = 0; l < nloci; l++)
        fprintf(fo, " %3d", a[l]);
      fprintf(fo, " %d\n", k);
    }
  }
  return 0;
}
