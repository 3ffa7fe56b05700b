// Reading TRELIX parameter and data files: the locus tables, the selected
// loci, the genotype coding and the sorted list of individuals shared by the
// permutation driver (hfp) and the data preparation tool (phf).
//
// Loci are numbered from 0 here and from 1 in every text shown to the user.
// Fatal input errors write a message naming the file and the line or record
// to standard error and end the program with status 1.
#pragma once

#include <string>

#include "hs_limits.h"

// Filled from the parameter file by getloci.
extern int nloci;                 // loci in every data record, 0 ... TX_MAXLOCI
extern int cc;                    // non-zero: case-control data; 0: two blocks
extern int permute;               // permutation flag (echo only)
extern int npermute;              // permutations requested, as read
extern int alleles[TX_MAXLOCI];   // allele count per locus, 1 ... TX_MAXALLELES
extern int isgenotype;            // non-zero: one genotype code per locus
extern int iogenotype;            // non-zero: list every data record read
extern int sel[TX_MAXLOCI];       // non-zero: the locus takes part
extern int selp[TX_MAXLOCI];      // non-zero: a selected locus is in Block 1
extern float freq;                // disease allele frequency q
extern float pen0, pen1, pen2;    // penetrances f0, f1, f2

// Derived by getloci. The counts are kept as count minus one, -1 meaning
// none: a block is present when its value is 0 or more.
extern int selidx[TX_MAXLOCI];    // selected loci ascending, then zeros
extern int selected;              // selected loci - 1
extern int selectp;               // selected loci in Block 1 - 1
extern int selectn;               // selected loci in Block 2 - 1

// The record being read; after reading it holds the last record read.
struct precord_t {
  std::string id;                 // identifier, kept whole; listing only
  int label;
  int pair[TX_MAXLOCI][2];        // smaller allele first, 0 for missing
  int geno[TX_MAXLOCI];           // genotype codes, 0 ... TX_MAXCODE
};
extern precord_t p_t;

// One kept individual. Codes and pairs are held for all nloci loci; every
// code lies in 0 ... TX_MAXCODE, every allele in 0 ... its locus's count
// (allele form) or 0 ... TX_MAXALLELES (genotype form).
struct rec_t {
  int seq;                        // 1-based ordinal among kept records
  int label;                      // 1 case, 0 otherwise
  int geno[TX_MAXLOCI];
  int pair[TX_MAXLOCI][2];
  rec_t *next;
};

// Set by the data reader: the list of kept individuals (sorted), their
// number, the number of cases (0 without case-control data), the depth of
// the sort (number of selected loci) and the last node of the sorted list.
extern rec_t *r;
extern int sample_size;
extern int cases;
extern int digits;
extern rec_t *Last;

// Reads the parameter file, echoes a summary to standard output and derives
// the selected loci and the two blocks. Returns 0; input errors are fatal.
int getloci(const char *path);

// Reads the data file into the sorted list r, after the parameter file has
// been read. Records whose selected loci are all missing are skipped and
// counted in skipped. A list left by an earlier call is released first.
// Returns 0; input errors are fatal.
int readrecs(const char *path, int &skipped);
// readrecs without the count of skipped records.
int noid_new(const char *path);
// Releases the list r and leaves it empty.
void freerecs();

// Genotype code of an unordered allele pair: 0 when the smaller allele is 0
// or less (missing), else a + b(b-1)/2 with a <= b.
int a2g(int a, int b);
// Decodes a code in 0 ... TX_MAXCODE into its pair, smaller allele first;
// code 0 gives (0, 0).
void g2a(int g, int *a, int *b);
// Exchanges two integers.
void swap_pair(int *x, int *y);

// Bucket sort of a list on the codes at selidx[depth], selidx[depth + 1],
// ... up to depth digits - 1, ascending. Each level reverses the order of
// records that agree at its locus, so records agreeing at every level come
// out in the entering order when an even number of levels remain and
// reversed when an odd number remain. Sets Last to the final node of a
// non-empty result. Called as sortrecs(r, 0).
rec_t *sortrecs(rec_t *list, int depth);
