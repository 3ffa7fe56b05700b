// Posterior assignment: for every record, the haplotype pairs (or, for
// hemizygous records, the haplotypes) compatible with it whose posterior
// probability exceeds the cutoff pl. Records without missing alleles also
// enter every haplotype they can carry into the possible-haplotype tree.

#include <cstring>

#include "enumerate.h"

namespace {

void printhap(int id, int chromosome, const int16_t *a, double prob, long number)
{
  fprintf(fo, "%5d [%d]", id, chromosome);
  for (int l = 0; l < nloci; l++)
    fprintf(fo, " %2d", a[l]);
  fprintf(fo, " %lf %ld\n", prob, number);
}

void insert(int key, const int16_t *a)
{
  hrt = hitree(hrt, key, a);
}

// The pairs of one complete two-allele genotype. P is the record's
// probability; complete is true for a record without missing alleles,
// whose homozygous genotype is listed whatever the cutoff and whose pairs
// all enter the tree.
void pairs(int id, const int16_t *a1, const int16_t *a2, double P, bool complete)
{
  int het[HF_MAXLOCI];
  int n = hetloci(a1, a2, het);
  if (n == 0) {
    int k = linenum(loci, a1);
    if (complete) {
      printhap(id, 1, a1, 1.0, k);
      printhap(id, 2, a1, 1.0, k);
      insert(k, a1);
      insert(k, a1);
    } else {
      double prob = P == 0 ? 0 : hfreq(k) * hfreq(k) / P;
      if (prob > pl) {
        printhap(id, 1, a1, prob, k);
        printhap(id, 2, a1, prob, k);
      }
    }
    return;
  }
  int16_t digits[HF_MAXLOCI + 1], A[HF_MAXLOCI], B[HF_MAXLOCI];
  memset(digits, 0, sizeof digits);
  int count = nphases(n);
  for (int q = 0; q < count; q++) {
    phasepair(a1, a2, het, n, digits, A, B);
    int k1 = linenum(loci, A), k2 = linenums(loci, B);
    double prob = P == 0 ? 0 : 2 * hfreq(k1) * hfreq(k2) / P;
    if (prob > pl) {
      printhap(id, 1, A, prob, k1);
      printhap(id, 2, B, prob, k2);
    }
    if (complete) {
      insert(k1, A);
      insert(k2, B);
    }
    digit2(1, digits, 0);
  }
}

void singles(const geno_t &rec)
{
  completion_t cp;
  if (firstsingle(rec, cp) == 0) {
    int k = linenum(loci, cp.a1);
    printhap(rec.id, 1, cp.a1, 1.0, k);
    insert(k, cp.a1);
    return;
  }
  double P = 0;
  do
    P += hfreq(linenum(loci, cp.a1));
  while (nextsingle(cp));
  firstsingle(rec, cp);
  do {
    int k = linenum(loci, cp.a1);
    double prob = P == 0 ? 0 : hfreq(k) / P;
    if (prob > pl)
      printhap(rec.id, 1, cp.a1, prob, k);
  } while (nextsingle(cp));
}

} // namespace

void ch(geno_t *table)
{
  fprintf(fo, "\nAssignment of haplotypes by posterior probabilities\n");
  fprintf(fo, "(ID[chromosome] haplotype, probability[cutoff=%lf] id)\n\n", pl);
  for (int i = 0; i < obscom; i++) {
    const geno_t &rec = table[i];
    if (hemizygous(rec)) {
      singles(rec);
      continue;
    }
    completion_t cp;
    if (firstpair(rec, cp) == 0) {
      pairs(rec.id, cp.a1, cp.a2, rec.gprob, true);
      continue;
    }
    do
      pairs(rec.id, cp.a1, cp.a2, rec.gprob, false);
    while (nextpair(cp));
  }
}
