#include "possible.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

std::vector<int> hapk;
std::vector<pattern_t> patterns;
std::vector<int> recpattern;
std::vector<comp_t> comps;
std::vector<int> pairsa, pairsb;
std::vector<double> pairq;

size_t pairbudget = size_t(24) << 20;

size_t densebound = size_t(1) << 24;

namespace {

// Calls fn(number a, number b, hom) for every phase of every completion of
// a genotype, and done() after each completion.
template <class Pair, class Done> void enumerate(const geno_t &rec, Pair pair, Done done)
{
  completion_t cp;
  if (hemizygous(rec)) {
    firstsingle(rec, cp);
    do {
      int k = linenum(loci, cp.a1);
      pair(k, k, 0);
      done();
    } while (nextsingle(cp));
    return;
  }
  int het[HF_MAXLOCI];
  int16_t digits[HF_MAXLOCI + 1], A[HF_MAXLOCI], B[HF_MAXLOCI];
  firstpair(rec, cp);
  do {
    int m = hetloci(cp.a1, cp.a2, het);
    if (m == 0) {
      int k = linenum(loci, cp.a1);
      pair(k, k, 1);
    } else {
      memset(digits, 0, sizeof digits);
      int n = nphases(m);
      for (int t = 0; t < n; t++) {
        phasepair(cp.a1, cp.a2, het, m, digits, A, B);
        pair(linenum(loci, A), linenum(loci, B), 0);
        digit2(1, digits, 0);
      }
    }
    done();
  } while (nextpair(cp));
}

std::string genokey(const geno_t &rec)
{
  int width = hemizygous(rec) ? nloci : 2 * nloci;
  std::string key(reinterpret_cast<const char *>(rec.allele), sizeof(int16_t) * width);
  key.push_back(static_cast<char>(rec.sex != 0));
  return key;
}

bool typedeverywhere(const geno_t &rec)
{
  for (int l = 0; l < nloci; l++) {
    if (hemizygous(rec)) {
      if (allelemissing(rec.allele[l], l))
        return false;
    } else if (allelemissing(rec.allele[2 * l], l) || allelemissing(rec.allele[2 * l + 1], l)) {
      return false;
    }
  }
  return true;
}

void sortunique(std::vector<int> &v)
{
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

} // namespace

int hapindex(int number)
{
  auto it = std::lower_bound(hapk.begin(), hapk.end(), number);
  if (it == hapk.end() || *it != number)
    return -1;
  return static_cast<int>(it - hapk.begin());
}

void hapalleles(int number, int16_t *a)
{
  int r = number - 1;
  for (int l = nloci - 1; l >= 0; l--) {
    a[l] = static_cast<int16_t>(r % loci[l] + 1);
    r /= loci[l];
  }
}

void buildpossible(const geno_t *table)
{
  // Distinct genotypes, in order of first appearance.
  std::unordered_map<std::string, int> seen;
  patterns.clear();
  recpattern.assign(obscom, 0);
  for (int i = 0; i < obscom; i++) {
    auto found = seen.emplace(genokey(table[i]), static_cast<int>(patterns.size()));
    if (found.second) {
      pattern_t pt;
      memset(&pt, 0, sizeof pt);
      pt.rec = table[i];
      pt.hemi = hemizygous(table[i]);
      pt.full = typedeverywhere(table[i]);
      patterns.push_back(pt);
    }
    recpattern[i] = found.first->second;
  }

  // One walk over every genotype: the haplotype numbers it can carry, and
  // its completions and phases stored while the budget allows.
  hapk.clear();
  comps.clear();
  pairsa.clear();
  pairsb.clear();
  // With few possible numbers a table of flags collects them; otherwise a
  // list kept sorted and free of repeats.
  bool flagged = static_cast<size_t>(hapall) <= densebound;
  std::vector<char> carried(flagged ? static_cast<size_t>(hapall) + 1 : 0, 0);
  size_t compact = size_t(1) << 22;
  auto collect = [&](int number) {
    if (flagged) {
      carried[number] = 1;
      return;
    }
    hapk.push_back(number);
    if (hapk.size() > compact) {
      sortunique(hapk);
      compact = std::max(compact, 2 * hapk.size());
    }
  };
  for (size_t p = 0; p < patterns.size(); p++) {
    pattern_t &pt = patterns[p];
    size_t firstcomp = comps.size(), firstpair = pairsa.size();
    bool fits = true;
    comp_t cm = {0, 0, pairsa.size()};
    enumerate(
        pt.rec,
        [&](int a, int b, int hom) {
          collect(a);
          if (b != a)
            collect(b);
          if (!fits)
            return;
          if (pairsa.size() >= pairbudget) {
            fits = false;
            return;
          }
          pairsa.push_back(a);
          pairsb.push_back(b);
          cm.hom = hom;
          cm.n++;
        },
        [&] {
          if (fits)
            comps.push_back(cm);
          cm = {0, 0, pairsa.size()};
        });
    if (fits) {
      pt.cached = 1;
      pt.first = firstcomp;
      pt.ncomp = static_cast<int>(comps.size() - firstcomp);
    } else {
      comps.resize(firstcomp);
      pairsa.resize(firstpair);
      pairsb.resize(firstpair);
    }
  }
  if (flagged) {
    for (int k = 1; k <= hapall; k++)
      if (carried[k])
        hapk.push_back(k);
    carried = std::vector<char>();
  } else {
    sortunique(hapk);
  }
  hapk.shrink_to_fit();

  // Haplotype numbers become positions in hapk: through a table over all
  // numbers when that is small, else by binary search.
  if (flagged) {
    std::vector<int> index(static_cast<size_t>(hapall) + 1, -1);
    for (size_t i = 0; i < hapk.size(); i++)
      index[hapk[i]] = static_cast<int>(i);
    for (size_t t = 0; t < pairsa.size(); t++) {
      pairsa[t] = index[pairsa[t]];
      pairsb[t] = index[pairsb[t]];
    }
  } else {
    for (size_t t = 0; t < pairsa.size(); t++) {
      pairsa[t] = hapindex(pairsa[t]);
      pairsb[t] = hapindex(pairsb[t]);
    }
  }
  pairq.assign(pairsa.size(), 0.0);
  inith(static_cast<int>(hapk.size()));
}

void freepossible()
{
  hapk = std::vector<int>();
  patterns = std::vector<pattern_t>();
  recpattern = std::vector<int>();
  comps = std::vector<comp_t>();
  pairsa = std::vector<int>();
  pairsb = std::vector<int>();
  pairq = std::vector<double>();
}

void enumeratefresh(int p, void (*fn)(const compview_t &, void *), void *context)
{
  std::vector<int> a, b;
  int hom = 0;
  enumerate(
      patterns[p].rec,
      [&](int ka, int kb, int h2) {
        a.push_back(hapindex(ka));
        b.push_back(hapindex(kb));
        hom = h2;
      },
      [&] {
        compview_t v = {hom, static_cast<int>(a.size()), a.data(), b.data()};
        fn(v, context);
        a.clear();
        b.clear();
      });
}
