// The enumerations that the probabilities, the counting step and the
// posterior assignment all walk in the same order.
#pragma once

#include "hf.h"

// Heterozygous loci of a complete two-allele genotype (a1[l] != a2[l]), in
// increasing locus order; returns their number.
int hetloci(const hfstate_t &s, const int16_t *a1, const int16_t *a2, int *het);

// Phase t of a genotype with m >= 1 heterozygous loci, given the 0/1 digits of
// t over the first m - 1 of them (first heterozygous locus lowest): A starts as
// the first alleles and B as the second, and the alleles are exchanged at every
// heterozygous locus whose digit is 1. The last one is never exchanged, so each
// unordered pair of haplotypes is met once over t = 0 .. 2^(m-1) - 1.
void phasepair(const hfstate_t &s, const int16_t *a1, const int16_t *a2, const int *het, int m, const int16_t *digits,
               int16_t *A, int16_t *B);

// Number of phases of a genotype with m >= 1 heterozygous loci: 2^(m-1).
int nphases(int m);

// Completions of a two-allele genotype over its missing loci. Each missing
// locus of n alleles runs through the unordered pairs (1,1), (1,2), (2,2),
// (1,3), (2,3), (3,3), ... up to (n,n), smaller allele first; the last
// missing locus changes fastest. The typed loci keep the record's alleles.
struct completion_t {
  int nmiss;
  int miss[HF_MAXLOCI];   // the missing loci, in locus order
  int16_t a1[HF_MAXLOCI]; // completed first (smaller) alleles
  int16_t a2[HF_MAXLOCI]; // completed second (larger) alleles
};
// Sets up the first completion of a two-allele record; missing loci are
// recorded in idm, locim and nlocim of the state as well. Returns the number
// of missing loci.
int firstpair(hfstate_t &s, const geno_t &rec, completion_t &cp);
// Moves to the next completion; false after the last one.
bool nextpair(const hfstate_t &s, completion_t &cp);

// The same for a one-allele record: every missing locus runs through its
// alleles 1 .. n, the last missing locus fastest; the completed haplotype is a1.
int firstsingle(hfstate_t &s, const geno_t &rec, completion_t &cp);
bool nextsingle(const hfstate_t &s, completion_t &cp);

// A two-allele locus is missing unless both alleles lie in 1 .. its allele
// count; a one-allele locus unless its allele does.
inline bool allelemissing(const hfstate_t &s, int a, int l)
{
  return a < 1 || a > s.loci[l];
}

// A record of X data with sex 0 carries one allele per locus.
inline bool hemizygous(const hfstate_t &s, const geno_t &rec)
{
  return s.xdata && rec.sex == 0;
}
