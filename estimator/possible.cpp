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

size_t densebound = size_t(1) << 28;

namespace {

// Calls fn(number a, number b, hom) for every phase of every completion of
// a genotype, and done() after each completion.
// The place value of each locus in the haplotype number (the product of the
// allele counts of the loci after it).
int place[HF_MAXLOCI];

// With few enough haplotype numbers, one bit per number tells whether some
// record can carry it, and the count of carried numbers before each word of
// bits gives a number's position in hapk at once.
std::vector<uint64_t> carried;
std::vector<int> rankbefore;

// Calls fn(number a, number b, hom) for every phase of every completion of
// a genotype, and done() after each completion. Phase t exchanges the alleles
// at the heterozygous loci whose bit is set in t (the last one never), so
// its numbers follow from the previous phase's by the place values of the
// loci whose bits change.
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
  int het[HF_MAXLOCI], delta[HF_MAXLOCI];
  char bit[HF_MAXLOCI];
  firstpair(rec, cp);
  do {
    int m = hetloci(cp.a1, cp.a2, het);
    int ka = linenum(loci, cp.a1);
    if (m == 0) {
      pair(ka, ka, 1);
    } else {
      int kb = linenum(loci, cp.a2);
      for (int j = 0; j < m - 1; j++) {
        delta[j] = (cp.a2[het[j]] - cp.a1[het[j]]) * place[het[j]];
        bit[j] = 0;
      }
      int n = nphases(m);
      for (int t = 0; t < n; t++) {
        pair(ka, kb, 0);
        for (int j = 0; j < m - 1; j++) {
          if (bit[j]) {
            bit[j] = 0;
            ka -= delta[j];
            kb += delta[j];
          } else {
            bit[j] = 1;
            ka += delta[j];
            kb -= delta[j];
            break;
          }
        }
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
  if (!carried.empty()) {
    size_t w = static_cast<size_t>(number) >> 6;
    uint64_t below = (uint64_t(1) << (number & 63)) - 1;
    if (!((carried[w] >> (number & 63)) & 1))
      return -1;
    return rankbefore[w] + __builtin_popcountll(carried[w] & below);
  }
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
  place[nloci - 1] = 1;
  for (int l = nloci - 2; l >= 0; l--)
    place[l] = place[l + 1] * loci[l + 1];
  bool flagged = static_cast<size_t>(hapall) <= densebound;
  carried.assign(flagged ? (static_cast<size_t>(hapall) >> 6) + 1 : 0, 0);
  rankbefore.clear();
  size_t compact = size_t(1) << 22;
  auto collect = [&](int number) {
    if (flagged) {
      carried[static_cast<size_t>(number) >> 6] |= uint64_t(1) << (number & 63);
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
    rankbefore.resize(carried.size());
    int count = 0;
    for (size_t w = 0; w < carried.size(); w++) {
      rankbefore[w] = count;
      count += __builtin_popcountll(carried[w]);
    }
    hapk.reserve(count);
    for (size_t w = 0; w < carried.size(); w++)
      for (uint64_t bits = carried[w]; bits; bits &= bits - 1)
        hapk.push_back(static_cast<int>((w << 6) + __builtin_ctzll(bits)));
  } else {
    sortunique(hapk);
  }
  hapk.shrink_to_fit();

  // Haplotype numbers become positions in hapk.
  for (size_t t = 0; t < pairsa.size(); t++) {
    pairsa[t] = hapindex(pairsa[t]);
    pairsb[t] = hapindex(pairsb[t]);
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
  carried = std::vector<uint64_t>();
  rankbefore = std::vector<int>();
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
        compview_t v = {hom, static_cast<int>(a.size()), a.data(), b.data(), nullptr};
        fn(v, context);
        a.clear();
        b.clear();
      });
}
