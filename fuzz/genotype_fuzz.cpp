#include "genotype_fuzz.h"

#include <set>

#include "harness.h"

selector_t fuzz_selector(uint8_t control, const char *first_chrom)
{
  selector_t sel;
  int from = 1 + ((control >> 2) & 7), span = (control >> 5) & 7;
  switch (control & 3) {
  case 1:
    sel.by_index = true;
    sel.first = from;
    sel.last = from + span;
    break;
  case 2:
    sel.by_region = true;
    sel.chrom = first_chrom;
    sel.from = 1000000L * (from - 1);
    sel.to = sel.from + 10000000L * span;
    break;
  default:
    break;
  }
  return sel;
}

void fuzz_check_window(const window_t &w, const selector_t &sel)
{
  fuzz_check(!w.samples.empty(), "an accepted input has an individual");
  fuzz_check(w.calls.size() == w.markers.size(), "one call list per marker");
  std::set<std::string> ids;
  for (const sample_t &s : w.samples) {
    fuzz_check(ids.insert(s.fid + '\n' + s.iid).second, "samples are unique");
    fuzz_check(s.sex >= SEX_UNKNOWN && s.sex <= SEX_FEMALE, "sex code 0, 1 or 2");
    fuzz_check(s.status >= STATUS_UNKNOWN && s.status <= STATUS_CASE, "status code 0, 1 or 2");
  }
  int previous = 0;
  for (size_t k = 0; k < w.markers.size(); k++) {
    const marker_t &m = w.markers[k];
    fuzz_check(m.index > previous, "markers in input order");
    previous = m.index;
    fuzz_check(wanted(sel, m), "only the chosen markers are kept");
    fuzz_check(w.calls[k].size() == w.samples.size(), "one call per sample");
    for (const call_t &c : w.calls[k])
      fuzz_check(c.a.empty() == c.b.empty(), "a call is missing as a whole");
  }
  window_t copy = w;
  coded_t c;
  try {
    c = number_alleles(copy);
  } catch (const input_error &) {
    return;  // a marker nobody is typed at
  }
  for (size_t k = 0; k < copy.markers.size(); k++) {
    const int alleles = static_cast<int>(copy.markers[k].alleles.size());
    fuzz_check(alleles >= 1, "a typed marker has an allele");
    for (size_t i = 0; i < copy.samples.size(); i++) {
      int a = c.a[k][i], b = c.b[k][i];
      fuzz_check((a == 0) == (b == 0) && a <= b && b <= alleles, "allele numbers in range");
      fuzz_check((a == 0) == copy.calls[k][i].a.empty(), "missing calls get number 0");
      if (a)
        fuzz_check(copy.markers[k].alleles[a - 1] == std::min(copy.calls[k][i].a, copy.calls[k][i].b),
                   "number maps back to the spelling");
    }
  }
}
