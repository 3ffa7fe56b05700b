// The statistics of one window, through the estimator library:
//   ld_*   the estimator's test of marker-marker disequilibrium over every
//          individual typed in the window, as hf reports it;
//   cc_*   2 (lnL cases + lnL controls - lnL pooled), each lnL the
//          log-likelihood under disequilibrium, in double precision;
//   perm_* the case-control labels permuted among the window's individuals
//          with status and the cases and controls re-estimated, until
//          perm_hits permuted statistics reach the observed one or the
//          permutations run out;
//   top_*  the haplotype with the largest |z| between case and control
//          frequencies, among those of pooled frequency >= min_freq.
// Individuals are numbered 1, 2, ... in input order and their alleles as
// hfimport numbers them, so every figure is the one hf (or hfx) and hfp give
// on hfimport's files for the window.

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

} // namespace

struct scan_worker_t {
  hfstate_t *st[2][4] = {};  // [xdata][LD, POOLED, CASES, CONTROLS]
  std::vector<geno_t> all, cc, ca, co;
  std::vector<int8_t> label;  // of cc: 1 case, 0 control
};

scan_worker_t *scan_worker_new()
{
  return new scan_worker_t;
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

// Estimates records on s; the result, or window_failed with what before the
// estimator's reason.
const hf_result_t *estimate(hfstate_t *s, const std::vector<int> &alleles,
                            const std::vector<geno_t> &records, const std::string &what)
{
  int code = hf_set_data(s, alleles.data(), static_cast<int>(alleles.size()), records.data(),
                         records.size());
  if (code == HF_OK)
    code = hf_estimate(s);
  if (code == HF_ENOMEM)
    throw std::bad_alloc();
  if (code != HF_OK)
    throw window_failed(what + brief(hf_message(s)));
  return hf_result(s);
}

// The first marker at which no record of the group is typed, or -1.
int untyped_locus(const std::vector<geno_t> &records, size_t nloci, int xdata)
{
  for (size_t l = 0; l < nloci; l++) {
    bool typed = false;
    for (const geno_t &r : records) {
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

void split_by_label(scan_worker_t *w)
{
  w->ca.clear();
  w->co.clear();
  for (size_t i = 0; i < w->cc.size(); i++)
    (w->label[i] ? w->ca : w->co).push_back(w->cc[i]);
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

  // One record per individual typed at some marker of the window, as
  // hfimport writes them: on the X chromosome a male carries one allele per
  // locus (a heterozygous call is missing) and individuals of unknown sex
  // are left out.
  w->all.clear();
  w->cc.clear();
  w->label.clear();
  geno_t r;
  for (size_t i = 0; i < samples.size(); i++) {
    const sample_t &s = samples[i];
    if (xdata && s.sex == SEX_UNKNOWN)
      continue;
    memset(&r, 0, sizeof r);
    r.id = static_cast<int32_t>(i + 1);
    r.instances = 1;
    bool male = xdata && s.sex == SEX_MALE;
    r.sex = static_cast<int16_t>(xdata && !male ? 1 : 0);
    int typed = 0;
    for (size_t l = 0; l < nloci; l++) {
      int16_t a = ms[l]->a[i], b = ms[l]->b[i];
      if (male) {
        r.allele[l] = a == b ? a : 0;
        typed += r.allele[l] > 0;
      } else {
        r.allele[2 * l] = a;
        r.allele[2 * l + 1] = b;
        typed += a > 0;
      }
    }
    if (!typed)
      continue;
    w->all.push_back(r);
    if (set.casecontrol && s.status != STATUS_UNKNOWN) {
      w->cc.push_back(r);
      w->label.push_back(s.status == STATUS_CASE ? 1 : 0);
    }
  }
  if (w->all.empty())
    throw window_failed(xdata ? "no typed individual of known sex" : "no typed individual");
  int l = untyped_locus(w->all, nloci, xdata);
  if (l >= 0)
    throw window_failed("untyped marker " + ms[l]->m.name +
                        (xdata ? " among individuals of known sex" : ""));
  row.n_indiv = static_cast<long>(w->all.size());

  hfstate_t *ld = state(w, xdata, LD, set);
  const hf_result_t *res = estimate(ld, alleles, w->all, "");
  row.ld_chi2 = res->chi2;
  row.ld_df = res->df;
  row.ld_p = chi2_upper(res->chi2, res->df);
  row.n_haplotypes = res->nhaplotypes;

  if (!set.casecontrol)
    return;
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

  // Permuting labels leaves the pooled sample as it is: one estimate serves
  // the observed statistic and every permuted one. When every typed
  // individual has status it is the disequilibrium test's own estimate.
  hfstate_t *pooled = ld;
  if (w->cc.size() != w->all.size()) {
    pooled = state(w, xdata, POOLED, set);
    estimate(pooled, alleles, w->cc, "pooled sample: ");
  }
  const double ll_pooled = hf_result(pooled)->ll1;
  hfstate_t *cases = state(w, xdata, CASES, set), *controls = state(w, xdata, CONTROLS, set);
  const hf_result_t *rca = estimate(cases, alleles, w->ca, "cases: ");
  const hf_result_t *rco = estimate(controls, alleles, w->co, "controls: ");
  const double observed = 2.0 * (rca->ll1 + rco->ll1 - ll_pooled);
  row.cc_chi2 = observed;

  // cc_df and top_* over the common haplotypes of the pooled sample.
  const int *pn, *cn, *kn;
  const double *ph1, *ph0, *ch1, *kh1, *unused;
  size_t np = hf_haplotypes(pooled, &pn, &ph1, &ph0);
  size_t nc = hf_haplotypes(cases, &cn, &ch1, &unused);
  size_t nk = hf_haplotypes(controls, &kn, &kh1, &unused);
  const double nca = rca->full + rca->partial, nco = rco->full + rco->partial;
  int common = 0, top = 0;
  double topz = -1;
  for (size_t k = 0; k < np; k++) {
    if (!(ph1[k] >= set.min_freq))
      continue;
    common++;
    // z of hfp's case-control table.
    double hca = frequency_of(cn, ch1, nc, pn[k]), hco = frequency_of(kn, kh1, nk, pn[k]);
    if (!(hca > EPSH || hco > EPSH))
      continue;
    double m = (nca * hca + nco * hco) / (nca + nco);
    double v = m * (1 - m) * (0.5 / nca + 0.5 / nco);
    if (!(v > 0))
      continue;
    double z = std::fabs((hca - hco) / std::sqrt(v));
    if (z > topz) {
      topz = z;
      top = pn[k];
      row.top_case_freq = hca;
      row.top_control_freq = hco;
    }
  }
  row.cc_df = common - 1;
  row.cc_p = chi2_upper(observed, row.cc_df);
  if (top) {
    int16_t a[HF_MAXLOCI];
    hf_hapalleles(pooled, top, a);
    bool short_spellings = true;
    for (const auto &m : ms)
      for (const std::string &s : m->m.alleles)
        short_spellings = short_spellings && s.size() == 1;
    for (size_t j = 0; j < nloci; j++) {
      if (j && !short_spellings)
        row.top_haplotype += '_';
      row.top_haplotype += ms[j]->m.alleles[a[j] - 1];
    }
  }

  if (set.permutations <= 0)
    return;
  if (!std::isfinite(observed))
    throw window_failed("case-control statistic is not a number");
  rng_t rng = rng_for_window(set.seed, static_cast<uint64_t>(ms[0]->m.index));
  long n = 0, hits = 0;
  while (n < set.permutations && hits < set.perm_hits) {
    n++;
    rng_shuffle(rng, w->label);
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
  row.perm_p = static_cast<double>(hits + 1) / static_cast<double>(n + 1);
}

} // namespace

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
