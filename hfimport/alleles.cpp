// Allele numbering. Each marker's alleles are numbered 1..L in ascending
// (byte) order of their spelling, over the alleles called in the input's
// samples: A < C < G < T for SNPs, 1 < 2 for numeric codes. The numbers
// thus depend only on the genotypes, not on the file format, the order of
// the samples or the allele order a file happens to store.

#include <algorithm>
#include <map>

#include "hfimport.h"

coded_t number_alleles(window_t &w)
{
  coded_t c;
  size_t n = w.samples.size();
  c.a.assign(w.markers.size(), std::vector<int>(n, 0));
  c.b.assign(w.markers.size(), std::vector<int>(n, 0));
  for (size_t k = 0; k < w.markers.size(); k++) {
    std::map<std::string, int> number;
    for (const call_t &call : w.calls[k])
      if (!call.a.empty()) {
        number[call.a] = 0;
        number[call.b] = 0;
      }
    if (number.empty())
      throw import_error("marker " + w.markers[k].name + " (marker " +
                         std::to_string(w.markers[k].index) + " of the input) has no called "
                         "genotype; choose a window without it");
    marker_t &m = w.markers[k];
    m.alleles.clear();
    for (auto &[spelling, num] : number) {
      m.alleles.push_back(spelling);
      num = static_cast<int>(m.alleles.size());
    }
    for (size_t i = 0; i < n; i++) {
      const call_t &call = w.calls[k][i];
      if (call.a.empty())
        continue;
      int x = number[call.a], y = number[call.b];
      c.a[k][i] = std::min(x, y);
      c.b[k][i] = std::max(x, y);
    }
  }
  return c;
}
