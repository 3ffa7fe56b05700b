// The data preparation tool phf as a library: the selected loci of a TRELIX
// data set written as input for the haplotype estimator hf, individuals with
// the same genotypes at those loci collapsed into one counted record. The
// calls work on the trelix_t they are given and, as the readers, return a
// code and leave the message in it; the program (main.cpp) prints.
#pragma once

#include <cstdio>

#include "txlib.h"

// One distinct multilocus genotype at the selected loci.
struct grp_t {
  int count;                      // individuals, ncase + nctrl
  int ncase;                      // of them labelled 1
  int nctrl;                      // of them labelled 0
  int pair[TX_MAXLOCI][2];        // pairs of the group's last individual
};

// The first line of the output: the allele count of every selected locus.
void phf_header(const trelix_t &tx, FILE *out);

// Reads the data file (tx_read_data) after the parameter file. An output
// without a single genotype record is no input for hf: TX_EDATA when the
// file holds no record, or none typed at a selected locus.
int phf_read(trelix_t &tx, const char *path, int &skipped);

// Collapses the sorted list into one record per run of individuals with
// the same codes at the selected loci and writes them to out; ngroups is
// their number, 0 for an empty list. TX_ENOMEM when memory runs out.
int phf_collapse(trelix_t &tx, FILE *out, int &ngroups);
