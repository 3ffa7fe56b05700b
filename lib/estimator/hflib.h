// The haplotype estimator as a library. One hfstate_t holds everything of
// one estimation: the loci, the records, the possible haplotypes, the
// frequencies and the settings. States share nothing, so any number of them
// may run at once, one per thread. No call ends the process or prints a
// message: each returns a code and leaves the message text in the state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "hs_limits.h"

// One multilocus genotype record. Two-allele records hold locus l in
// allele[2l] and allele[2l+1], smaller number first; one-allele records
// (hemizygous males of X data, sex 0) hold locus l in allele[l]. An allele
// outside 1 .. the locus's allele count is missing, and a locus with a
// missing allele is untyped for that record.
struct geno_t {
  int32_t id;
  int16_t sex;
  double instances;
  double gprob;   // genotype probability under the current h (the estimator's)
  double y;       // response value, 0
  int16_t allele[2 * HF_MAXLOCI];
};

// Codes of every call.
enum hf_code_t {
  HF_OK = 0,
  HF_EDATA = 1,   // bad or unusable data; hf_message says what and where
  HF_ENOMEM = 2,  // memory ran out; hf_message holds the estimator's message
  HF_EIO = 3,     // a file could not be opened, read or written
  HF_EUSAGE = 4,  // a call out of order (for example results before hf_estimate)
};

struct hfstate_t;

// A fresh state for autosomal (xdata 0) or X-chromosome (xdata 1) data, with
// the default settings: cutoff 0.001, debug off, gain 0.01, 50 steps.
// Returns null only when memory runs out.
hfstate_t *hf_new(int xdata);
void hf_free(hfstate_t *s);

// The message of the last call that failed ("" when none did). It is the
// text the programs print, line ends included.
const char *hf_message(const hfstate_t *s);

// Settings. The cutoff of the posterior assignment: a value below the
// machine precision, or not a number, becomes the machine precision.
void hf_set_cutoff(hfstate_t *s, double pl);
// The debug listings (records on standard output, possible haplotypes and
// equilibrium frequencies in the report).
void hf_set_debug(hfstate_t *s, int debug);
// The stopping rule: the iterations end when a step gains no more than
// gain in log-likelihood (a fall, or a gain that is not a number, included),
// or after maxsteps steps. maxsteps < 1 counts as 1.
void hf_set_stoprule(hfstate_t *s, double gain, int maxsteps);

// Records from memory: nloci allele counts (1 .. 50 each, at most 60 loci)
// and n records. Records typed at no locus are dropped, as the reader drops
// them. Any earlier records and results of the state are discarded.
// HF_EDATA when the loci break a limit or no record is typed anywhere.
int hf_set_data(hfstate_t *s, const int *alleles, int nloci, const geno_t *records, size_t n);

// Records as classes of identical genotypes: classes[c] is the genotype of
// class c (its instances are ignored) and member[i] the class of individual
// i, for n individuals in input order. Every result, the posteriors
// included, is to the last bit that of hf_set_data on one record of one
// instance per individual in that order: the sums over individuals run in
// it, while the work on each genotype is done once per class. hf_records
// then holds the classes carried by some individual and typed somewhere, in
// order of their first individual, their instances the individuals' count,
// and hf_posteriors' pattern is indexed by individual (those of dropped
// classes left out). HF_EDATA as hf_set_data, or for a member outside
// 0 .. nclasses - 1. member is read where it is, not copied, when every
// class is kept under its own number: it must stay as it is until the
// state's next data (the estimate and every result read it).
int hf_set_classes(hfstate_t *s, const int *alleles, int nloci, const geno_t *classes, size_t nclasses,
                   const int *member, size_t n);

// Records from an input file (header line, then one record per line), as hf
// reads it; name is the file name used in messages. hf_read_file opens the
// file first (HF_EIO with "Sorry, is there file called F ?" when it can't).
// Warnings (lines that hold more genotypes than the header declares) are
// collected in hf_warnings and do not fail the call.
int hf_read(hfstate_t *s, FILE *f, const char *name);
int hf_read_file(hfstate_t *s, const char *path);
// The input file of hf_read_file opened for reading, for a program that
// must know it can read its input before it creates anything: null, with
// the message in the state, when it cannot be opened or is a directory.
FILE *hf_open_input(hfstate_t *s, const char *path);
const std::vector<std::string> &hf_warnings(const hfstate_t *s);

// The records accepted, in input order (for the debug listing and tests).
const std::vector<geno_t> &hf_records(const hfstate_t *s);
// The number of loci, and the allele count of each.
int hf_nloci(const hfstate_t *s);
const int *hf_loci(const hfstate_t *s);

// Allele counting and the EM on the records read. HF_EDATA when a locus has
// no typed individual. May be called again (for example after
// hf_set_stoprule); each call starts afresh from linkage equilibrium.
int hf_estimate(hfstate_t *s);

// The results of the last hf_estimate.
struct hf_result_t {
  double ll0;          // log-likelihood under linkage equilibrium
  double ll1;          // under disequilibrium, after the last step
  double chi2;         // 2 (ll1 - ll0), in double precision
  int df;              // degrees of freedom over the alleles seen
  int df_specified;    // over the alleles declared in the header
  int iterations;      // EM steps taken
  int capped;          // 1 when the step cap, not the gain, ended them
  double last_gain;    // the gain of the last step
  double full;         // individuals typed at every locus
  double partial;      // individuals with a missing locus
  double nhap;         // haplotype copies in the sample (n of the report)
  int nhaplotypes;     // haplotypes above the frequency floor 1e-6
};
const hf_result_t *hf_result(const hfstate_t *s);

// The haplotypes that some record can carry, in increasing haplotype number:
// number[i] (1-based, last locus varying fastest), its frequency h1[i] after
// the EM and h0[i] under linkage equilibrium. Returns their count.
size_t hf_haplotypes(const hfstate_t *s, const int **number, const double **h1, const double **h0);
// The alleles (1-based, locus 1 first) of a haplotype number.
void hf_hapalleles(const hfstate_t *s, int number, int16_t *alleles);

// The phase posteriors under the frequencies of the last hf_estimate. Each
// distinct genotype of the records has its compatible haplotype pairs, over
// every completion of its missing loci, with the probability of each pair
// given the genotype. pattern[i] is the distinct genotype of record i (in
// hf_records order); the pairs of genotype g are pairs[first[g]] ..
// pairs[first[g + 1] - 1]. A pair names two positions in hf_haplotypes'
// order (a == b for a homozygous pair; b == -1 for a one-allele record) and
// its probabilities add up to 1 over the genotype. A genotype whose
// probability is 0 under the frequencies has no pairs.
struct hf_pair_t {
  int a, b;
  double p;
};
struct hf_posterior_t {
  std::vector<int> pattern;
  std::vector<size_t> first;
  std::vector<hf_pair_t> pairs;
};
// HF_EUSAGE before hf_estimate, HF_ENOMEM when memory runs out.
int hf_posteriors(hfstate_t *s, hf_posterior_t &out);
// The same without pattern (left empty), for a caller that reads it where
// the state holds it (hf_patterns) instead of a copy.
int hf_posterior_pairs(hfstate_t *s, hf_posterior_t &out);
// hf_posteriors' pattern where the state holds it, in *pattern; returns the
// number of records (0, with *pattern null, before hf_estimate). It stays
// valid until the state's next data or estimate.
size_t hf_patterns(const hfstate_t *s, const int **pattern);

// The report, whole or in sections, after hf_estimate. Sections in report
// order; HF_REPORT_ALL is all of them.
enum hf_section_t {
  HF_REPORT_COUNTS = 1,     // individuals per locus, F/P line, marker allele frequencies
  HF_REPORT_EM = 2,         // the log-likelihoods, iterations, test, haplotype table
  HF_REPORT_SORTED = 4,     // the table by decreasing frequency
  HF_REPORT_ASSIGN = 8,     // the posterior assignment (and the debug tree)
  HF_REPORT_ALL = 15,
};
// Appends the sections to out. HF_ENOMEM when memory runs out.
int hf_report_string(hfstate_t *s, int sections, std::string &out);
// Writes the sections to f. HF_EIO when a write fails.
int hf_report(hfstate_t *s, int sections, FILE *f);
