// The haplotype estimator's shared tables and stages. One source is built
// twice: hf (autosomal data, xdata 0) and hfx (X-chromosome data, xdata 1).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "hs_limits.h"

// One multilocus genotype record of the input. Two-allele records hold
// locus l in allele[2l] and allele[2l+1], smaller number first; one-allele
// records (hemizygous males of X data, sex 0) hold locus l in allele[l].
struct geno_t {
  int32_t id;
  int16_t sex;
  double instances;
  double gprob;   // genotype probability under the current h
  double y;       // response value, 0
  int16_t allele[2 * HF_MAXLOCI];
};

// One row of the table sorted by decreasing frequency.
struct hap_t {
  int id;
  double h0;
  double h1;
  int16_t allele[HF_MAXLOCI];
};

// A node of the possible-haplotype tree, keyed by haplotype number.
struct hnode_t {
  int key;
  int repeats;
  hnode_t *left;
  hnode_t *right;
  int16_t allele[HF_MAXLOCI];
};

// Build-time switches.
extern int xdata;
extern int debug;

// Run settings (start-up and command line).
extern FILE *fo;
extern double pl;
extern double precis;
extern double tol;

// Loci and haplotype numbering.
extern int loci[HF_MAXLOCI];
extern int nloci;
extern int nalleles;
extern int hapall;

// Frequencies: p allele frequencies, pm hemizygous allele counts; h, h0,
// c, hm haplotype vectors over the haplotypes that some record can carry
// (hapk of possible.h), in increasing haplotype number.
extern double p[HF_MAXLOCI][HF_MAXALLELES];
extern double pm[HF_MAXLOCI][HF_MAXALLELES];
extern double *h;
extern double *h0;
extern double *c;
extern double *hm;

extern int obscom;
extern int nhaplotypes;
extern int ndiploid;
extern int nhaploid;
extern double d_sample;
extern double d_msample;
extern int h_sample;
extern int h_msample;

// Per-record scratch: which loci are missing and their allele counts.
extern int idm[HF_MAXLOCI];
extern int locim[HF_MAXLOCI + 1];
extern int nlocim;

extern hap_t *haplotypes;
extern hap_t haplotype_t;
extern hnode_t *hrt;
extern double epsh;

// Memory: every table of the estimator comes from here. When none can be had
// the program ends with the estimator's memory message and status -1.
void *xmalloc(size_t size);
[[noreturn]] void nomemory();

// Haplotype numbering: the number (1-based) of an allele vector, last locus
// varying fastest. linenums is the same operation under a second name.
int linenum(const int *nall, const int16_t *a);
int linenums(const int *nall, const int16_t *a);
// Odometer counters, digit k first; one spare digit above the last must be
// kept by the caller to receive the final carry.
void digitm(const int16_t *maxima, int16_t *digits, int k);
void digit2(int maximum, int16_t *digits, int k);

// Input file. readheader and readrecords return 0, or 1 after writing a
// message naming the file and line to standard error.
void hilo(int16_t *a, int16_t *b);
void pilink(std::vector<geno_t> &list, const geno_t &rec);
int readheader(FILE *f, const char *name);
int readrecords(FILE *f, const char *name, std::vector<geno_t> &list);
void listrecords(const geno_t *table);

// Allele counting and the equilibrium start; returns 0, or 1 after a
// message when a locus has no typed individual.
int getp(geno_t *table);

// Genotype probabilities and the log-likelihood. hfreq and hfreq0 give h
// and h0 of a haplotype number (0 for one that no record can carry).
double hfreq(int number);
double hfreq0(int number);
double phasep(const int16_t *a1, const int16_t *a2);
// Every record's probability under the current h, in its gprob; identical
// genotypes are computed once.
void genall(geno_t *table);
double ll(const geno_t *table);

// Haplotype-counting EM and its report section; ehm returns 0 or getp's code.
int ehm(geno_t *table);
// One step: the next h from the current one. Every record's gprob must
// belong to the current h (genall after every change of h).
void geth(geno_t *table);
void counting(geno_t *table, int i);
// The iterations stop when a step gains no more than 0.01 in log-likelihood
// (a fall or a gain that is not a number included), or after the 50th step.
bool emdone(double gain, int steps);

// Sorted report.
void qsorts(int lo, int hi);
void sortedreport();

// Posterior assignment, filling the possible-haplotype tree.
void ch(geno_t *table);

// Possible-haplotype tree.
hnode_t *hitree(hnode_t *root, int key, const int16_t *a);
void hptree(hnode_t *root, int *counter);
void hrtree(hnode_t *root);

// The machine precision: halves precis from 1 until precis + 1, rounded to a
// double in tol, no longer exceeds 1; with IEEE doubles it ends at 2^-53.
void machineprecision();

// The four haplotype vectors h, h0, c, hm of n entries each.
void inith(int n);

// One estimation on an input file; returns 0, or 1 on a data error.
int hfmain(const char *name);
// The whole program: start-up, command line, hfmain; returns the exit status.
int hfrun(int argc, char **argv);
