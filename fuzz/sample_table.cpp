// Fuzz target: the phenotype table (TABLE=0, --pheno with --pheno-col) and
// the sex table (TABLE=1, --sex-file). The input is a control byte (bit 0:
// match the FID column, as for PLINK input), the samples of the genotype
// file as "FID IID" lines, the column name, then the table (see parts.h).

#include <set>

#include "harness.h"
#include "hfimport.h"
#include "parts.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

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
    w.samples.push_back(s);
  }
  const std::vector<sample_t> before = w.samples;
  const char *table = fuzz_file("table.txt", p[2]);
  try {
#if TABLE == 0
    apply_status_table(table, p[1], w, match_fid);
#else
    apply_sex_table(table, "sex", w, match_fid);
#endif
  } catch (const import_error &) {
    return 0;
  }
  fuzz_check(w.samples.size() == before.size(), "the table adds or drops no sample");
  for (size_t i = 0; i < before.size(); i++) {
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
  return 0;
}
