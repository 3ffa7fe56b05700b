// Posterior assignment: for every record, the haplotype pairs (or, for
// hemizygous records, the haplotypes) compatible with it whose posterior
// probability exceeds the cutoff pl. Records without missing alleles also
// enter every haplotype they can carry into the possible-haplotype tree.

#include "possible.h"

namespace {

// One listed haplotype, given by its position in hapk.
void printhap(int id, int chromosome, int pos, double prob)
{
  int16_t a[HF_MAXLOCI];
  hapalleles(hapk[pos], a);
  fprintf(fo, "%5d [%d]", id, chromosome);
  for (int l = 0; l < nloci; l++)
    fprintf(fo, " %2d", a[l]);
  fprintf(fo, " %lf %ld\n", prob, static_cast<long>(hapk[pos]));
}

// The tree serves only the listing of possible haplotypes, printed when
// debug is set; otherwise it is not built.
void insert(int pos)
{
  if (!debug)
    return;
  int16_t a[HF_MAXLOCI];
  hapalleles(hapk[pos], a);
  hrt = hitree(hrt, hapk[pos], a);
}

void singles(const geno_t &rec, int p)
{
  if (patterns[p].full) {
    forcompletions(p, [&](const compview_t &v) {
      printhap(rec.id, 1, v.a[0], 1.0);
      insert(v.a[0]);
    });
    return;
  }
  double P = 0;
  forcompletions(p, [&](const compview_t &v) { P += h[v.a[0]]; });
  forcompletions(p, [&](const compview_t &v) {
    double prob = P == 0 ? 0 : h[v.a[0]] / P;
    if (prob > pl)
      printhap(rec.id, 1, v.a[0], prob);
  });
}

// The pairs of every completion of a two-allele record, in the order of
// completions and phases; each unordered pair once. A record without
// missing alleles lists its homozygous genotype whatever the cutoff, and
// enters all its pairs into the tree.
void pairs(const geno_t &rec, int p)
{
  bool complete = patterns[p].full;
  double P = rec.gprob;
  forcompletions(p, [&](const compview_t &v) {
    if (v.hom) {
      int k = v.a[0];
      if (complete) {
        printhap(rec.id, 1, k, 1.0);
        printhap(rec.id, 2, k, 1.0);
        insert(k);
        insert(k);
      } else {
        double prob = P == 0 ? 0 : h[k] * h[k] / P;
        if (prob > pl) {
          printhap(rec.id, 1, k, prob);
          printhap(rec.id, 2, k, prob);
        }
      }
      return;
    }
    for (int t = 0; t < v.n; t++) {
      int k1 = v.a[t], k2 = v.b[t];
      double prob = P == 0 ? 0 : 2 * h[k1] * h[k2] / P;
      if (prob > pl) {
        printhap(rec.id, 1, k1, prob);
        printhap(rec.id, 2, k2, prob);
      }
      if (complete) {
        insert(k1);
        insert(k2);
      }
    }
  });
}

} // namespace

void ch(geno_t *table)
{
  fprintf(fo, "\nAssignment of haplotypes by posterior probabilities\n");
  fprintf(fo, "(ID[chromosome] haplotype, probability[cutoff=%lf] id)\n\n", pl);
  for (int i = 0; i < obscom; i++) {
    // The globals of missing loci describe the record in hand.
    completion_t cp;
    if (hemizygous(table[i])) {
      firstsingle(table[i], cp);
      singles(table[i], recpattern[i]);
    } else {
      firstpair(table[i], cp);
      pairs(table[i], recpattern[i]);
    }
  }
}
