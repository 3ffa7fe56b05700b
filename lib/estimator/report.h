// The sections of the estimator's report, written through repout_t.
#pragma once

#include "hf.h"
#include "repout.h"

// Individuals per locus, the F/P line, the marker allele frequencies (and,
// with debug, every haplotype's frequency under linkage equilibrium).
void countsreport(const hfstate_t &s, repout_t &o);
// The log-likelihoods, the iterations, the test and the haplotype table.
void emreport(const hfstate_t &s, repout_t &o);
// The table by decreasing frequency; qsorts orders s.haplotypes[lo..hi].
void qsorts(hfstate_t &s, int lo, int hi);
void sortedreport(hfstate_t &s, repout_t &o);
// The posterior assignment; with debug it fills the possible-haplotype tree.
void ch(hfstate_t &s, geno_t *table, repout_t &o);

// Possible-haplotype tree.
hnode_t *hitree(const hfstate_t &s, hnode_t *root, int key, const int16_t *a);
void hptree(const hfstate_t &s, hnode_t *root, int *counter, repout_t &o);
void hrtree(hnode_t *root);
