// hfscan: a window of adjacent markers slid along the genome; per window the
// disequilibrium test, the association test of a binary or quantitative
// trait (a haplotype score test, adjusted for covariates, or the
// case-control likelihood-ratio test) and its permutation p value, through
// the estimator and association libraries, windows spread over threads and
// written in marker order.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "assoc.h"
#include "atomic_output.h"
#include "glm.h"
#include "genotypes.h"
#include "stats.h"

// The request of one run (options.cpp). Bad options throw input_error,
// which ends the program with status 1 as in hfimport.
struct scan_options_t : input_options_t {
  std::string input, output;
  std::string log;           // the run's log: OUTPUT.log, or PREFIX.log with --out
  int window = 4;            // markers per window
  int step = 1;              // markers between window starts
  long permutations = 1000;  // the most permutations per window; 0: none
  long perm_hits = 20;       // stop after this many permuted statistics >= observed
  uint64_t seed = HS_DEFAULT_SEED;
  double min_freq = HS_DEFAULT_MIN_FREQ;    // pooled frequency of the modelled haplotypes
  int em_max_iter = HS_DEFAULT_EM_STEPS;      // the estimator's stopping rule
  double em_gain = HS_DEFAULT_EM_GAIN;
  int jobs = 0;              // threads; 0: one per core
  int chunk = 1, chunks = 1; // this run does part chunk of chunks
  bool quiet = false;
  trait_kind_t trait = TRAIT_AUTO;        // --trait
  bool lrt = false;                       // --test lrt
  assoc_variance_t variance = ASSOC_CONDITIONAL;  // --score-variance
  std::string covar, within;              // --covar, --within
  std::vector<std::string> covar_names;   // --covar-name
  double max_pairs = 1e7;                 // --max-pairs
  bool max_t = false;                     // --max-t
  bool perm_hits_given = false;           // --perm-hits was given
  bool glm = false;                       // --test glm
  bool em_given = false;                  // --em-gain or --em-max-iter given
};
scan_options_t scan_parse(int argc, char **argv);
// Option values, as hfscan reads them (and hfreg): a whole number in
// [least, most], a finite number in [least, below), the --covar-name list.
long scan_whole(const std::string &name, const std::string &value, long least, long most);
double scan_real(const std::string &name, const std::string &value, double least, double below);
void scan_names(const std::string &value, std::vector<std::string> &names);
// Takes the current argument when it is one of the options hfscan and
// hfreg share for the trait, the covariates and the EM: --trait, --covar,
// --covar-name, --min-freq, --em-max-iter, --em-gain, --max-pairs.
bool take_association_option(cmdline_t &c, scan_options_t &o);

// One kept marker, its alleles numbered as hfimport numbers them (ascending
// spelling over the alleles called in any sample): m.alleles[k - 1] spells
// allele k; first(i) <= second(i) are sample i's two numbers, 0 for a
// missing call. problem says why no window can use the marker ("" when it
// can). For A <= 15 alleles each sample's numbers are held as one byte,
// code[i] = a (A + 1) + b in code_bits bits (0 for a missing call), and a
// and b are empty; for more alleles a and b hold them and code is empty.
struct scan_marker_t {
  marker_t m;
  std::vector<int16_t> a, b;
  std::vector<uint8_t> code;
  int code_bits = 0;
  std::string problem;
  size_t calls() const { return code.empty() ? a.size() : code.size(); }
  int16_t first(size_t i) const
  {
    return code.empty() ? a[i] : static_cast<int16_t>(code[i] / (m.alleles.size() + 1));
  }
  int16_t second(size_t i) const
  {
    return code.empty() ? b[i] : static_cast<int16_t>(code[i] % (m.alleles.size() + 1));
  }
};
std::shared_ptr<scan_marker_t> number_marker(const marker_calls_t &mc);

// Windows (windows.cpp): the 0-based kept-marker index of the first marker
// of every window, in marker order. A window holds `window` consecutive kept
// markers of one chromosome; starts step by `step` from each chromosome's
// first marker, and only full windows count. short_markers receives the
// number of markers on chromosome stretches shorter than a window.
std::vector<size_t> window_starts(const std::vector<marker_t> &markers, int window, int step,
                                  size_t &short_markers);
// The largest window of markers with two alleles each whose haplotypes the
// estimator can number.
int largest_snp_window();
// The work of a window: its compatible haplotype pairs summed over its
// distinct genotypes (records as the estimator takes them, each genotype
// once).
double window_pairs(const std::vector<geno_t> &genotypes, const std::vector<int> &alleles, int xdata);
// The windows [lo, hi) of part k (1-based) of n equal contiguous parts of
// total windows.
void chunk_range(size_t total, int k, int n, size_t &lo, size_t &hi);
// A window on the X chromosome (X, 23, chrX) runs the X estimator.
bool x_chromosome(const std::string &chrom);

// The result of one window. NaN doubles and negative counts are NA.
struct scan_row_t {
  std::string chrom, first_marker, last_marker;
  long first_pos = 0, last_pos = 0;
  int n_markers = 0;
  long n_indiv = -1, n_haplotypes = -1;
  double ld_chi2, ld_p;
  int ld_df = -1;
  std::string trait, test;  // binary or quantitative; score or lrt ("" is NA)
  long n_assoc = -1, n_cases = -1, n_controls = -1, n_covariates = -1;
  double assoc_chi2, assoc_p;
  int assoc_df = -1;
  long perm_n = -1, perm_hits = -1;
  double perm_p;
  double fwer_p;              // --max-t: the family-wise p value
  std::string top_haplotype;  // "" is NA
  double top_freq, top_z, top_case_freq, top_control_freq;
  std::string status = "ok";
  scan_row_t();
};

struct scan_settings_t;
struct scan_perm_scratch_t;
// The score test's null model over the usual tested individuals: every
// sample with the trait, every covariate and a stratum (where there are
// strata), in input order. Its data keep n, p and z (empty for the intercept
// alone), not the trait, which the score test does not read.
struct scan_null_t {
  assoc_data_t data;
  assoc_null_t fit;
};
// The score test's permutations of a window (maxt.cpp's score_permutations,
// with the BLAS behind them). A program that runs none leaves it unset and
// so does not link them.
using scan_permuter_t = void (*)(scan_perm_scratch_t &, const scan_settings_t &, uint64_t,
                                 const assoc_null_t &, const assoc_dosage_t &,
                                 const std::vector<int> &, const assoc_test_t &,
                                 const std::vector<size_t> &, const std::vector<uint32_t> &,
                                 const std::vector<size_t> &, scan_row_t &);

// The settings every window shares (stats.cpp), with the trait, the
// covariates and the strata of every sample of the input.
struct scan_settings_t {
  double min_freq = HS_DEFAULT_MIN_FREQ;
  int em_max_iter = HS_DEFAULT_EM_STEPS;
  double em_gain = HS_DEFAULT_EM_GAIN;
  long permutations = 1000, perm_hits = 20;
  uint64_t seed = HS_DEFAULT_SEED;
  double max_pairs = 1e7;
  bool assoc = false;        // a trait is tested
  bool binary = true;        // the trait is binary: y 1 case, 0 control
  bool lrt = false;          // the likelihood-ratio test instead of the score test
  assoc_variance_t variance = ASSOC_CONDITIONAL;
  std::vector<double> y;     // per sample; NaN missing
  size_t ncov = 0;           // covariate columns (dummies counted)
  std::vector<double> cov;   // per sample, ncov each; NaN missing
  std::vector<int> stratum;  // per sample, -1 unlisted; empty without strata
  struct scan_maxt_t *maxt = nullptr;  // --max-t: the permutations every window shares
  std::vector<std::string> cov_names;  // the covariate columns' names
  bool glm = false;          // the haplotype GLM's likelihood-ratio test (glm.h)
  glm_settings_t glm_set;
  std::string glm_base;      // the base haplotype, spelled; "" the most frequent
  scan_permuter_t permute = nullptr;  // score-test permutations; unset: none can run
  // The usual tested individuals' null model, fitted once for the run
  // (read_association_inputs, for the score test) and read by every worker:
  // a window that tests as many individuals tests these. Null: each window
  // fits its own.
  std::shared_ptr<const scan_null_t> null;
};

// The estimator states of one thread, reused from window to window. A
// worker serves the windows of one run: the settings and samples given to
// scan_window stay the same objects, unchanged, for its lifetime.
struct scan_worker_t;
scan_worker_t *scan_worker_new();
void scan_worker_free(scan_worker_t *w);

// Every statistic of the window of markers ms over the samples. Never
// throws: a window that cannot be estimated (an untyped marker, a limit,
// memory) gets its reason in status and NA where a test did not run.
scan_row_t scan_window(scan_worker_t *w, const scan_settings_t &set,
                       const std::vector<sample_t> &samples,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms);

// The haplotype GLM of a window (glm_window.cpp): its fit, the haplotypes
// spelled by position, and the work it reuses. The worker keeps the last
// window's (scan_worker_glm).
struct scan_glm_t {
  hf_posterior_t post;
  glm_data_t data;
  glm_fit_t fit;
  std::vector<std::string> spelled;
  glm_cache_t cache;
};
// Fits the GLM on the pooled estimate of the tested individuals (sample
// index of each in tested) and fills the row's assoc_* and top_*; returns
// "" or why the window has no test.
std::string glm_window(scan_glm_t &g, const scan_settings_t &set,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms,
                       hfstate_t *pooled, const std::vector<size_t> &tested, scan_row_t &row);
const scan_glm_t &scan_worker_glm(const scan_worker_t *w);
// The haplotype of number, as top_haplotype spells it.
std::string scan_spell(hfstate_t *s, int number,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms);

// Seeds and draws (rng.cpp): xoshiro256** seeded through splitmix64 from the
// run's seed and the input index of the window's first marker, so a
// window's draws depend on nothing else; unbiased bounded draws by
// rejection, Fisher-Yates shuffles.
struct rng_t {
  uint64_t s[4];
};
rng_t rng_for_window(uint64_t seed, uint64_t first_index);
// The stream of permutation k of --max-t: the seed and k alone.
rng_t rng_for_permutation(uint64_t seed, uint64_t k);
uint64_t rng_next(rng_t &r);
uint64_t rng_below(rng_t &r, uint64_t n);  // uniform on 0 .. n-1, n >= 1
void rng_shuffle(rng_t &r, std::vector<int8_t> &v);
void rng_shuffle(rng_t &r, uint32_t *v, size_t n);
// The same shuffle, its divisions made by multiplications (the same draws,
// faster): mod holds the multipliers of the bounds 2 .. n (reach(n)).
struct rng_moduli_t {
  std::vector<unsigned __int128> c;
  void reach(size_t n);
};
void rng_shuffle(rng_t &r, uint32_t *v, size_t n, const rng_moduli_t &mod);

// --max-t (maxt.cpp). Permutation k (1 .. P) relabels the samples of the
// input, drawn from the seed and k alone: within each group (every sample,
// or each stratum of --within, members in input order) the members are
// shuffled by Fisher-Yates, and slot[(k - 1) * N + s] is the sample whose
// residual sample s takes. A window tests a subset T of the samples (it
// drops those untyped in it, or without the trait); there the permutation
// is restricted by keeping its order: within each group, the members of T
// in input order take, in turn, the residuals of the members of T in the
// order in which they appear among the group's relabelled slots. A uniform
// relabelling of the samples so restricts to a uniform one of T, the same
// in every window that tests the same individuals.
//
// Every window runs all P permutations. Per permutation and per df the
// largest permuted statistic over the windows is kept; at the end, per
// permutation, the smallest asymptotic p value over the windows is the
// smallest over the df classes of hs_chi2_upper(largest, df) (p is monotone in
// the statistic for a fixed df). Then (Westfall and Young 1993, the
// single-step minP adjustment; as PLINK's --mperm for its omnibus tests)
//   fwer_p(w) = (1 + #{k : min_p(k) <= p_w (1 + 1e-8)}) / (P + 1),
// p_w the window's observed asymptotic p; the factor 1 + 1e-8 keeps a tie
// from being decided by the rounding of sums taken in another order.
struct scan_maxt_t {
  long permutations = 0;
  size_t samples = 0;
  std::vector<uint32_t> slot;         // P x N
  std::vector<uint32_t> members;      // the groups' samples, group after group
  std::vector<size_t> group_first;    // group g: members[group_first[g] .. group_first[g + 1])
  std::mutex mu;
  std::map<int, std::vector<double>> largest;  // df -> per permutation; -inf where none
};
void scan_maxt_init(scan_maxt_t &mt, long permutations, uint64_t seed, size_t samples,
                    const std::vector<int> &stratum);
// Adds one window's permuted statistics (P of them) on df degrees of freedom.
void scan_maxt_add(scan_maxt_t &mt, int df, const std::vector<double> &chi2);
// Per permutation, the smallest p value over the windows added (NaN where
// no window was).
std::vector<double> scan_maxt_min_p(scan_maxt_t &mt);
// fwer_p of a window of observed p value p (NaN when p is).
double scan_fwer(const std::vector<double> &min_p, double p);
// The side file of a part of a run (--chunk K/N with --max-t), written
// atomically to path: per permutation the part's smallest p value, per
// window of the part its observed p value, each exact (%.17g).
std::string scan_maxt_side_path(const std::string &output);
void scan_maxt_write_side(const std::string &path, int chunk, int chunks, uint64_t seed,
                          const std::vector<double> &min_p, const std::vector<double> &window_p);

// The permutations of a window's score test (maxt.cpp): the batches of
// its own adaptive scheme, or the shared permutations of --max-t. The
// tested individual i is sample samples[i]; members and group_first are
// the positions of the tested individuals by stratum (strata_groups).
struct scan_perm_scratch_t {
  assoc_batch_t batch;
  std::vector<double> resid, chi2;
  std::vector<uint32_t> orders, slot;
  std::vector<size_t> resid_of;  // --max-t: the samples resid holds the residuals of
  std::vector<int32_t> pos_of;
  std::vector<uint32_t> slots_in, values_in;
  std::vector<double> work;
  rng_moduli_t moduli;
};
void score_permutations(scan_perm_scratch_t &ps, const scan_settings_t &set, uint64_t first_index,
                        const assoc_null_t &null, const assoc_dosage_t &dosage,
                        const std::vector<int> &genotype, const assoc_test_t &t,
                        const std::vector<size_t> &samples, const std::vector<uint32_t> &members,
                        const std::vector<size_t> &group_first, scan_row_t &row);

// Output (output.cpp): the header line and one row, tab-separated, numbers
// of 10 significant digits (%.10g), NA for what does not apply.
std::string scan_header();
std::string scan_format(const scan_row_t &r);

// Progress on standard error when it is a terminal (progress.cpp).
struct progress_t {
  bool on = false;
  double start = 0, last = -1;
  size_t total = 0;
  void begin(size_t total_windows, bool enabled);
  void update(size_t done);
  void end();
};
double scan_clock();

// Who tells the user: the program named by the messages on standard
// error, and the log of the run that also gets them (none: standard error
// only).
class run_log_t;
struct scan_voice_t {
  const char *program = "hfscan";
  run_log_t *log = nullptr;
};

// Shared with hfreg (run.cpp): the output-is-an-input check and the
// association inputs.
void check_output_is_not_input(const scan_options_t &o, const std::string &output);
// What the summary says about the association test of the whole run.
struct trait_summary_t {
  std::string note;
  // For the log: the individuals with the trait, and how many of them
  // leave the association test for a missing covariate or stratum.
  size_t with_trait = 0, cases = 0, left = 0;
  std::string trait = "none", covariates = "none", strata = "none";
};
trait_summary_t read_association_inputs(const scan_options_t &o, const std::vector<sample_t> &samples,
                                        bool plink, scan_settings_t &set, const scan_voice_t &voice);
// A message on standard error under the program's name, and in the log
// unless to_log is false (for what the log gives as a field of its own);
// tell_note prefixes "note: ". Empty lines are not said.
void tell(const scan_voice_t &v, const std::string &line, bool to_log = true);
void tell_note(const scan_voice_t &v, const std::string &line);
// "1 window", "2 windows".
std::string plural(size_t n, const char *one, const char *many);
