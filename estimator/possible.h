// The haplotypes that some record of the sample can carry, and each
// distinct genotype's haplotype pairs, derived once and walked in every EM
// step. Only these haplotypes can have a nonzero frequency after the first
// step, so the frequency vectors h, h0, c and hm hold just them, in
// increasing haplotype number: hapk[i] is the number of entry i.
#pragma once

#include <vector>

#include "enumerate.h"

extern std::vector<int> hapk;

// Phases stored for all distinct genotypes together (16 bytes each); a
// genotype whose phases would pass this bound is enumerated afresh in every
// step instead, with the same sums in the same order.
extern size_t pairbudget;
// Up to this many haplotype numbers (hapall), a table of one bit per number
// finds the possible ones and their positions; beyond it they are sorted and
// searched.
extern size_t densebound;

// Position of a haplotype number in hapk, or -1 when no record can carry it.
int hapindex(int number);
// The alleles of a haplotype number, locus 1 first.
void hapalleles(int number, int16_t *a);

// One completion of a distinct genotype over its missing loci: a single
// haplotype (hemizygous record), a homozygous pair (hom), or n phases, each
// a pair of positions a[t], b[t] in hapk. For a stored genotype, q[t] holds
// what genall last kept of phase t (see pairq); for one enumerated afresh q
// is null and the phase terms are computed where they are needed.
struct compview_t {
  int hom;
  int n;
  const int *a;
  const int *b;
  double *q;
};

// One distinct genotype of the sample; identical records share it.
struct pattern_t {
  geno_t rec;      // the genotype (alleles and sex of its first record)
  int hemi;        // one allele per locus
  int full;        // typed at every locus
  int cached;      // completions and phases stored, not enumerated afresh
  size_t first;    // its first completion in the store
  int ncomp;       // number of completions when cached
  double prob;     // probability under the current h
};

extern std::vector<pattern_t> patterns;
extern std::vector<int> recpattern; // pattern of each record of the table

// Finds the distinct genotypes and the haplotypes they can carry, stores
// their pairs within a memory budget, and allocates h, h0, c and hm.
void buildpossible(const geno_t *table);
void freepossible();

// Calls fn(view) for each completion of pattern p, in the enumeration order
// of completions and phases.
template <class F> void forcompletions(int p, F fn);

// Implementation details of the walk.
struct comp_t {
  int hom;
  int n;
  size_t first; // first pair in the pair store
};
extern std::vector<comp_t> comps;
extern std::vector<int> pairsa, pairsb;
// Per stored phase, set by genall from the current h: the phase term
// 2 h(A) h(B); for a genotype typed at every locus, its share of the
// genotype's probability instead (the term divided by the probability).
extern std::vector<double> pairq;
// Enumerates an uncached pattern afresh, completion by completion.
void enumeratefresh(int p, void (*fn)(const compview_t &, void *), void *context);

template <class F> void forcompletions(int p, F fn)
{
  const pattern_t &pt = patterns[p];
  if (pt.cached) {
    for (int j = 0; j < pt.ncomp; j++) {
      const comp_t &cm = comps[pt.first + j];
      compview_t v = {cm.hom, cm.n, pairsa.data() + cm.first, pairsb.data() + cm.first,
                      pairq.data() + cm.first};
      fn(v);
    }
    return;
  }
  enumeratefresh(
      p, [](const compview_t &v, void *context) { (*static_cast<F *>(context))(v); }, &fn);
}
