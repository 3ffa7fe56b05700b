// The haplotype estimator's state and stages. Every stage works on the one
// hfstate_t it is given; the library holds no data of its own, so states
// can run side by side in threads. hflib.h is the interface for programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "hflib.h"
#include "hs_limits.h"
#include "stats.h"

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
  int rec;         // its first record, in buildpossible's table
  int hemi;        // one allele per locus
  int full;        // typed at every locus
  int cached;      // completions and phases stored, not enumerated afresh
  size_t first;    // its first completion in the store
  int ncomp;       // number of completions when cached
  double prob;     // probability under the current h
};

// What one individual of a distinct genotype adds in a counting step: to c
// (typed at every locus), to hm (a missing locus), or, for a genotype whose
// phases are not stored, whatever its enumeration afresh gives.
enum { ADD_C, ADD_HM, ADD_FRESH };
struct additions_t {
  size_t first;
  int n;
  int to;
  int hemi;
  double prob;  // the genotype's probability under the current h
};

// A stored completion: its phases are pairs first .. first + n - 1.
struct comp_t {
  int hom;
  int n;
  size_t first;
};

struct hfstate_t {
  // Settings: the build's data kind, the listings, the report stream, the
  // posterior cutoff, the machine precision and its probe, the frequency
  // floor of the tables, and the EM's stopping rule.
  int xdata = 0;
  int debug = 0;
  FILE *fo = nullptr;
  double pl = 0.001;
  double precis = 1.0;
  double tol = 0;
  double epsh = 1e-6;
  double stopgain = HS_DEFAULT_EM_GAIN;
  int maxsteps = HS_DEFAULT_EM_STEPS;

  // Loci and haplotype numbering.
  int loci[HF_MAXLOCI] = {};
  int nloci = 0;
  int nalleles = 0;
  int hapall = 0;

  // The records of the input, and their count.
  std::vector<geno_t> records;
  int obscom = 0;

  // Records set as classes (hf_set_classes): the record of each individual,
  // in input order (members, nmembers: the caller's array when its classes
  // are the records, else member), and its distinct genotype once they are
  // found (see patternsof: memberpattern stays empty when the records are
  // the distinct genotypes, each its own). nmembers is 0 when every record
  // stands for its own instances.
  const int *members = nullptr;
  size_t nmembers = 0;
  std::vector<int> member;
  std::vector<int> memberpattern;
  std::vector<size_t> classcount;                // hf_set_classes's scratch
  std::vector<int> classfirst, classkept;
  // The EM's scratch on classes: per distinct genotype, what one individual
  // adds to c or hm under the current h (entries first .. first + n - 1 of
  // addk, addv), and the logarithm of its probability.
  std::vector<additions_t> adds;
  std::vector<int> addk;
  std::vector<double> addv;
  std::vector<double> logs;  // per genotype, its terms of the two sums of ll
  std::vector<double> rows;  // per genotype typed everywhere, its copies as a row
  // Per genotype with a missing locus, its copies to hm as rows in layers
  // (layer j holds each haplotype's (j + 1)-th term): layers[p] of them
  // from row layerfirst[p] of hmrows.
  std::vector<double> hmrows;
  std::vector<int> layers;
  std::vector<size_t> layerfirst;
  std::vector<size_t> addslot;  // per stored addition, its place in rows or hmrows
  std::vector<int> hmmembers;  // the individuals whose genotype has a missing locus
  bool hmlisted = false;       // hmmembers is this estimate's (it is released after)
  std::vector<char> patternflag;  // rowlayout's scratch: per genotype, its copies go to hm
  int lanes = 0;  // the pass's vector width: 0 the widest the processor has, else 2 or 4 lanes at most

  // Frequencies: p allele frequencies, pm hemizygous allele counts; h, h0,
  // c, hm haplotype vectors over the haplotypes that some record can carry
  // (hapk), in increasing haplotype number.
  double p[HF_MAXLOCI][HF_MAXALLELES] = {};
  double pm[HF_MAXLOCI][HF_MAXALLELES] = {};
  std::vector<double> h, h0, c, hm;

  // Sample counts.
  int nhaplotypes = 0;
  int ndiploid = 0;
  int nhaploid = 0;
  double d_sample = 0;
  double d_msample = 0;
  int h_sample = 0;
  int h_msample = 0;
  double dtally[HF_MAXLOCI] = {}; // two-allele individuals typed at each locus
  double htally[HF_MAXLOCI] = {}; // one-allele individuals typed at each locus
  double fulld = 0;               // two-allele individuals typed everywhere

  // Per-record scratch: which loci are missing and their allele counts.
  int idm[HF_MAXLOCI] = {};
  int locim[HF_MAXLOCI + 1] = {};
  int nlocim = 0;

  // The sorted table and the possible-haplotype tree.
  std::vector<hap_t> haplotypes;
  hap_t haplotype_t = {};
  hnode_t *hrt = nullptr;

  // The possible haplotypes: hapk[i] is the number of entry i of h, h0, c
  // and hm. With few enough haplotype numbers (densebound), a table of one
  // bit per number (carried) and the count of carried numbers before each
  // word (rankbefore) give a number's position at once; beyond, hapk is
  // searched. place[l] is the place value of locus l in the number.
  std::vector<int> hapk;
  size_t densebound = size_t(1) << 28;
  std::vector<uint64_t> carried;
  std::vector<int> rankbefore;
  std::vector<int> happosition;  // buildpossible's scratch: each number's position, for few numbers
  int place[HF_MAXLOCI] = {};

  // Distinct genotypes and their stored completions and phases: the pattern
  // of each record, and for stored phases their positions in hapk and what
  // genall keeps of them (the term 2 h(A) h(B); for a genotype typed at every
  // locus, the term's share of the genotype's probability). Phases are
  // stored within pairbudget (16 bytes each); a genotype past it is
  // enumerated afresh in every step, with the same sums in the same order.
  std::vector<pattern_t> patterns;
  std::vector<int> recpattern;
  const geno_t *patternrecs = nullptr;  // buildpossible's table, which patterns index
  std::vector<int> patternslot;  // buildpossible's table of distinct genotypes
  std::vector<comp_t> comps;
  std::vector<int> pairsa, pairsb;
  std::vector<double> pairq;
  size_t pairbudget = size_t(24) << 20;

  // The EM's course, kept for the report: the log-likelihood of every step,
  // the two tests' parameter counts.
  double l0 = 0;
  double l1 = 0;
  std::vector<double> steps;
  int eqseen = 0, eqspec = 0, disseen = 0, dispec = 0;
  int built = 0;     // the possible haplotypes of the records are found
  int estimated = 0; // the EM ran on them
  hf_result_t result = {};

  // What the last failed call said, and the warnings of the last read.
  std::string message;
  int nomem = 0; // the message is that memory ran out
  std::vector<std::string> warnings;
};

// The message of a failed call, as printf formats it; returns code.
int hf_fail(hfstate_t &s, int code, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
// Memory ran out: the estimator's message, HF_ENOMEM.
int hf_nomemory(hfstate_t &s);

// Haplotype numbering: the number (1-based) of an allele vector, last locus
// varying fastest. linenums is the same operation under a second name.
int linenum(const hfstate_t &s, const int *nall, const int16_t *a);
int linenums(const hfstate_t &s, const int *nall, const int16_t *a);
// Odometer counters, digit k first; one spare digit above the last must be
// kept by the caller to receive the final carry.
void digitm(const int16_t *maxima, int16_t *digits, int k);
void digit2(int maximum, int16_t *digits, int k);

// Input file. readheader and readrecords return HF_OK, or HF_EDATA with a
// message naming the file and line.
void hilo(int16_t *a, int16_t *b);
int readheader(hfstate_t &s, FILE *f, const char *name);
int readrecords(hfstate_t &s, FILE *f, const char *name, std::vector<geno_t> &list);
// The debug listing of the records, on f.
void listrecords(const hfstate_t &s, const geno_t *table, FILE *f);

// Allele counting and the equilibrium start; returns HF_OK, or HF_EDATA
// when a locus has no typed individual.
int getp(hfstate_t &s, geno_t *table);
// The frequency of a haplotype under linkage equilibrium: the product of its
// allele frequencies, locus 1 first.
double equilibrium(const hfstate_t &s, const int16_t *a);

// Genotype probabilities and the log-likelihood. hfreq and hfreq0 give h
// and h0 of a haplotype number (0 for one that no record can carry).
double hfreq(const hfstate_t &s, int number);
double hfreq0(const hfstate_t &s, int number);
double phasep(const hfstate_t &s, const int16_t *a1, const int16_t *a2);
// Every record's probability under the current h, in its gprob; identical
// genotypes are computed once. genpatterns sets the distinct genotypes'
// probabilities only (the records' gprob then belong to an earlier h).
void genall(hfstate_t &s, geno_t *table);
void genpatterns(hfstate_t &s);
// Distinct genotype p's probability under the current h (its stored phase
// terms kept, as genpatterns keeps them).
double patternprob(hfstate_t &s, int p);
double ll(const hfstate_t &s, const geno_t *table);

// Haplotype-counting EM; ehm returns HF_OK or getp's code.
int ehm(hfstate_t &s, geno_t *table);
// One step: the next h from the current one. Every record's gprob must
// belong to the current h (genall after every change of h).
void geth(hfstate_t &s, geno_t *table);
void counting(hfstate_t &s, geno_t *table, int i);
// The iterations stop when a step gains no more than the stopping gain in
// log-likelihood (a fall or a gain that is not a number included), or
// after the last allowed step.
bool emdone(const hfstate_t &s, double gain, int steps);

// The machine precision: halves precis from 1 until precis + 1, rounded to a
// double in tol, no longer exceeds 1; with IEEE doubles it ends at 2^-53.
void machineprecision(hfstate_t &s);

// The distinct genotype of each individual of records set as classes.
struct memberview_t {
  const int *p;
  size_t n;
  const int *data() const { return p; }
  size_t size() const { return n; }
  const int *begin() const { return p; }
  const int *end() const { return p + n; }
  int operator[](size_t i) const { return p[i]; }
};
inline memberview_t patternsof(const hfstate_t &s)
{
  if (!s.memberpattern.empty())
    return {s.memberpattern.data(), s.memberpattern.size()};
  return {s.members, s.nmembers};
}

// The four haplotype vectors h, h0, c, hm of n entries each.
void inith(hfstate_t &s, int n);
