// The permutation driver hfp: runs the estimator (under the command name
// hf.sun, or in process through the estimator library) on the observed and
// on permuted data and reads its reports back.
//
// Passes run on one or more workers. The main thread draws every
// permutation in the order of a single run and takes the results back in
// pass order, so the report is the same for any number of workers. One
// worker uses the fixed temporary files of the working directory (one run
// per working directory); more workers each use a private scratch
// directory under it with the same file names inside.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

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

// Observed-pass tables and the per-haplotype counts of permuted passes
// (identifiers held as doubles).
extern int nhaps0, fobs0, pobs0;
extern double *h0, *h1, *ftobs, *hidobs, *ftp;
extern int nhapcas0, nhapcon0, fobsca0, pobsca0, fobsco0, pobsco0;
extern double *h1caobs, *hidcaobs, *h1coobs, *hidcoobs;
extern double *ftccobs, *fticcobs, *ftssobs, *ftpcc;
extern int *scoredobs; // 1 for the merged rows that carry a z

// The EM's step cap: a run whose 50th step still gained more than 0.01 in
// log-likelihood was ended by the cap, not by convergence. The estimator
// tells so itself (a "Warning: " line, or its result's capped in process).
constexpr int EM_STEP_CAP = 50;

// ---- failure -------------------------------------------------------------

// A failure inside a worker thread: the message (line end included) and the
// exit status the program ends with once the main thread reaches the pass.
struct hfpabort : std::runtime_error {
  int status;
  bool interrupted;
  hfpabort(const std::string &msg, int st, bool intr = false) : std::runtime_error(msg), status(st), interrupted(intr) {}
};
// Marks the calling thread as a worker: hfpfail and xmalloc then throw
// hfpabort instead of ending the program.
void setworkerthread();
// Ends the run: message on standard error, workers stopped, temporary files
// and scratch directories removed, status 1. In a worker thread it throws.
[[noreturn]] void hfpfail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Allocation that ends the run with status 255 when memory runs out.
void *xmalloc(size_t size);

// ---- temporary files, scratch directories, signals (scratch.cpp) ----------

// The working directory of each worker: "" for the working directory
// itself (one worker), else "DIR/" of a private scratch directory. Created
// before the passes; failure ends the run.
extern std::vector<std::string> workdirs;
void makeworkdirs(int workers, bool scratch);
// Removes the fixed temporary files (and scratch directories) that exist.
void removetemps();
// SIGINT, SIGTERM and SIGHUP: while temporary files may exist the handler
// stops the estimator runs and leaves the clean-up to the main thread;
// otherwise the signal takes its default effect at once.
void catchsignals();
void setrunphase(bool on);
int interruption();             // the signal received during the run phase, or 0
[[noreturn]] void reraise(int sig);
// Stops the estimator runs of all workers (a failure elsewhere ends the
// run); runsabandoned() is then true, as after a signal.
void abandonruns();
bool runsabandoned();
// Stops and joins the worker threads, if any run.
void stopworkers();
// Registers the estimator child of a worker (0: none) so that a signal can
// stop it.
void setchild(int worker, int pid);

// ---- estimator runs ---------------------------------------------------------

// Resolves the estimator: hfp's own directory goes first on the search path,
// then hf.sun is looked up there as the shell would.
void findestimator();
// Runs one estimator command line without a shell in the worker's
// directory: hf.sun temp.hf REPORT with standard output to hf.tmp, its
// standard error passed on without its "Warning: " lines. A report left by
// an earlier run is removed first. Failures end the run (hfpfail). Returns
// whether the run wrote a "Warning: " line: the estimator writes one when
// its step cap, not its gain rule, ended the EM.
bool runestimator(int worker, const char *command, const char *report);

// The estimator's standard error as it arrives, in pieces of any size:
// whole lines that begin with "Warning: " are counted and held back, all
// other text is passed on unchanged, a last line without a line end too.
struct stderrfilter_t {
  int warnings = 0;
  // The text to pass on of everything fed so far that ends a line.
  std::string feed(const char *data, size_t n);
  // The text to pass on of an unfinished last line.
  std::string finish();

private:
  std::string pending;
  void line(const char *text, size_t n, std::string &pass);
};

// What a pass takes from one estimator run: the log-likelihood under
// disequilibrium and the disequilibrium chi-square from its report, and
// whether the step cap ended the EM (from the run itself).
struct runread_t {
  float ll = 0, x2 = 0;
  bool capped = false;
};
// The table of nonzero haplotypes of one report, in report order.
struct hapreport_t {
  int full = 0, partial = 0, nhaps = 0;
  std::vector<double> h1, h0, ft, id;
};

// Everything one pass gives back to the main thread.
struct passresult_t {
  std::string error;           // non-empty: the pass failed with this message
  int status = 0;              // exit status of the failure
  bool interrupted = false;
  float x2 = 0;                // case-control statistic
  hapreport_t cases, controls; // case-control tables (hapwise)
  float chi0 = 0, ll0 = 0, chi1 = 0, ll1 = 0, chi2 = 0, ll2 = 0; // block mode
  hapreport_t pooled;          // block mode table (hapwise)
  int runs = 0, capped = 0;    // estimator runs, and those ended by the cap
};

// The statistics of one pass over the arrangement people (sample_size
// entries), run by worker.
void computepass(int worker, const indiv_t *people, int pass, passresult_t &r);

// Draws the permutation of the individuals typed at locus into perm (n
// entries); work is scratch of n entries.
int shuffle(int *perm, int *work, int n, int locus);

// Writes the estimator input of the loci of kind (0 all selected, 1 Block 1,
// 2 Block 2) and the individuals that pass the filter (-1 all, 1 cases,
// 0 controls) to path.
void writetemp(const char *path, const indiv_t *people, int kind, int filter);

// The estimator in process (--in-process): one library state per worker.
extern bool inprocess;
void initinprocess(int workers);
void freeinprocess();
// One estimation of the records that temp.hf would hold, read back as from
// the report of command; the table too when table is non-null.
runread_t estimateinprocess(int worker, const indiv_t *people, int kind, int filter, const char *command,
                            bool wantx2, hapreport_t *table);

// Runs the passes 0 .. npermute on the workers, drawing permutations with
// draw(pass) after pass is submitted, and folding the results in pass order
// with fold(pass, result).
void runpasses(int workers, void (*draw)(int pass), void (*fold)(int pass, const passresult_t &r));

// ---- reading a report (reportread.cpp) ---------------------------------------

// Scans a report from its start for the log-likelihood under
// disequilibrium, and with wantx2 the chi-square after it. A missing
// marker line ends the run naming the command and the report.
void readvalues(FILE *f, const char *path, const char *command, bool wantx2, runread_t &out);
// Reads the F/P counts and the table of nonzero haplotypes from a report's
// start; a damaged table ends the run.
void readtable(FILE *f, const char *path, hapreport_t &t);
// The log-likelihood under disequilibrium of the report path; the chi-square
// with that log-likelihood in *out (from temp.hfo).
float getln(const char *path, const char *command);
float getx2ln(float *out, const char *command);
// Folds one pass's tables into the observed tables (pass 0) or into the
// counts of permuted values at least as extreme (later passes).
void foldpooled(const hapreport_t &t, int pass);
void foldcasecontrol(const hapreport_t &cases, const hapreport_t &controls, int pass);
// Reads the tables of the working directory's reports and folds them.
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

// Options before the positional arguments: --jobs N (-j N; 0 means every
// core) and --in-process. Returns the index of the first positional
// argument; a bad option ends the run with status 1.
struct options_t {
  int jobs = 1;
  bool inprocess = false;
};
int parseoptions(int argc, char **argv, options_t &o);

// The seed argument: an integer at the start of text. Text with no number
// at its start ends the run with status 1; text after the number is
// ignored with a warning.
int seedvalue(const char *text);

// The whole program; returns the exit status.
int hfprun(int argc, char **argv);
