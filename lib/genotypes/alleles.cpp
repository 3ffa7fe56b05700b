// Allele numbering. Each marker's alleles are numbered 1..L in ascending
// (byte) order of their spelling, over the alleles called in the input's
// samples: A < C < G < T for SNPs, 1 < 2 for numeric codes. The numbers
// thus depend only on the genotypes, not on the file format, the order of
// the samples or the allele order a file happens to store.

#include <algorithm>
#include <map>

#include "genotypes.h"

int number_spellings(const std::vector<std::string> &spellings, const std::vector<bool> &called,
                     std::vector<std::string> &alleles, std::vector<int> &number)
{
  std::map<std::string, int> order;
  for (size_t k = 0; k < spellings.size(); k++)
    if (called[k])
      order[spellings[k]] = 0;
  alleles.clear();
  for (auto &[spelling, num] : order) {
    alleles.push_back(spelling);
    num = static_cast<int>(alleles.size());
  }
  number.assign(spellings.size(), 0);
  for (size_t k = 0; k < spellings.size(); k++)
    if (called[k])
      number[k] = order[spellings[k]];
  return static_cast<int>(alleles.size());
}

coded_t number_alleles(window_t &w)
{
  coded_t c;
  size_t n = w.samples.size();
  c.a.assign(w.markers.size(), std::vector<int>(n, 0));
  c.b.assign(w.markers.size(), std::vector<int>(n, 0));
  for (size_t k = 0; k < w.markers.size(); k++) {
    // The calls as indexes into their spellings, every spelling used.
    std::vector<std::string> spellings;
    std::map<std::string, int> index;
    std::vector<int> x(n, -1), y(n, -1);
    for (size_t i = 0; i < n; i++) {
      const call_t &call = w.calls[k][i];
      if (call.a.empty())
        continue;
      for (const std::string *s : {&call.a, &call.b})
        if (index.emplace(*s, static_cast<int>(spellings.size())).second)
          spellings.push_back(*s);
      x[i] = index[call.a];
      y[i] = index[call.b];
    }
    marker_t &m = w.markers[k];
    std::vector<int> number;
    if (number_spellings(spellings, std::vector<bool>(spellings.size(), true), m.alleles,
                         number) == 0)
      throw input_error("marker " + m.name + " (marker " + std::to_string(m.index) +
                         " of the input) has no called genotype; choose a window without it");
    for (size_t i = 0; i < n; i++) {
      if (x[i] < 0)
        continue;
      c.a[k][i] = std::min(number[x[i]], number[y[i]]);
      c.b[k][i] = std::max(number[x[i]], number[y[i]]);
    }
  }
  return c;
}
