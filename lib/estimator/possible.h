// The haplotypes that some record of the sample can carry, and each
// distinct genotype's haplotype pairs, derived once and walked in every EM
// step. Only these haplotypes can have a nonzero frequency after the first
// step, so the frequency vectors h, h0, c and hm hold just them, in
// increasing haplotype number: hapk[i] is the number of entry i.
#pragma once

#include <vector>

#include "enumerate.h"

// Position of a haplotype number in hapk, or -1 when no record can carry it.
int hapindex(const hfstate_t &s, int number);
// The alleles of a haplotype number, locus 1 first.
void hapalleles(const hfstate_t &s, int number, int16_t *a);

// Finds the distinct genotypes of the records of table (which patterns name
// by index: it must outlive the estimate) and the haplotypes they can carry,
// stores their pairs within the memory budget, and allocates h, h0, c, hm.
void buildpossible(hfstate_t &s, const geno_t *table);
void freepossible(hfstate_t &s);

// Calls fn(view) for each completion of pattern p, in the enumeration order
// of completions and phases.
template <class F> void forcompletions(hfstate_t &s, int p, F fn);

// Enumerates an uncached pattern afresh, completion by completion.
void enumeratefresh(hfstate_t &s, int p, void (*fn)(const compview_t &, void *), void *context);

template <class F> void forcompletions(hfstate_t &s, int p, F fn)
{
  const pattern_t &pt = s.patterns[p];
  if (pt.cached) {
    for (int j = 0; j < pt.ncomp; j++) {
      const comp_t &cm = s.comps[pt.first + j];
      compview_t v = {cm.hom, cm.n, s.pairsa.data() + cm.first, s.pairsb.data() + cm.first,
                      s.pairq.data() + cm.first};
      fn(v);
    }
    return;
  }
  enumeratefresh(
      s, p, [](const compview_t &v, void *context) { (*static_cast<F *>(context))(v); }, &fn);
}
