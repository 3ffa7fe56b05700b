// The statistics of one window, through the estimator and association
// libraries:
//   ld_*    the estimator's test of marker-marker disequilibrium over every
//           individual typed in the window, as hf reports it;
//   assoc_* the association of the trait with the haplotypes, over the
//           individuals with the trait and every covariate: by default the
//           haplotype score test on the pooled estimate (assoc.h), or, with
//           --test lrt, 2 (lnL cases + lnL controls - lnL pooled), each lnL
//           the log-likelihood under disequilibrium, in double precision;
//   perm_*  the score test's residuals (or the case-control labels)
//           permuted, within strata when there are strata, until perm_hits
//           permuted statistics reach the observed one or the permutations
//           run out. The pooled estimate does not involve the trait, so the
//           score test's permutations need no EM;
//   top_*   the modelled haplotype with the largest |z|.
// Individuals are numbered 1, 2, ... in input order and their alleles as
// hfimport numbers them, so every estimate is the one hf (or hfx) gives on
// hfimport's files for the window, and the likelihood-ratio test is hfp's.

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "hflib.h"
#include "scan.h"

namespace {

const double NA = std::numeric_limits<double>::quiet_NaN();
// The smallest frequency hfp's tables list; a haplotype below it in both
// groups gets no z.
const double EPSH = 1e-6;

enum { LD, POOLED, CASES, CONTROLS };

// Individuals as the estimator takes them: the genotype class of each, in
// input order, over the window's classes of identical genotypes. The
// classes are the group's own, or those of another array that holds the
// same (shared: nothing of its own).
struct group_t {
  const std::vector<geno_t> *classes = nullptr;
  std::vector<int> own;
  const int *member = nullptr;
  size_t count = 0;
  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  void clear() { own.clear(), member = own.data(), count = 0; }
  void push_back(int c) { own.push_back(c), member = own.data(), count = own.size(); }
  // n classes of its own, to be written.
  int *hold(size_t n) { own.resize(n), member = own.data(), count = n; return own.data(); }
  void share(const int *m, size_t n) { std::vector<int>().swap(own), member = m, count = n; }
  int operator[](size_t i) const { return member[i]; }
  const geno_t &record(size_t i) const { return (*classes)[static_cast<size_t>(member[i])]; }
};

// Keys of multilocus genotypes and their classes, numbered in order of
// first appearance: an open-addressing table at most half full.
struct keymap_t {
  std::vector<uint64_t> key;
  std::vector<int> id;
  size_t count = 0;
  void reset(size_t slots)
  {
    key.assign(slots, 0);
    id.assign(slots, -1);
    count = 0;
  }
  int find_or_add(uint64_t k)
  {
    if (2 * (count + 1) > id.size())
      grow();
    size_t mask = id.size() - 1, at = static_cast<size_t>((k * 0x9E3779B97F4A7C15ULL) >> 20) & mask;
    while (id[at] >= 0 && key[at] != k)
      at = (at + 1) & mask;
    if (id[at] < 0) {
      key[at] = k;
      id[at] = static_cast<int>(count++);
    }
    return id[at];
  }
  void grow()
  {
    std::vector<uint64_t> oldkey;
    std::vector<int> oldid;
    oldkey.swap(key);
    oldid.swap(id);
    size_t slots = std::max<size_t>(64, 2 * oldid.size());
    key.assign(slots, 0);
    id.assign(slots, -1);
    for (size_t j = 0; j < oldid.size(); j++) {
      if (oldid[j] < 0)
        continue;
      size_t at = static_cast<size_t>((oldkey[j] * 0x9E3779B97F4A7C15ULL) >> 20) & (slots - 1);
      while (id[at] >= 0)
        at = (at + 1) & (slots - 1);
      key[at] = oldkey[j];
      id[at] = oldid[j];
    }
  }
};

} // namespace

struct scan_worker_t {
  hfstate_t *st[2][4] = {};  // [xdata][LD, POOLED, CASES, CONTROLS]
  // The window's distinct genotypes, as records, in order of their first
  // individual; the individuals typed in the window (all), those tested
  // (cc), and the cases and controls among them.
  std::vector<geno_t> classes;
  group_t all, cc, ca, co;
  // Per sample: its class among the window's (when typed), and where keys
  // do not fit in 32 bits the genotype's key on the way there. Then, once
  // the window's individuals are found, the class of each of all, in place
  // (all's classes).
  std::vector<uint32_t> cls;
  std::vector<uint64_t> key;
  std::vector<uint8_t> typed;  // per sample: typed at some marker of the window
  keymap_t keys;
  std::vector<int> direct;      // classes by key, for few possible keys
  std::vector<uint64_t> seen;   // the keys met, in order
  // The tested individuals are the samples typed and testable, in input
  // order (each_tested); cc holds classes of its own only when some typed
  // individual is not tested (else it shares all's).
  std::vector<int8_t> label;      // of cc: 1 case, 0 control
  std::vector<uint8_t> testable;  // per sample: 0 not tested, else 1 + its label
  const scan_settings_t *testable_of = nullptr;  // the settings testable was made for
  hf_posterior_t post;
  assoc_data_t data;
  assoc_null_t null;
  // The testable samples left out (untyped) of the window whose tested
  // individuals the worker's null model was fitted on; fitted says whether
  // there is one.
  std::vector<uint32_t> null_left;
  bool fitted = false;
  assoc_dosage_t dosage;
  assoc_test_t test;
  std::vector<int> column;
  std::vector<uint32_t> order, members;
  std::vector<size_t> group_first;
  std::vector<double> work;
  scan_perm_scratch_t perm;            // the score test's permutations
  std::vector<size_t> tested_samples;  // of cc: the sample's input index
  std::vector<int> genotype;           // of cc, for the permutations: its distinct genotype
  scan_glm_t glm;
};

scan_worker_t *scan_worker_new()
{
  scan_worker_t *w = new scan_worker_t;
  for (group_t *g : {&w->all, &w->cc, &w->ca, &w->co})
    g->classes = &w->classes;
  return w;
}

void scan_worker_free(scan_worker_t *w)
{
  if (!w)
    return;
  for (auto &byx : w->st)
    for (hfstate_t *s : byx)
      hf_free(s);
  delete w;
}

namespace {

// A failed window: its reason, and the rest of its row as far as it got.
struct window_failed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The first line of the estimator's message, fit for the status column.
std::string brief(const char *message)
{
  std::string s = message ? message : "";
  size_t start = s.find_first_not_of(" \n\r\t");
  if (start == std::string::npos)
    return "estimator error";
  size_t end = s.find_first_of("\n\r", start);
  s = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
  for (char &c : s)
    if (c == '\t')
      c = ' ';
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

hfstate_t *state(scan_worker_t *w, int xdata, int which, const scan_settings_t &set)
{
  hfstate_t *&s = w->st[xdata][which];
  if (!s) {
    s = hf_new(xdata);
    if (!s)
      throw std::bad_alloc();
  }
  hf_set_stoprule(s, set.em_gain, set.em_max_iter);
  return s;
}

// Estimates the individuals of group g on s; the result, or window_failed
// with what before the estimator's reason.
const hf_result_t *estimate(hfstate_t *s, const std::vector<int> &alleles, const group_t &g,
                            const std::string &what)
{
  int code = hf_set_classes(s, alleles.data(), static_cast<int>(alleles.size()), g.classes->data(),
                            g.classes->size(), g.member, g.size());
  if (code == HF_OK)
    code = hf_estimate(s);
  if (code == HF_ENOMEM)
    throw std::bad_alloc();
  if (code != HF_OK)
    throw window_failed(what + brief(hf_message(s)));
  return hf_result(s);
}

// The first marker at which no individual of the group is typed, or -1.
int untyped_locus(const group_t &g, size_t nloci, int xdata)
{
  for (size_t l = 0; l < nloci; l++) {
    bool typed = false;
    for (size_t i = 0; i < g.size(); i++) {
      const geno_t &r = g.record(i);
      int16_t a = xdata && r.sex == 0 ? r.allele[l] : r.allele[2 * l];
      if (a > 0) {
        typed = true;
        break;
      }
    }
    if (!typed)
      return static_cast<int>(l);
  }
  return -1;
}

// The frequency of haplotype number in a state's table (0 when no record can
// carry it).
double frequency_of(const int *number, const double *h1, size_t n, int which)
{
  size_t lo = 0, hi = n;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (number[mid] < which)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < n && number[lo] == which ? h1[lo] : 0.0;
}


// f(i, s) for each tested individual i, s the input index of its sample, in
// input order.
template <class F> void each_tested(const scan_worker_t *w, F f)
{
  const uint8_t *typed = w->typed.data(), *testable = w->testable.data();
  const size_t n = w->typed.size();
  for (size_t s = 0, i = 0; s < n; s++)
    if (typed[s] && testable[s])
      f(i++, s);
}

void split_by_label(scan_worker_t *w)
{
  w->ca.clear();
  w->co.clear();
  for (size_t i = 0; i < w->cc.size(); i++)
    (w->label[i] ? w->ca : w->co).push_back(w->cc[i]);
}

// The haplotype of number, spelled in the input's alleles (joined by _ when
// some allele is longer than one letter).
std::string spell(hfstate_t *s, int number, const std::vector<std::shared_ptr<const scan_marker_t>> &ms)
{
  int16_t a[HF_MAXLOCI];
  hf_hapalleles(s, number, a);
  bool short_spellings = true;
  for (const auto &m : ms)
    for (const std::string &t : m->m.alleles)
      short_spellings = short_spellings && t.size() == 1;
  std::string out;
  for (size_t j = 0; j < ms.size(); j++) {
    if (j && !short_spellings)
      out += '_';
    out += ms[j]->m.alleles[a[j] - 1];
  }
  return out;
}

// The groups within which permutations move values: positions of the tested
// individuals by stratum, in order (one group without strata). first[s] ..
// first[s + 1] - 1 index members.
void strata_groups(scan_worker_t *w, const scan_settings_t &set)
{
  const size_t n = w->cc.size();
  w->members.clear();
  w->group_first.assign(1, 0);
  if (set.stratum.empty()) {
    for (size_t i = 0; i < n; i++)
      w->members.push_back(static_cast<uint32_t>(i));
    w->group_first.push_back(n);
    return;
  }
  int top = -1;
  each_tested(w, [&](size_t, size_t s) { top = std::max(top, set.stratum[s]); });
  for (int st = 0; st <= top; st++) {
    each_tested(w, [&](size_t i, size_t s) {
      if (set.stratum[s] == st)
        w->members.push_back(static_cast<uint32_t>(i));
    });
    if (w->members.size() > w->group_first.back())
      w->group_first.push_back(w->members.size());
  }
}

// One permutation: the values at each group's positions shuffled among
// themselves. order[i] is the position whose value individual i takes.
void permute_within(scan_worker_t *w, rng_t &rng)
{
  for (size_t g = 0; g + 1 < w->group_first.size(); g++) {
    size_t lo = w->group_first[g], hi = w->group_first[g + 1];
    rng_shuffle(rng, w->order.data() + lo, hi - lo);
  }
}

void lrt_window(scan_worker_t *w, const scan_settings_t &set,
                const std::vector<std::shared_ptr<const scan_marker_t>> &ms,
                const std::vector<int> &alleles, int xdata, hfstate_t *pooled, scan_row_t &row)
{
  const size_t nloci = ms.size();
  int l;
  split_by_label(w);
  row.n_cases = static_cast<long>(w->ca.size());
  row.n_controls = static_cast<long>(w->co.size());
  if (w->ca.empty())
    throw window_failed("no typed case");
  if (w->co.empty())
    throw window_failed("no typed control");
  if ((l = untyped_locus(w->ca, nloci, xdata)) >= 0)
    throw window_failed("no case typed at " + ms[l]->m.name);
  if ((l = untyped_locus(w->co, nloci, xdata)) >= 0)
    throw window_failed("no control typed at " + ms[l]->m.name);

  const double ll_pooled = hf_result(pooled)->ll1;
  hfstate_t *cases = state(w, xdata, CASES, set), *controls = state(w, xdata, CONTROLS, set);
  const hf_result_t *rca = estimate(cases, alleles, w->ca, "cases: ");
  const hf_result_t *rco = estimate(controls, alleles, w->co, "controls: ");
  const double observed = 2.0 * (rca->ll1 + rco->ll1 - ll_pooled);
  row.assoc_chi2 = observed;

  // df over every haplotype of the pooled sample above the estimator's
  // floor; top_* over those of pooled frequency >= min_freq.
  const int *pn, *cn, *kn;
  const double *ph1, *ph0, *ch1, *kh1, *unused;
  size_t np = hf_haplotypes(pooled, &pn, &ph1, &ph0);
  size_t nc = hf_haplotypes(cases, &cn, &ch1, &unused);
  size_t nk = hf_haplotypes(controls, &kn, &kh1, &unused);
  const double nca = rca->full + rca->partial, nco = rco->full + rco->partial;
  int top = 0;
  double topz = -1;
  for (size_t k = 0; k < np; k++) {
    if (!(ph1[k] >= set.min_freq))
      continue;
    // z of hfp's case-control table, signed: positive when more frequent
    // in cases.
    double hca = frequency_of(cn, ch1, nc, pn[k]), hco = frequency_of(kn, kh1, nk, pn[k]);
    if (!(hca > EPSH || hco > EPSH))
      continue;
    double z;
    if (!hs_casecontrol_z(hca, hco, nca, nco, &z))
      continue;
    if (std::fabs(z) > topz) {
      topz = std::fabs(z);
      top = pn[k];
      row.top_freq = ph1[k];
      row.top_z = z;
      row.top_case_freq = hca;
      row.top_control_freq = hco;
    }
  }
  row.assoc_df = hf_result(pooled)->nhaplotypes - 1;
  row.assoc_p = hs_chi2_upper(observed, row.assoc_df);
  if (top)
    row.top_haplotype = spell(pooled, top, ms);

  if (set.permutations <= 0)
    return;
  if (!std::isfinite(observed))
    throw window_failed("case-control statistic is not a number");
  rng_t rng = rng_for_window(set.seed, static_cast<uint64_t>(ms[0]->m.index));
  strata_groups(w, set);
  std::vector<int8_t> held;
  long n = 0, hits = 0;
  while (n < set.permutations && hits < set.perm_hits) {
    n++;
    if (set.stratum.empty()) {
      rng_shuffle(rng, w->label);
    } else {
      w->order.resize(w->label.size());
      for (size_t i = 0; i < w->order.size(); i++)
        w->order[i] = static_cast<uint32_t>(i);
      permute_within(w, rng);
      held = w->label;
      for (size_t g = 0; g + 1 < w->group_first.size(); g++)
        for (size_t q = w->group_first[g]; q < w->group_first[g + 1]; q++)
          w->label[w->members[q]] = held[w->members[w->order[q]]];
    }
    split_by_label(w);
    std::string at = "permutation " + std::to_string(n) + ", ";
    if ((l = untyped_locus(w->ca, nloci, xdata)) >= 0)
      throw window_failed(at + "no case typed at " + ms[l]->m.name);
    if ((l = untyped_locus(w->co, nloci, xdata)) >= 0)
      throw window_failed(at + "no control typed at " + ms[l]->m.name);
    double lca = estimate(cases, alleles, w->ca, at + "cases: ")->ll1;
    double lco = estimate(controls, alleles, w->co, at + "controls: ")->ll1;
    if (2.0 * (lca + lco - ll_pooled) >= observed)
      hits++;
  }
  row.perm_n = n;
  row.perm_hits = hits;
  row.perm_p = hs_permutation_p(hits, n);
}

void score_window(scan_worker_t *w, const scan_settings_t &set,
                  const std::vector<std::shared_ptr<const scan_marker_t>> &ms, int xdata,
                  hfstate_t *pooled, scan_row_t &row)
{
  const size_t n = w->cc.size();
  // The pairs; each individual's genotype is read where the estimator
  // holds it (the window's classes), not copied.
  if (hf_posterior_pairs(pooled, w->post) == HF_ENOMEM)
    throw std::bad_alloc();
  const int *genotype_of;
  // Record i of the pooled estimate is tested individual i: every record
  // is typed somewhere, so the estimator keeps them all.
  if (hf_patterns(pooled, &genotype_of) != n)
    throw window_failed("the pooled estimate lost records");
  const int *number;
  const double *h1, *h0;
  size_t nh = hf_haplotypes(pooled, &number, &h1, &h0);
  // The modelled haplotypes, in haplotype-number order.
  w->column.assign(nh, -1);
  std::vector<size_t> modelled;
  for (size_t a = 0; a < nh; a++)
    if (h1[a] >= set.min_freq) {
      w->column[a] = static_cast<int>(modelled.size());
      modelled.push_back(a);
    }
  const size_t k = modelled.size();
  assoc_dosages(w->post, w->column, k, set.variance == ASSOC_LOUIS, w->dosage);

  // The null model and the design involve only the tested samples. The
  // tested samples lie among the usual ones, so a window that tests as many
  // tests those, and reads the run's model; consecutive windows that test
  // the same others share the worker's.
  const bool usual = set.null && set.null->data.n == n;
  if (!usual) {
    assoc_data_t &d = w->data;
    d.binary = set.binary;
    d.p = 1 + set.ncov;
    // The tested samples are the testable ones but those untyped in the
    // window: the same as at the last fit when the same are left out.
    const uint8_t *typed = w->typed.data(), *testable = w->testable.data();
    const size_t N = w->typed.size();
    bool same = w->fitted && w->null.status.empty() && d.n == n;
    size_t k = 0;
    for (size_t s = 0; same && s < N; s++)
      if (testable[s] && !typed[s])
        same = k < w->null_left.size() && w->null_left[k++] == s;
    same = same && k == w->null_left.size();
    // Without covariates or permutations the model keeps no residuals and
    // weights, but the trait (a byte an individual when binary): the
    // score test takes each from it and the one fitted mean.
    const bool arrays = set.ncov > 0 || set.permutations > 0;
    if (!same) {
      w->fitted = false;
      d.n = n;
      // A binary trait is 0 or 1: as bytes, the same values.
      std::vector<double>().swap(d.y);
      std::vector<uint8_t>().swap(d.cases);
      if (set.binary)
        d.cases.resize(n);
      else
        d.y.resize(n);
      d.z.resize(set.ncov ? n * d.p : 0);
      each_tested(w, [&](size_t i, size_t s) {
        if (set.binary)
          d.cases[i] = set.y[s] > 0.5;
        else
          d.y[i] = set.y[s];
        if (set.ncov) {
          d.z[i * d.p] = 1;
          for (size_t c = 0; c < set.ncov; c++)
            d.z[i * d.p + 1 + c] = set.cov[s * set.ncov + c];
        }
      });
      if (!assoc_fit_null(d, w->null, arrays))
        throw window_failed(w->null.status);
      w->null_left.clear();
      for (size_t s = 0; s < N; s++)
        if (testable[s] && !typed[s])
          w->null_left.push_back(static_cast<uint32_t>(s));
      w->fitted = true;
      // The score test reads the trait only through a model without arrays.
      if (w->null.arrays) {
        std::vector<double>().swap(d.y);
        std::vector<uint8_t>().swap(d.cases);
      }
    }
  }
  const assoc_data_t &d = usual ? set.null->data : w->data;
  const assoc_null_t &null = usual ? set.null->fit : w->null;
  if (!assoc_score(d, null, w->dosage, genotype_of, set.variance, w->test))
    throw window_failed(w->test.status);
  const assoc_test_t &t = w->test;
  row.assoc_chi2 = t.chi2;
  row.assoc_df = t.df;
  row.assoc_p = hs_chi2_upper(t.chi2, t.df);

  // The modelled haplotype with the largest |z|; for a binary trait its
  // expected frequency among the cases and among the controls.
  int top = -1;
  for (size_t j = 0; j < k; j++)
    if (!std::isnan(t.z[j]) && (top < 0 || std::fabs(t.z[j]) > std::fabs(t.z[top])))
      top = static_cast<int>(j);
  if (top >= 0) {
    size_t a = modelled[top];
    row.top_haplotype = spell(pooled, number[a], ms);
    row.top_freq = h1[a];
    row.top_z = t.z[top];
    if (set.binary) {
      // Each sum in input order; an added +0 leaves a sum of non-negative
      // terms as it is, so the other group's term is 0 rather than a branch
      // on the label.
      // The copies are counted as integers (in registers, not an array
      // indexed by the label), exactly the doubles' whole-number sums.
      size_t case_copies = 0, control_copies = 0;
      double cases = 0, controls = 0;
      const double *mean = w->dosage.mean.data() + top;
      for (size_t i = 0; i < n; i++) {
        const bool is_case = w->label[i] != 0;
        const size_t copies = xdata && w->cc.record(i).sex == 0 ? 1 : 2;
        case_copies += is_case ? copies : 0;
        control_copies += is_case ? 0 : copies;
        const double x = mean[static_cast<size_t>(genotype_of[i]) * k];
        cases += is_case ? x : 0.0;
        controls += is_case ? 0.0 : x;
      }
      row.top_case_freq = cases / static_cast<double>(case_copies);
      row.top_control_freq = controls / static_cast<double>(control_copies);
    }
  }

  if (set.permutations <= 0)
    return;
  if (!std::isfinite(t.chi2))
    throw window_failed("score statistic is not a number");
  if (!set.permute)
    throw window_failed("score-test permutations are not part of this program");
  // They move each individual's residual: a model without arrays has none.
  if (!null.arrays)
    throw window_failed("the null model holds no residuals to permute");
  strata_groups(w, set);
  w->genotype.assign(genotype_of, genotype_of + n);
  w->tested_samples.resize(n);
  each_tested(w, [&](size_t i, size_t s) { w->tested_samples[i] = s; });
  set.permute(w->perm, set, static_cast<uint64_t>(ms[0]->m.index), null, w->dosage,
                w->genotype, t, w->tested_samples, w->members, w->group_first, row);
}

// Numbers keys[i] < bound densely, in order of first appearance, over the
// samples whose flag is set (all when flags is null); returns the count.
template <class K> size_t renumber(scan_worker_t *w, K *key, const uint8_t *flags, size_t n, uint64_t bound)
{
  // Few possible keys: a table indexed by key, all -1 between calls.
  const uint64_t DIRECT = uint64_t(1) << 16;
  if (bound <= DIRECT) {
    if (w->direct.size() < bound)
      w->direct.resize(bound, -1);
    int *direct = w->direct.data();
    w->seen.clear();
    for (size_t i = 0; i < n; i++) {
      if (flags && !flags[i])
        continue;
      int &d = direct[key[i]];
      if (d < 0) {
        d = static_cast<int>(w->seen.size());
        w->seen.push_back(key[i]);
      }
      key[i] = static_cast<K>(d);
    }
    for (uint64_t k : w->seen)
      direct[k] = -1;
    return w->seen.size();
  }
  w->keys.reset(64);
  for (size_t i = 0; i < n; i++)
    if (!flags || flags[i])
      key[i] = static_cast<K>(w->keys.find_or_add(key[i]));
  return w->keys.count;
}

void collapsed_classes(scan_worker_t *w, const std::vector<sample_t> &samples,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms, int xdata,
                       size_t nclasses);

// The codes of one sample's markers side by side, the first marker's
// highest.
template <int L> void pack_codes(const uint8_t *const *code, const int *shift, size_t n, uint32_t *out)
{
  for (size_t i = 0; i < n; i++) {
    uint32_t k = 0;
    for (int l = 0; l < L; l++)
      k = (k << shift[l]) | code[l][i];
    out[i] = k;
  }
}

// Each sample's codes of the window ms packed into w->cls, w->typed[i] set
// when they are not all 0 (a missing call's code is 0 and no other's);
// the bits taken, or -1 (and nothing done) when the codes take more than
// 32 bits or a marker has none.
int packed_keys(scan_worker_t *w, const std::vector<std::shared_ptr<const scan_marker_t>> &ms,
                size_t n)
{
  const size_t nloci = ms.size();
  int bits = 0;
  for (const auto &m : ms) {
    if (m->code.size() != n)
      return -1;
    bits += m->code_bits;
  }
  if (bits > 32)
    return -1;
  // At least two bits a marker: at most 16 markers.
  const uint8_t *code[16];
  int shift[16];
  for (size_t l = 0; l < nloci; l++) {
    code[l] = ms[l]->code.data();
    shift[l] = ms[l]->code_bits;
  }
  uint32_t *cls = w->cls.data();
  switch (nloci) {
  case 2: pack_codes<2>(code, shift, n, cls); break;
  case 3: pack_codes<3>(code, shift, n, cls); break;
  case 4: pack_codes<4>(code, shift, n, cls); break;
  case 5: pack_codes<5>(code, shift, n, cls); break;
  case 6: pack_codes<6>(code, shift, n, cls); break;
  default:
    for (size_t i = 0; i < n; i++)
      cls[i] = 0;
    for (size_t l = 0; l < nloci; l++)
      for (size_t i = 0; i < n; i++)
        cls[i] = (cls[i] << shift[l]) | code[l][i];
  }
  uint8_t *typed = w->typed.data();
  for (size_t i = 0; i < n; i++)
    typed[i] = cls[i] != 0;
  return bits;
}

// The classes of the renumbered keys into cls; returns their count.
size_t classes_of_keys(scan_worker_t *w, size_t nclasses)
{
  const uint64_t *key = w->key.data();
  uint32_t *cls = w->cls.data();
  for (size_t i = 0; i < w->cls.size(); i++)
    cls[i] = static_cast<uint32_t>(key[i]);
  return nclasses;
}

// The window's distinct multilocus genotypes, as the estimator's records:
// on the X chromosome a male carries one allele per locus (a heterozygous
// call is missing) and individuals of unknown sex are left out; an
// individual typed at no marker is left out too. On return w->typed[i]
// tells whether sample i is kept and w->cls[i] is then its class in
// w->classes, numbered in order of first appearance; the record of a class
// is that of its first individual. One pass per marker over the samples'
// allele numbers builds each sample's key, a number in mixed radix with a
// digit per marker (and one for the sex on the X chromosome); when the
// next digit would overflow it, the keys are renumbered densely first.
void collapse_window(scan_worker_t *w, const std::vector<sample_t> &samples,
                     const std::vector<std::shared_ptr<const scan_marker_t>> &ms, int xdata)
{
  const size_t n = samples.size(), nloci = ms.size();
  w->cls.resize(n);
  w->typed.resize(n);
  uint8_t *typed = w->typed.data();
  uint64_t bound = xdata ? 2 : 1;  // every key lies below it
  int bits = xdata ? -1 : packed_keys(w, ms, n);
  if (bits >= 0) {
    collapsed_classes(w, samples, ms, xdata, renumber(w, w->cls.data(), typed, n, uint64_t(1) << bits));
    return;
  }
  w->key.resize(n);
  uint64_t *key = w->key.data();
  // Keys that stay small without renumbering, off the X chromosome: one
  // pass over the samples takes every marker's digit.
  if (!xdata && nloci <= 8) {
    const int16_t *as[8], *bs[8];
    const uint8_t *cs[8];
    uint64_t digit[8], base[8];
    bool small = true;
    for (size_t l = 0; l < nloci; l++) {
      const uint64_t A = ms[l]->m.alleles.size();
      digit[l] = A + 1;
      base[l] = (A + 1) * (A + 1);
      small = small && bound <= (uint64_t(1) << 62) / base[l];
      bound *= small ? base[l] : 1;
      as[l] = ms[l]->a.data();
      bs[l] = ms[l]->b.data();
      cs[l] = ms[l]->code.empty() ? nullptr : ms[l]->code.data();
    }
    if (small) {
      // A marker's code is its digit, and 0 only for a missing call.
      for (size_t i = 0; i < n; i++) {
        uint64_t k = 0;
        bool t = false;
        for (size_t l = 0; l < nloci; l++) {
          const uint64_t d = cs[l] ? cs[l][i]
                                   : static_cast<uint64_t>(as[l][i]) * digit[l] + static_cast<uint64_t>(bs[l][i]);
          k = k * base[l] + d;
          t = t || d > 0;
        }
        key[i] = k;
        typed[i] = t;
      }
      collapsed_classes(w, samples, ms, xdata, classes_of_keys(w, renumber(w, key, typed, n, bound)));
      return;
    }
    bound = 1;
  }
  for (size_t i = 0; i < n; i++) {
    key[i] = xdata && samples[i].sex == SEX_MALE ? 1 : 0;
    typed[i] = 0;
  }
  for (size_t l = 0; l < nloci; l++) {
    // Allele numbers lie in 0 (missing) .. A, so a two-allele locus takes
    // (A + 1)^2 codes and a one-allele locus A + 1.
    const uint64_t A = ms[l]->m.alleles.size(), base = (A + 1) * (A + 1);
    if (bound > (uint64_t(1) << 62) / base)
      bound = std::max<size_t>(1, renumber(w, key, nullptr, n, bound));
    const scan_marker_t &mk = *ms[l];
    if (!xdata && !mk.code.empty()) {
      const uint8_t *c = mk.code.data();
      for (size_t i = 0; i < n; i++) {
        key[i] = key[i] * base + c[i];
        typed[i] |= c[i] > 0;
      }
    } else if (!xdata) {
      const int16_t *a = mk.a.data(), *b = mk.b.data();
      for (size_t i = 0; i < n; i++) {
        key[i] = key[i] * base + static_cast<uint64_t>(a[i]) * (A + 1) + static_cast<uint64_t>(b[i]);
        typed[i] |= a[i] > 0;
      }
    } else {
      for (size_t i = 0; i < n; i++) {
        const int16_t a = mk.first(i), b = mk.second(i);
        uint64_t code;
        if (samples[i].sex == SEX_MALE) {
          int16_t one = a == b ? a : 0;
          code = static_cast<uint64_t>(one);
          typed[i] |= one > 0;
        } else {
          code = static_cast<uint64_t>(a) * (A + 1) + static_cast<uint64_t>(b);
          typed[i] |= a > 0;
        }
        key[i] = key[i] * base + code;
      }
    }
    bound *= base;
  }
  if (xdata)
    for (size_t i = 0; i < n; i++)
      typed[i] &= samples[i].sex != SEX_UNKNOWN;
  collapsed_classes(w, samples, ms, xdata, classes_of_keys(w, renumber(w, key, typed, n, bound)));
}

// One record per class, from its first individual.
void collapsed_classes(scan_worker_t *w, const std::vector<sample_t> &samples,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms, int xdata,
                       size_t nclasses)
{
  const size_t n = samples.size(), nloci = ms.size();
  const uint32_t *key = w->cls.data();
  const uint8_t *typed = w->typed.data();
  w->classes.resize(nclasses);
  size_t made = 0;
  for (size_t i = 0; i < n && made < nclasses; i++) {
    if (!typed[i] || key[i] != made)
      continue;
    geno_t &r = w->classes[made++];
    memset(&r, 0, sizeof r);
    r.id = static_cast<int32_t>(i + 1);
    r.instances = 1;
    bool male = xdata && samples[i].sex == SEX_MALE;
    r.sex = static_cast<int16_t>(xdata && !male ? 1 : 0);
    for (size_t l = 0; l < nloci; l++) {
      int16_t a = ms[l]->first(i), b = ms[l]->second(i);
      if (male) {
        r.allele[l] = a == b ? a : 0;
      } else {
        r.allele[2 * l] = a;
        r.allele[2 * l + 1] = b;
      }
    }
  }
}

void fill_window(scan_worker_t *w, const scan_settings_t &set, const std::vector<sample_t> &samples,
                 const std::vector<std::shared_ptr<const scan_marker_t>> &ms, scan_row_t &row)
{
  for (const auto &m : ms)
    if (!m->problem.empty())
      throw window_failed(m->problem);
  const size_t nloci = ms.size();
  const int xdata = x_chromosome(ms[0]->m.chrom) ? 1 : 0;
  std::vector<int> alleles(nloci);
  long long haplotypes = 1;
  for (size_t l = 0; l < nloci; l++) {
    alleles[l] = static_cast<int>(ms[l]->m.alleles.size());
    haplotypes *= alleles[l];
    // The estimator numbers every possible haplotype with a 32-bit integer.
    if (haplotypes > INT_MAX)
      throw window_failed("more possible haplotypes than the estimator can number");
  }
  if (set.assoc) {
    row.trait = set.binary ? "binary" : "quantitative";
    row.test = set.lrt ? "lrt" : set.glm ? "glm" : "score";
    row.n_covariates = static_cast<long>(set.ncov);
  }

  // The individuals typed at some marker of the window, each in its class
  // of identical genotypes. The tested individuals are those with the
  // trait and every covariate (and a stratum, when there are strata).
  if (samples.size() > INT_MAX)
    throw window_failed("more individuals than the estimator can number");
  collapse_window(w, samples, ms, xdata);
  // Per sample, once for the run: 1 + its label when it is tested, 0 when
  // not (the settings stay the same from window to window).
  const size_t n = samples.size();
  if (w->testable_of != &set || w->testable.size() != n) {
    w->testable_of = nullptr;
    w->testable.resize(n);
    for (size_t i = 0; i < n; i++) {
      bool tested = set.assoc && !std::isnan(set.y[i]);
      for (size_t k = 0; tested && k < set.ncov; k++)
        tested = !std::isnan(set.cov[i * set.ncov + k]);
      if (tested && !set.stratum.empty())
        tested = set.stratum[i] >= 0;
      w->testable[i] = static_cast<uint8_t>(tested ? 1 + (set.y[i] > 0.5 ? 1 : 0) : 0);
    }
    w->testable_of = &set;
  }
  // all's classes are written over the samples' (the class of sample i goes
  // to place nall <= i); cc has classes of its own only when some typed
  // individual is not tested.
  {
    const uint8_t *typed = w->typed.data(), *testable = w->testable.data();
    size_t nall = 0, ncc = 0;
    for (size_t i = 0; i < n; i++) {
      nall += typed[i];
      ncc += typed[i] & (testable[i] != 0);
    }
    const bool every_typed = ncc == nall;
    w->label.resize(ncc);
    uint32_t *cls = w->cls.data();
    int *cc = every_typed ? nullptr : w->cc.hold(ncc);
    int8_t *label = w->label.data();
    nall = ncc = 0;
    for (size_t i = 0; i < n; i++) {
      if (!typed[i])
        continue;
      const uint32_t c = cls[i];
      if (testable[i]) {
        if (cc)
          cc[ncc] = static_cast<int>(c);
        label[ncc] = static_cast<int8_t>(testable[i] - 1);
        ncc++;
      }
      cls[nall] = c;
      nall++;
    }
    // Class numbers lie below INT_MAX (the individuals do): the same bits as int.
    w->all.share(reinterpret_cast<const int *>(cls), nall);
    if (!cc)
      w->cc.share(w->all.member, nall);
  }
  if (w->all.empty())
    throw window_failed(xdata ? "no typed individual of known sex" : "no typed individual");
  int l = untyped_locus(w->all, nloci, xdata);
  if (l >= 0)
    throw window_failed("untyped marker " + ms[l]->m.name +
                        (xdata ? " among individuals of known sex" : ""));
  row.n_indiv = static_cast<long>(w->all.size());
  if (set.assoc) {
    row.n_assoc = static_cast<long>(w->cc.size());
    if (set.binary) {
      row.n_cases = 0;
      for (int8_t c : w->label)
        row.n_cases += c;
      row.n_controls = row.n_assoc - row.n_cases;
    }
  }
  double pairs = window_pairs(w->classes, alleles, xdata);
  if (pairs > set.max_pairs) {
    char buf[64];
    snprintf(buf, sizeof buf, pairs < 1e18 ? "%.0f" : "%.3g", pairs);
    throw window_failed(std::string("too many haplotype pairs (") + buf + ")");
  }

  hfstate_t *ld = state(w, xdata, LD, set);
  const hf_result_t *res = estimate(ld, alleles, w->all, "");
  row.ld_chi2 = res->chi2;
  row.ld_df = res->df;
  row.ld_p = hs_chi2_upper(res->chi2, res->df);
  row.n_haplotypes = res->nhaplotypes;

  if (!set.assoc)
    return;
  if (set.binary && row.n_cases == 0)
    throw window_failed("no typed case");
  if (set.binary && row.n_controls == 0)
    throw window_failed("no typed control");
  if (w->cc.empty())
    throw window_failed("no typed individual with the trait");
  if ((l = untyped_locus(w->cc, nloci, xdata)) >= 0)
    throw window_failed("no individual with the trait typed at " + ms[l]->m.name);

  // The pooled estimate does not involve the trait: one estimate serves the
  // observed statistic and every permuted one. When every typed individual
  // is tested it is the disequilibrium test's own estimate.
  hfstate_t *pooled = ld;
  if (w->cc.size() != w->all.size()) {
    pooled = state(w, xdata, POOLED, set);
    estimate(pooled, alleles, w->cc, "pooled sample: ");
  }
  if (set.lrt)
    lrt_window(w, set, ms, alleles, xdata, pooled, row);
  else if (set.glm) {
    std::vector<size_t> tested(w->cc.size());
    each_tested(w, [&](size_t i, size_t s) { tested[i] = s; });
    std::string why = glm_window(w->glm, set, ms, pooled, tested, row);
    if (!why.empty())
      throw window_failed(why);
  } else
    score_window(w, set, ms, xdata, pooled, row);
}

} // namespace

std::string scan_spell(hfstate_t *s, int number,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms)
{
  return spell(s, number, ms);
}

const scan_glm_t &scan_worker_glm(const scan_worker_t *w)
{
  return w->glm;
}

scan_row_t scan_window(scan_worker_t *w, const scan_settings_t &set,
                       const std::vector<sample_t> &samples,
                       const std::vector<std::shared_ptr<const scan_marker_t>> &ms)
{
  scan_row_t row;
  const marker_t &first = ms.front()->m, &last = ms.back()->m;
  row.chrom = first.chrom;
  row.first_marker = first.name;
  row.last_marker = last.name;
  row.first_pos = first.pos;
  row.last_pos = last.pos;
  row.n_markers = static_cast<int>(ms.size());
  try {
    fill_window(w, set, samples, ms, row);
  } catch (const window_failed &e) {
    row.status = e.what();
  } catch (const std::bad_alloc &) {
    row.status = "out of memory";
  } catch (const std::exception &e) {
    row.status = std::string("failed: ") + e.what();
  }
  // A window that failed part-way has only the tests that completed; a
  // partial permutation count is never shown.
  if (row.status != "ok") {
    row.perm_n = row.perm_hits = -1;
    row.perm_p = NA;
  }
  return row;
}
