// The permutation driver hfp as a library: runs the estimator (under the
// command name hf.sun, or in process through the estimator library) on the
// observed and on permuted data and reads its reports back.
//
// One hfp_t holds everything of a run; every function takes it. No function
// ends the process: a failure becomes an hfpabort, which hfprun turns into
// its return value with the message kept in the state (main prints it).
//
// Passes run on one or more workers. The main thread draws every
// permutation in the order of a single run and takes the results back in
// pass order, so the report is the same for any number of workers. One
// worker uses the fixed temporary files of the working directory (one run
// per working directory); more workers each use a private scratch
// directory under it with the same file names inside.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hflib.h"
#include "hs_limits.h"
#include "stats.h"

// One individual of the data file.
struct indiv_t {
  int seq;                  // ordinal from the data reader; the record identifier
  int label;                // 1 case, 0 otherwise
  int pair[TX_MAXLOCI][2];  // smaller allele first, 0 or less for missing
};

// The estimator's command lines, quoted in messages.
constexpr const char *HFASCMD = "hf.sun temp.hf temp1.hfo>hf.tmp";
constexpr const char *HFONCMD = "hf.sun temp.hf temp2.hfo>hf.tmp";
constexpr const char *HFOMCMD = "hf.sun temp.hf temp.hfo>hf.tmp";

// The EM's step cap: a run whose 50th step still gained more than 0.01 in
// log-likelihood was ended by the cap, not by convergence. The estimator
// tells so itself (a "Warning: " line, or its result's capped in process).
constexpr int EM_STEP_CAP = HS_DEFAULT_EM_STEPS;

// ---- failure -------------------------------------------------------------

// A failed run: the message (line end included) and the exit status the
// program ends with; interrupted: a signal ended the run (status then holds
// the signal). Thrown inside the library, caught by the worker loop (which
// hands it to the main thread at the failing pass) and by hfprun.
struct hfpabort : std::runtime_error {
  int status;
  bool interrupted;
  hfpabort(const std::string &msg, int st, bool intr = false) : std::runtime_error(msg), status(st), interrupted(intr) {}
};
// Ends the run with status 1 and the formatted message.
[[noreturn]] void hfpfail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The message of exhausted memory (status -1).
extern const char HFP_NOMEMORY[];

// ---- what the estimator runs give back --------------------------------------

// What a pass takes from one estimator run: the log-likelihood under
// disequilibrium and the disequilibrium chi-square as its report prints
// them, and whether the step cap ended the EM.
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

// ---- the state ------------------------------------------------------------

// What a signal handler may touch: lock-free atomics only. The program's
// handler (main) finds them through the state it runs.
constexpr int HFP_MAXCHILDREN = 1024;
struct hfpsignals_t {
  std::atomic<int> runphase{0}; // temporary files may exist
  std::atomic<int> caught{0};   // the signal received during the run phase
  std::atomic<int> abandoned{0};
  std::atomic<int> children[HFP_MAXCHILDREN] = {};
};

// The passes' hand-over between the main thread and the workers.
struct passslot_t {
  std::vector<indiv_t> people;
  passresult_t result;
  bool done = false;
};
struct passpool_t {
  std::mutex mu;
  std::condition_variable work, ready;
  std::vector<passslot_t> slots;
  std::vector<std::thread> threads;
  int submitted = 0, claimed = 0;
  int firstfailed = 0; // no pass after a failed one is started
  bool stopping = false;
};

// One estimator library state of a worker (--in-process).
struct hfpengine_t {
  hfstate_t *state = nullptr;
  std::vector<geno_t> records;
  int columns = 0; // loci columns that may hold alleles of an earlier run
};

struct hfp_t {
  // Settings.
  int seed = HS_DEFAULT_SEED;
  int hapwise = 1;       // per-haplotype analysis
  bool inprocess = false;
  double epsh = 1e-6;    // haplotypes above this frequency carry a z

  // The parameter and data files, as the TRELIX readers give them (see
  // txlib.h): the loci, the selection, the blocks, the individuals.
  int nloci = 0, cc = 0, npermute = 0;
  int alleles[TX_MAXLOCI] = {}, sel[TX_MAXLOCI] = {}, selp[TX_MAXLOCI] = {}, selidx[TX_MAXLOCI] = {};
  int selected = -1, selectp = -1, selectn = -1;
  int sample_size = 0, cases = 0;
  std::vector<indiv_t> individuals;
  std::vector<int> nalleles; // place values of the selected loci
  std::vector<int> hap;      // alleles decoded from one haplotype identifier

  // Observed-pass tables and the per-haplotype counts of permuted passes
  // (identifiers held as doubles).
  int nhaps0 = 0, fobs0 = 0, pobs0 = 0;
  std::vector<double> h0, h1, ftobs, hidobs, ftp;
  int nhapcas0 = 0, nhapcon0 = 0, fobsca0 = 0, pobsca0 = 0, fobsco0 = 0, pobsco0 = 0;
  std::vector<double> h1caobs, hidcaobs, h1coobs, hidcoobs;
  std::vector<double> ftccobs, fticcobs, ftssobs, ftpcc;
  std::vector<int> scoredobs; // 1 for the merged rows that carry a z

  // Observed statistics and their counts of permuted values at least as large.
  float x2obs = 0, x2obs1 = 0, x2obs2 = 0, x2obs12 = 0, ll2obs = 0;
  int count0 = 0, count1 = 0, count12 = 0;
  int df = 0, df1 = 0, df2 = 0, df12 = 0;
  long runs = 0, cappedruns = 0; // estimator runs, and those ended by the cap
  std::vector<int> perm, work, first, second; // scratch of the block draws

  // Where the temporary files are: nowhere yet (or in process), in the
  // working directory (one worker), in scratch directories (several). The
  // working directory of each worker: "" for the working directory itself,
  // else "DIR/" of its scratch directory.
  enum { NOFILES, INCWD, INSCRATCH } where = NOFILES;
  std::vector<std::string> workdirs;
  std::string estimator; // the estimator program; empty when there is none

  passpool_t pool;
  std::vector<hfpengine_t> engines;
  hfpsignals_t signals;

  // Set when hfprun fails: the message to print on standard error, or the
  // signal to end the program with; then what the clean-up after the
  // failure has to say (a scratch directory that could not be removed),
  // printed after the message.
  std::string message;
  std::string after_message;
  int signal = 0;

  hfp_t() = default;
  hfp_t(const hfp_t &) = delete;
  hfp_t &operator=(const hfp_t &) = delete;
  ~hfp_t();
};

// ---- temporary files, scratch directories, signals (scratch.cpp) ----------

// Creates the worker directories before the passes.
void makeworkdirs(hfp_t &s, int workers, bool scratch);
// Removes the fixed temporary files (and scratch directories) that exist.
// A directory that cannot be removed is said on standard error, or, with
// later, appended to it for the program to say.
void removetemps(hfp_t &s, std::string *later = nullptr);
// The run phase: while it lasts, temporary files may exist and a signal
// (SIGINT, SIGTERM, SIGHUP) only stops the estimator runs, leaving the
// clean-up to the main thread (hfp_onsignal).
void setrunphase(hfp_t &s, bool on);
int interruption(const hfp_t &s); // the signal received during the run phase, or 0
// What the program's signal handler does with a signal: false when the
// signal is to take its default effect at once.
bool hfp_onsignal(hfpsignals_t &sig, int signo);
// Stops the estimator runs of all workers (a failure elsewhere ends the
// run); runsabandoned() is then true, as after a signal.
void abandonruns(hfp_t &s);
bool runsabandoned(const hfp_t &s);
// Stops and joins the worker threads, if any run.
void stopworkers(hfp_t &s);
// Registers the estimator child of a worker (0: none) so that a signal can
// stop it.
void setchild(hfp_t &s, int worker, int pid);

// ---- estimator runs ---------------------------------------------------------

// Resolves the estimator: hfp's own directory goes first on the search path,
// then hf.sun is looked up there as the shell would.
void findestimator(hfp_t &s);
// Runs one estimator command line without a shell in the worker's
// directory: hf.sun temp.hf REPORT with standard output to hf.tmp, its
// standard error passed on without its "Warning: " lines. A report left by
// an earlier run is removed first. Returns whether the run wrote a
// "Warning: " line: the estimator writes one when its step cap, not its
// gain rule, ended the EM.
bool runestimator(hfp_t &s, int worker, const char *command, const char *report);

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

// The statistics of one pass over the arrangement people (sample_size
// entries), run by worker.
void computepass(hfp_t &s, int worker, const indiv_t *people, int pass, passresult_t &r);

// Draws the permutation of the individuals typed at locus into perm (n
// entries); work is scratch of n entries.
void shuffle(const hfp_t &s, int *perm, int *work, int n, int locus);

// Writes the estimator input of the loci of kind (0 all selected, 1 Block 1,
// 2 Block 2) and the individuals that pass the filter (-1 all, 1 cases,
// 0 controls) to path.
void writetemp(const hfp_t &s, const char *path, const indiv_t *people, int kind, int filter);

// The estimator in process (--in-process): one library state per worker.
void initinprocess(hfp_t &s, int workers);
void freeinprocess(hfp_t &s);
// One estimation of the records that temp.hf would hold, with the values
// (the chi-square included) and the table a report of command would give.
runread_t estimateinprocess(hfp_t &s, int worker, const indiv_t *people, int kind, int filter,
                            const char *command, hapreport_t *table);

// Runs the passes 0 .. npermute on the workers, drawing permutations with
// draw(pass) after pass is submitted, and folding the results in pass order
// with fold(pass, result).
void runpasses(hfp_t &s, int workers, void (*draw)(hfp_t &, int pass),
               void (*fold)(hfp_t &, int pass, const passresult_t &r));

// ---- reading a report (reportread.cpp) ---------------------------------------

// Scans a report from its start for the log-likelihood under
// disequilibrium, and with wantx2 the chi-square after it. A missing
// marker line fails the run naming the command and the report.
void readvalues(FILE *f, const char *path, const char *command, bool wantx2, runread_t &out);
// Reads the F/P counts and the table of nonzero haplotypes of selected + 1
// loci from a report's start; a damaged table fails the run.
void readtable(FILE *f, const char *path, int selected, hapreport_t &t);
// Folds one pass's tables into the observed tables (pass 0) or into the
// counts of permuted values at least as extreme (later passes).
void foldpooled(hfp_t &s, const hapreport_t &t, int pass);
void foldcasecontrol(hfp_t &s, const hapreport_t &cases, const hapreport_t &controls, int pass);
// The alleles of haplotype identifier id over the selected loci.
void revhapid(const hfp_t &s, double id, int *hap);

// One row of the merged case and control tables.
struct mergerow_t {
  double id, hca, hco;
  int code;   // 1 cases only, 0 controls only, 2 both
  int scored; // carries a z statistic
};
// Walks the merge of two identifier-sorted lists (each with its end marker)
// for rows 0 .. rows-1, one step per row; rows above epsh are scored.
void mergerows(const double *hca, const double *idca, const double *hco, const double *idco, int rows,
               double epsh, mergerow_t *out);

// Degrees of freedom of the disequilibrium test over the selected loci of a
// kind (0 all, 1 Block 1, 2 Block 2), and of the association between blocks.
int dfree(const hfp_t &s, int kind);
int dfree12(const hfp_t &s);

// Options before the positional arguments: --jobs N (-j N; 0 means every
// core) and --in-process. Returns the index of the first positional
// argument; a bad option fails with status 1.
struct options_t {
  int jobs = 1;
  bool inprocess = false;
};
int parseoptions(int argc, char **argv, options_t &o);

// The seed argument: an integer at the start of text. Text with no number
// at its start fails with status 1; text after the number is ignored with
// a warning.
int seedvalue(const char *text);

// The whole program. Returns the exit status; on failure the message to
// print on standard error is in s.message, or the signal to end with in
// s.signal.
int hfprun(hfp_t &s, int argc, char **argv);
