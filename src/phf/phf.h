// The data preparation tool phf: the selected loci of a TRELIX data set
// written as input for the haplotype estimator hf, individuals with the same
// genotypes at those loci collapsed into one counted record.
#pragma once

#include <cstdio>

#include "trelix.h"

// One distinct multilocus genotype at the selected loci.
struct grp_t {
  int count;                      // individuals, ncase + nctrl
  int ncase;                      // of them labelled 1
  int nctrl;                      // of them labelled 0
  int pair[TX_MAXLOCI][2];        // pairs of the group's last individual
};

// Reads the data file (as noid_new), reports the cases, individuals and
// skipped records on standard output, writes the collapsed records to out
// and reports their number. Returns 0; input errors are fatal.
int noid(const char *path, FILE *out);

// Collapses the sorted list r into one record per run of individuals with
// the same codes at the selected loci and writes them to out. Returns the
// number of records written; 0 for an empty list.
int getsize(FILE *out);

// The whole program: phf parfile datfile outfile. Returns the exit status
// of a complete run; every failure ends the program itself.
int phfrun(int argc, char **argv);
