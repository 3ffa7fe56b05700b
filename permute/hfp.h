// The permutation driver hfp: runs the estimator (under the command name
// hf.sun) on the observed and on permuted data and reads its reports back.
// One run per working directory: the temporary files have fixed names.
#pragma once

#include <cstdio>

#include "trelix.h"

// One individual of the data file.
struct indiv_t {
  int seq;                  // ordinal from the data reader; the record identifier
  int label;                // 1 case, 0 otherwise
  int pair[TX_MAXLOCI][2];  // smaller allele first, 0 or less for missing
};

// Driver settings and state.
extern int seed;
extern int hapwise;
extern const char *hfascmd;
extern const char *hfoncmd;
extern const char *hfomcmd;
extern int ip;
extern indiv_t *individuals;
extern indiv_t ind_t;
extern int *nalleles;      // place values of the selected loci
extern int *hap;           // alleles decoded from one haplotype identifier
extern double epsh;

// Per-haplotype tables read from the reports (identifiers held as doubles).
extern int nhaps, fobs, pobs, nhaps0, fobs0, pobs0;
extern double *h0, *h1, *ftobs, *hidobs, *ftp, *ft, *hid;
extern int nhapcas, nhapcon, fobsca, pobsca, fobsco, pobsco;
extern int nhapcas0, nhapcon0, fobsca0, pobsca0, fobsco0, pobsco0;
extern double *h1cas, *hidca, *h1con, *hidco;
extern double *h1caobs, *hidcaobs, *h1coobs, *hidcoobs;
extern double *ftcc, *fticc, *ftss, *ftccobs, *fticcobs, *ftssobs, *ftpcc;
extern int *scored, *scoredobs; // 1 for the merged rows that carry a z

// Temporary files.
void removetemps();
// Ends the run: message on standard error, temporary files removed, status 1.
[[noreturn]] void hfpfail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void *xmalloc(size_t size);

// Estimator runs: getx2het gives the case-control statistic of the current
// labels; getx2block the disequilibrium chi-square of a set of loci (kind 0
// all selected, 1 Block 1, 2 Block 2) with its log-likelihood in *out.
float getx2het();
float getx2block(int kind, float *out);
int shuffle(int *perm, int *work, int n, int locus);

// Reading a report: the log-likelihood under disequilibrium; the chi-square
// with that log-likelihood in *out (from temp.hfo). A missing report or
// marker line ends the run naming the command and the report.
float getln(const char *path, const char *command);
float getx2ln(float *out, const char *command);
void getnhaps(FILE *f, const char *path, int *full, int *partial);
void geth(FILE *f, const char *path, int kind, int a);
int gethappy(int kind, int a);
int revhapid(double id, int *hap);

// One row of the merged case and control tables.
struct mergerow_t {
  double id, hca, hco;
  int code;   // 1 cases only, 0 controls only, 2 both
  int scored; // carries a z statistic
};
// Walks the merge of two identifier-sorted lists (each with its end marker)
// for rows 0 .. rows-1, one step per row.
void mergerows(const double *hca, const double *idca, const double *hco, const double *idco, int rows,
               mergerow_t *out);

// Tail probabilities.
double probnorm(double x);
double probchi(double x, int df);

// Empirical p value of a count of permuted statistics at least as large as
// the observed one, and its standard error, in single precision.
struct pvalue_t {
  float p, se;
};
pvalue_t empirical(int count);

// Degrees of freedom of the disequilibrium test over the selected loci of a
// kind (0 all, 1 Block 1, 2 Block 2), and of the association between blocks.
int dfree(int kind);
int dfree12();

// The whole program; returns the exit status.
int hfprun(int argc, char **argv);
