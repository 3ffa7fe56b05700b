// Reading TRELIX parameter and data files as a library: the locus tables,
// the selected loci, the genotype coding and the sorted list of individuals.
// One trelix_t holds everything of one data set; the library keeps no data
// of its own, so states may be used side by side. No call ends the process:
// each returns a code and leaves the message in the state. The library
// writes only to streams its caller gives it.
//
// Loci are numbered from 0 here and from 1 in every text shown to the user.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "hs_limits.h"

// Codes of every call.
enum tx_code_t {
  TX_OK = 0,
  TX_EDATA = 1,   // bad parameters or data; the message names the file and line
  TX_ENOMEM = 2,  // memory ran out
  TX_EIO = 3,     // a file could not be opened or is a directory
};

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

// A warning of a reader: the text, line end included, for standard error.
// after_screen: the program flushes what it wrote to standard output first.
struct tx_warning_t {
  std::string text;
  bool after_screen;
};

struct trelix_t {
  // Filled from the parameter file by tx_read_params. Numbers that lines 1,
  // 3 and 6 leave out keep the values of the state (0 in a fresh one).
  int nloci = 0;                    // loci in every data record, 0 ... TX_MAXLOCI
  int cc = 0;                       // non-zero: case-control data; 0: two blocks
  int permute = 0;                  // permutation flag (echo only)
  int npermute = 0;                 // permutations requested, as read
  int alleles[TX_MAXLOCI] = {};     // allele count per locus, 1 ... TX_MAXALLELES
  int isgenotype = 0;               // non-zero: one genotype code per locus
  int iogenotype = 0;               // non-zero: list every data record read
  int sel[TX_MAXLOCI] = {};         // non-zero: the locus takes part
  int selp[TX_MAXLOCI] = {};        // non-zero: a selected locus is in Block 1
  float freq = 0;                   // disease allele frequency q
  float pen0 = 0, pen1 = 0, pen2 = 0; // penetrances f0, f1, f2

  // Derived by tx_read_params. The counts are kept as count minus one, -1
  // meaning none: a block is present when its value is 0 or more.
  int selidx[TX_MAXLOCI] = {};      // selected loci ascending, then zeros
  int selected = 0;                 // selected loci - 1
  int selectp = 0;                  // selected loci in Block 1 - 1
  int selectn = 0;                  // selected loci in Block 2 - 1

  // Set by tx_read_data: the list of kept individuals (sorted, owned by the
  // state), their number, the number of cases (0 without case-control
  // data), the depth of the sort (number of selected loci) and the last
  // node of the sorted list.
  rec_t *list = nullptr;
  int sample_size = 0;
  int cases = 0;
  int digits = 0;
  rec_t *last = nullptr;

  // Where tx_read_data lists the records when the parameter file asks for
  // it; null: nowhere.
  FILE *listing = nullptr;

  // The message of the last call that failed ("" when none did), line end
  // included where the program prints one, and the warnings of the last
  // tx_read_params.
  std::string message;
  std::vector<tx_warning_t> warnings;

  trelix_t() = default;
  trelix_t(const trelix_t &) = delete;
  trelix_t &operator=(const trelix_t &) = delete;
  ~trelix_t();
};

// Reads the parameter file and derives the selected loci and the two
// blocks. TX_EIO when it cannot be opened or is a directory, TX_EDATA for a
// malformed file. Warnings (text after the numbers of line 1, penetrances
// out of order) go to warnings and do not fail the call.
int tx_read_params(trelix_t &tx, const char *path);

// The summary of the parameters that the programs show after reading them.
void tx_echo(const trelix_t &tx, FILE *f);

// Reads the data file into the sorted list, after the parameter file has
// been read. Records whose selected loci are all missing are skipped and
// counted in skipped. A list left by an earlier call is released once the
// file is open: TX_EIO leaves it as it was; after TX_EDATA or TX_ENOMEM the
// list is empty and sample_size and cases are 0.
int tx_read_data(trelix_t &tx, const char *path, int &skipped);

// Releases the list and leaves it empty.
void tx_free_data(trelix_t &tx);

// Genotype code of an unordered allele pair: 0 when the smaller allele is 0
// or less (missing), else a + b(b-1)/2 with a <= b.
int tx_a2g(int a, int b);
// Decodes a code in 0 ... TX_MAXCODE into its pair, smaller allele first;
// code 0 gives (0, 0).
void tx_g2a(int g, int *a, int *b);

// Bucket sort of a list on the codes at selidx[depth], selidx[depth + 1],
// ... up to depth digits - 1, ascending. Each level reverses the order of
// records that agree at its locus, so records agreeing at every level come
// out in the entering order when an even number of levels remain and
// reversed when an odd number remain. Sets last to the final node of a
// non-empty result. tx_read_data calls it as tx_sort(tx, list, 0).
rec_t *tx_sort(trelix_t &tx, rec_t *list, int depth);
