// Fuzz target: the sample tables. TABLE=0 the phenotype table (--pheno with
// --pheno-col), 1 the sex table (--sex-file), 2 the trait (read_trait), 3
// the covariate file (read_covariates), 4 the cluster file (read_clusters).
// The input is a control byte (bit 0: match the FID column, as for PLINK
// input; for the trait, bits 1-2 the kind asked and bit 3 the .ped's
// phenotype instead of the table), the samples of the genotype file as
// "FID IID [PHENOTYPE]" lines, the column name (for the covariates a
// comma-separated list of names), then the table (see parts.h).

#include <cmath>
#include <set>

#include "harness.h"
#include "genotypes.h"
#include "parts.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

namespace {

// Rows read are matched or unknown, and at least one is matched.
void check_counts(const table_match_t &m, size_t samples)
{
  fuzz_check(m.rows == m.matched + m.unknown, "every row is matched or unknown");
  fuzz_check(m.matched >= 1 && m.matched <= samples, "an accepted table names 1..n samples");
  fuzz_check(!m.by.empty(), "the way rows were matched is said");
}

[[maybe_unused]] bool value_or_missing(double v)
{
  return std::isnan(v) || std::isfinite(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1)
    return 0;
  const bool match_fid = data[0] & 1;
  std::vector<std::string> p = fuzz_parts(data + 1, size - 1, 3);
  window_t w;
  std::set<std::string> seen;
  size_t at = 0;
  while (at < p[0].size()) {
    size_t end = p[0].find('\n', at);
    if (end == std::string::npos)
      end = p[0].size();
    std::vector<std::string> f = split_words(p[0].substr(at, end - at));
    at = end + 1;
    if (f.size() < 2 || !seen.insert(f[0] + '\n' + f[1]).second)
      continue;
    sample_t s;
    s.fid = f[0];
    s.iid = f[1];
    s.sex = SEX_FEMALE;
    s.status = STATUS_CASE;
    s.pheno = f.size() > 2 ? f[2] : "";
    s.line = static_cast<int>(w.samples.size()) + 1;
    w.samples.push_back(s);
  }
  const std::vector<sample_t> before = w.samples;
  const size_t n = before.size();
  const char *table = fuzz_file("table.txt", p[2]);
#if TABLE <= 1
  try {
#if TABLE == 0
    check_counts(apply_status_table(table, p[1], w, match_fid), n);
#else
    check_counts(apply_sex_table(table, "sex", w, match_fid), n);
#endif
  } catch (const input_error &) {
    for (size_t i = 0; i < n; i++)
      fuzz_check(w.samples[i].status == before[i].status && w.samples[i].sex == before[i].sex,
                 "a refused table changes no sample");
    return 0;
  }
  fuzz_check(w.samples.size() == n, "the table adds or drops no sample");
  for (size_t i = 0; i < n; i++) {
    const sample_t &s = w.samples[i], &b = before[i];
    fuzz_check(s.fid == b.fid && s.iid == b.iid, "the table renames no sample");
#if TABLE == 0
    fuzz_check(s.status >= STATUS_UNKNOWN && s.status <= STATUS_CASE && s.sex == b.sex,
               "only the status changes, to 0, 1 or 2");
#else
    fuzz_check(s.sex >= SEX_UNKNOWN && s.sex <= SEX_FEMALE && s.status == b.status,
               "only the sex changes, to 0, 1 or 2");
#endif
  }
#elif TABLE == 2
  const trait_kind_t kind = static_cast<trait_kind_t>((data[0] >> 1 & 3) % 3);
  const bool from_ped = data[0] & 8;
  trait_t t;
  try {
    t = read_trait(w.samples, from_ped ? "" : table, p[1], kind, match_fid);
  } catch (const input_error &) {
    return 0;
  }
  if (!from_ped)
    check_counts(t, n);
  fuzz_check(t.y.size() == n, "one value per sample");
  fuzz_check(kind == TRAIT_AUTO || t.binary == (kind == TRAIT_BINARY), "the kind asked is taken");
  size_t values = 0;
  for (double y : t.y) {
    fuzz_check(t.binary ? std::isnan(y) || y == 0 || y == 1 : value_or_missing(y),
               "binary values are 0 or 1, quantitative ones finite, or NaN");
    values += !std::isnan(y);
  }
  fuzz_check(from_ped || values <= t.matched, "only the samples named have a value");
  fuzz_check(!t.how.empty() && t.how.find('\n') == std::string::npos, "how is one line");
#elif TABLE == 3
  std::vector<std::string> names;
  for (size_t from = 0; !p[1].empty() && from <= p[1].size();) {
    size_t comma = p[1].find(',', from);
    if (comma == std::string::npos)
      comma = p[1].size();
    names.push_back(p[1].substr(from, comma - from));
    from = comma + 1;
  }
  covariates_t c;
  try {
    c = read_covariates(table, names, w.samples, match_fid);
  } catch (const input_error &) {
    return 0;
  }
  check_counts(c, n);
  fuzz_check(c.x.size() == n, "one row per sample");
  size_t with_value = 0;
  for (const std::vector<double> &row : c.x) {
    fuzz_check(row.size() == c.names.size(), "one value per design column");
    bool any = false;
    for (double v : row) {
      fuzz_check(value_or_missing(v), "values are finite or NaN");
      any = any || !std::isnan(v);
    }
    with_value += any;
  }
  fuzz_check(with_value <= c.matched, "only the samples named have values");
#else
  clusters_t c;
  try {
    c = read_clusters(table, w.samples, match_fid);
  } catch (const input_error &) {
    return 0;
  }
  check_counts(c, n);
  fuzz_check(c.cluster.size() == n, "one cluster per sample");
  std::vector<size_t> members(c.names.size(), 0);
  size_t listed = 0;
  for (int k : c.cluster) {
    fuzz_check(k >= -1 && k < static_cast<int>(c.names.size()), "cluster numbers in range");
    if (k >= 0) {
      members[static_cast<size_t>(k)]++;
      listed++;
    }
  }
  fuzz_check(listed == c.matched, "every sample named has its cluster");
  for (size_t m : members)
    fuzz_check(m > 0, "every cluster has a member");
  fuzz_check(std::set<std::string>(c.names.begin(), c.names.end()).size() == c.names.size(),
             "cluster names are unique");
#endif
  return 0;
}
