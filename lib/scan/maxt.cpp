// The score test's permutations in batches, and --max-t: the permutations
// every window shares, the largest permuted statistics over the windows,
// fwer_p and the side file of a part (scan.h gives the definitions).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "atomic_output.h"
#include "scan.h"

namespace {

const double NA = std::numeric_limits<double>::quiet_NaN();
// The first line of a side file: its name and the format's version.
const char *const SIDE_MAGIC = "hfscan_max_t\t1";

// A permuted statistic counts as reaching the observed one within the
// rounding of sums taken in another order (as the window's own scheme has
// always counted).
bool reaches(double permuted, double observed)
{
  return permuted >= observed - 1e-10 * std::fabs(observed);
}

// Statistics this close to the count's threshold are computed again one at
// a time, in the order of assoc_permuted, so that every count is that of
// the one-at-a-time computation whatever order the BLAS sums in: the two
// differ by rounding, many orders of magnitude below this band.
bool near_threshold(double permuted, double observed)
{
  double threshold = observed - 1e-10 * std::fabs(observed);
  return std::fabs(permuted - threshold) <= 1e-6 * (1 + std::fabs(observed));
}

// Permutations per batch of a window's adaptive scheme: small first, since
// most windows stop after a few dozen, then doubling.
const size_t FIRST_BATCH = 32, LARGEST_BATCH = 512;
// --max-t keeps the residuals of every permutation while consecutive windows
// test the same individuals, up to this many numbers; beyond, they are
// rebuilt a block of permutations at a time.
const size_t KEPT_RESIDUALS = size_t(1) << 22;

// The window's own scheme: permutations drawn from the window's stream,
// until perm_hits reach the observed statistic or the permutations run
// out. A batch may run past the stop; only the permutations up to it count.
// The residuals are summed by genotype (in the individuals' order, as
// assoc_permuted sums them), and the batch's scores are one product with
// the genotypes' dosages: the individuals are many, their genotypes few.
void adaptive(scan_perm_scratch_t &ps, const scan_settings_t &set, uint64_t first_index,
              const assoc_null_t &null, const assoc_dosage_t &dosage,
              const std::vector<int> &genotype, const assoc_test_t &t,
              const std::vector<uint32_t> &members, const std::vector<size_t> &group_first,
              scan_row_t &row)
{
  const size_t n = genotype.size(), G = dosage.genotypes;
  rng_t rng = rng_for_window(set.seed, first_index);
  // slot[q] for the q-th member: the member whose residual it takes. The
  // shuffles follow one another, as they always have.
  ps.slot.resize(members.size());
  for (size_t q = 0; q < ps.slot.size(); q++)
    ps.slot[q] = static_cast<uint32_t>(q);
  ps.moduli.reach(members.size());
  ps.orders.resize(n);
  ps.work.resize(dosage.k);
  long perms = 0, hits = 0;
  size_t batch = FIRST_BATCH;
  while (perms < set.permutations && hits < set.perm_hits) {
    const size_t b = static_cast<size_t>(std::min<long>(static_cast<long>(batch), set.permutations - perms));
    ps.resid.assign(b * G, 0.0);
    ps.chi2.resize(b);
    uint32_t *o = ps.orders.data();
    for (size_t c = 0; c < b; c++) {
      for (size_t g = 0; g + 1 < group_first.size(); g++) {
        size_t lo = group_first[g], hi = group_first[g + 1];
        rng_shuffle(rng, ps.slot.data() + lo, hi - lo, ps.moduli);
      }
      for (size_t q = 0; q < ps.slot.size(); q++)
        o[members[q]] = members[ps.slot[q]];
      double *rg = ps.resid.data() + c * G;
      for (size_t i = 0; i < n; i++)
        rg[genotype[i]] += null.r[o[i]];
    }
    assoc_permuted_batch_sums(null, dosage, t, ps.resid.data(), b, ps.batch, ps.chi2.data());
    for (size_t c = 0; c < b && perms < set.permutations && hits < set.perm_hits; c++) {
      perms++;
      double s = ps.chi2[c];
      if (near_threshold(s, t.chi2))
        s = assoc_permuted_sums(null, dosage, t, ps.resid.data() + c * G, ps.work.data());
      if (reaches(s, t.chi2))
        hits++;
    }
    batch = std::min(2 * batch, LARGEST_BATCH);
  }
  row.perm_n = perms;
  row.perm_hits = hits;
  row.perm_p = hs_permutation_p(hits, perms);
}

// The orders of permutations [k0, k0 + b) restricted to the window's tested
// individuals (scan.h): ps.orders[c * n + i] is the tested individual whose
// residual individual i takes.
void restricted_orders(scan_perm_scratch_t &ps, const scan_maxt_t &mt, const std::vector<size_t> &samples,
                       size_t k0, size_t b)
{
  const size_t n = samples.size(), N = mt.samples;
  ps.pos_of.assign(N, -1);
  for (size_t i = 0; i < n; i++)
    ps.pos_of[samples[i]] = static_cast<int32_t>(i);
  ps.orders.resize(b * n);
  for (size_t c = 0; c < b; c++) {
    const uint32_t *slot = mt.slot.data() + (k0 + c) * N;
    uint32_t *o = ps.orders.data() + c * n;
    for (size_t g = 0; g + 1 < mt.group_first.size(); g++) {
      ps.slots_in.clear();
      ps.values_in.clear();
      for (size_t q = mt.group_first[g]; q < mt.group_first[g + 1]; q++) {
        uint32_t s = mt.members[q];
        if (ps.pos_of[s] >= 0)
          ps.slots_in.push_back(static_cast<uint32_t>(ps.pos_of[s]));
        if (ps.pos_of[slot[s]] >= 0)
          ps.values_in.push_back(static_cast<uint32_t>(ps.pos_of[slot[s]]));
      }
      for (size_t j = 0; j < ps.slots_in.size(); j++)
        o[ps.slots_in[j]] = ps.values_in[j];
    }
  }
}

void fill_residuals(scan_perm_scratch_t &ps, const assoc_null_t &null, size_t n, size_t b)
{
  ps.resid.resize(b * n);
  for (size_t c = 0; c < b; c++) {
    const uint32_t *o = ps.orders.data() + c * n;
    double *r = ps.resid.data() + c * n;
    for (size_t i = 0; i < n; i++)
      r[i] = null.r[o[i]];
  }
}

// --max-t: every shared permutation, its statistics added to the run's
// largest; the window's own count over them.
void shared(scan_perm_scratch_t &ps, const scan_settings_t &set, const assoc_null_t &null,
            const assoc_dosage_t &dosage, const std::vector<int> &genotype, const assoc_test_t &t,
            const std::vector<size_t> &samples, scan_row_t &row)
{
  scan_maxt_t &mt = *set.maxt;
  const size_t n = samples.size(), P = static_cast<size_t>(mt.permutations);
  assoc_batch_dosages(dosage, genotype, ps.batch);
  ps.chi2.resize(P);
  const bool keep = n * P <= KEPT_RESIDUALS;
  if (keep) {
    // The residuals depend only on the tested samples (the null model is
    // fitted on them): consecutive windows with the same ones share them.
    if (ps.resid_of != samples) {
      ps.resid_of.clear();
      restricted_orders(ps, mt, samples, 0, P);
      fill_residuals(ps, null, n, P);
      ps.resid_of = samples;
    }
    assoc_permuted_batch(null, t, ps.resid.data(), P, ps.batch, ps.chi2.data());
  } else {
    ps.resid_of.clear();
    const size_t block = std::max<size_t>(1, KEPT_RESIDUALS / std::max<size_t>(n, 1));
    for (size_t k0 = 0; k0 < P; k0 += block) {
      size_t b = std::min(block, P - k0);
      restricted_orders(ps, mt, samples, k0, b);
      fill_residuals(ps, null, n, b);
      assoc_permuted_batch(null, t, ps.resid.data(), b, ps.batch, ps.chi2.data() + k0);
    }
  }
  long hits = 0;
  std::vector<uint32_t> order;
  for (size_t k = 0; k < P; k++) {
    double s = ps.chi2[k];
    if (near_threshold(s, t.chi2)) {
      // The order of permutation k alone, restricted again.
      restricted_orders(ps, mt, samples, k, 1);
      order.assign(ps.orders.begin(), ps.orders.begin() + static_cast<long>(n));
      s = assoc_permuted(null, dosage, genotype, t, order, ps.work);
    }
    if (reaches(s, t.chi2))
      hits++;
  }
  scan_maxt_add(mt, t.df, ps.chi2);
  row.perm_n = static_cast<long>(P);
  row.perm_hits = hits;
  row.perm_p = hs_permutation_p(hits, static_cast<long>(P));
}

std::string exact(double x)
{
  if (std::isnan(x))
    return "NA";
  char buf[40];
  snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

} // namespace

void scan_maxt_init(scan_maxt_t &mt, long permutations, uint64_t seed, size_t samples,
                    const std::vector<int> &stratum)
{
  mt.permutations = permutations;
  mt.samples = samples;
  mt.members.clear();
  mt.group_first.assign(1, 0);
  if (stratum.empty()) {
    for (size_t s = 0; s < samples; s++)
      mt.members.push_back(static_cast<uint32_t>(s));
    mt.group_first.push_back(samples);
  } else {
    int top = -1;
    for (int c : stratum)
      top = std::max(top, c);
    for (int c = 0; c <= top; c++) {
      for (size_t s = 0; s < samples; s++)
        if (stratum[s] == c)
          mt.members.push_back(static_cast<uint32_t>(s));
      if (mt.members.size() > mt.group_first.back())
        mt.group_first.push_back(mt.members.size());
    }
  }
  const size_t P = static_cast<size_t>(permutations);
  mt.slot.resize(P * samples);
  std::vector<uint32_t> shuffled;
  rng_moduli_t moduli;
  moduli.reach(samples);
  for (size_t k = 0; k < P; k++) {
    uint32_t *slot = mt.slot.data() + k * samples;
    for (size_t s = 0; s < samples; s++)
      slot[s] = static_cast<uint32_t>(s);  // a sample in no group keeps its own
    rng_t rng = rng_for_permutation(seed, k + 1);
    shuffled = mt.members;
    for (size_t g = 0; g + 1 < mt.group_first.size(); g++) {
      size_t lo = mt.group_first[g], hi = mt.group_first[g + 1];
      rng_shuffle(rng, shuffled.data() + lo, hi - lo, moduli);
    }
    for (size_t q = 0; q < shuffled.size(); q++)
      slot[mt.members[q]] = shuffled[q];
  }
  mt.largest.clear();
}

void scan_maxt_add(scan_maxt_t &mt, int df, const std::vector<double> &chi2)
{
  std::lock_guard<std::mutex> lock(mt.mu);
  std::vector<double> &top = mt.largest[df];
  if (top.empty())
    top.assign(static_cast<size_t>(mt.permutations), -std::numeric_limits<double>::infinity());
  for (size_t k = 0; k < top.size(); k++)
    top[k] = std::max(top[k], chi2[k]);
}

std::vector<double> scan_maxt_min_p(scan_maxt_t &mt)
{
  std::lock_guard<std::mutex> lock(mt.mu);
  std::vector<double> min_p(static_cast<size_t>(mt.permutations), NA);
  for (const auto &dt : mt.largest)
    for (size_t k = 0; k < min_p.size(); k++) {
      double p = hs_chi2_upper(dt.second[k], dt.first);
      if (std::isnan(min_p[k]) || p < min_p[k])
        min_p[k] = p;
    }
  return min_p;
}

double scan_fwer(const std::vector<double> &min_p, double p)
{
  if (std::isnan(p))
    return NA;
  const double bound = p * (1 + 1e-8);
  long count = 0;
  for (double m : min_p)
    count += m <= bound;  // NaN (no window in a permutation) never counts
  return static_cast<double>(count + 1) / static_cast<double>(min_p.size() + 1);
}

std::string scan_maxt_side_path(const std::string &output)
{
  return output + ".maxt";
}

// One line of magic, the part and the run's seed, then
//   perm <TAB> k <TAB> the part's smallest p value in permutation k
// for k = 1 .. P, and
//   window <TAB> j <TAB> the observed p value of the part's j-th window
// for every row of the part's table, NA where there is none.
void scan_maxt_write_side(const std::string &path, int chunk, int chunks, uint64_t seed,
                          const std::vector<double> &min_p, const std::vector<double> &window_p)
{
  atomic_output_t out(path);
  std::string text = std::string(SIDE_MAGIC) + "\n";
  text += "chunk\t" + std::to_string(chunk) + "\t" + std::to_string(chunks) + "\n";
  text += "seed\t" + std::to_string(seed) + "\n";
  text += "permutations\t" + std::to_string(min_p.size()) + "\n";
  text += "windows\t" + std::to_string(window_p.size()) + "\n";
  out.write(text);
  for (size_t k = 0; k < min_p.size(); k++)
    out.write("perm\t" + std::to_string(k + 1) + "\t" + exact(min_p[k]) + "\n");
  for (size_t j = 0; j < window_p.size(); j++)
    out.write("window\t" + std::to_string(j + 1) + "\t" + exact(window_p[j]) + "\n");
  out.commit();
}

void score_permutations(scan_perm_scratch_t &ps, const scan_settings_t &set, uint64_t first_index,
                        const assoc_null_t &null, const assoc_dosage_t &dosage,
                        const std::vector<int> &genotype, const assoc_test_t &t,
                        const std::vector<size_t> &samples, const std::vector<uint32_t> &members,
                        const std::vector<size_t> &group_first, scan_row_t &row)
{
  if (set.maxt)
    shared(ps, set, null, dosage, genotype, t, samples, row);
  else
    adaptive(ps, set, first_index, null, dosage, genotype, t, members, group_first, row);
}
