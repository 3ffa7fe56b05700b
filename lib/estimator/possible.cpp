#include "possible.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Calls fn(number a, number b, hom) for every phase of every completion of
// a genotype, and done() after each completion. Phase t exchanges the alleles
// at the heterozygous s.loci whose bit is set in t (the last one never), so
// its numbers follow from the previous phase's by the s.place values of the
// s.loci whose bits change.
template <class Pair, class Done> void enumerate(hfstate_t &s, const geno_t &rec, Pair pair, Done done)
{
  completion_t cp;
  if (hemizygous(s, rec)) {
    firstsingle(s, rec, cp);
    do {
      int k = linenum(s, s.loci, cp.a1);
      pair(k, k, 0);
      done();
    } while (nextsingle(s, cp));
    return;
  }
  int het[HF_MAXLOCI], delta[HF_MAXLOCI];
  char bit[HF_MAXLOCI];
  firstpair(s, rec, cp);
  do {
    int m = hetloci(s, cp.a1, cp.a2, het);
    int ka = linenum(s, s.loci, cp.a1);
    if (m == 0) {
      pair(ka, ka, 1);
    } else {
      int kb = linenum(s, s.loci, cp.a2);
      for (int j = 0; j < m - 1; j++) {
        delta[j] = (cp.a2[het[j]] - cp.a1[het[j]]) * s.place[het[j]];
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
  } while (nextpair(s, cp));
}

// Two records carry the same genotype when their sex class and alleles
// agree; the hash covers the same.
size_t genowidth(const hfstate_t &s, const geno_t &rec)
{
  return sizeof(int16_t) * static_cast<size_t>(hemizygous(s, rec) ? s.nloci : 2 * s.nloci);
}

uint64_t genohash(const hfstate_t &s, const geno_t &rec)
{
  // Eight bytes at a time; the hash only orders the probes of the table.
  const unsigned char *b = reinterpret_cast<const unsigned char *>(rec.allele);
  uint64_t x = 1469598103934665603ULL ^ static_cast<uint64_t>(rec.sex != 0);
  size_t i = 0, n = genowidth(s, rec);
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    memcpy(&word, b + i, sizeof word);
    x = (x ^ word) * 1099511628211ULL;
    x ^= x >> 32;
  }
  for (; i < n; i++)
    x = (x ^ b[i]) * 1099511628211ULL;
  return x ^ (x >> 29);
}

bool samegenotype(const hfstate_t &s, const geno_t &a, const geno_t &b)
{
  return (a.sex != 0) == (b.sex != 0) && memcmp(a.allele, b.allele, genowidth(s, a)) == 0;
}

bool typedeverywhere(const hfstate_t &s, const geno_t &rec)
{
  for (int l = 0; l < s.nloci; l++) {
    if (hemizygous(s, rec)) {
      if (allelemissing(s, rec.allele[l], l))
        return false;
    } else if (allelemissing(s, rec.allele[2 * l], l) || allelemissing(s, rec.allele[2 * l + 1], l)) {
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

int hapindex(const hfstate_t &s, int number)
{
  if (!s.carried.empty()) {
    size_t w = static_cast<size_t>(number) >> 6;
    uint64_t below = (uint64_t(1) << (number & 63)) - 1;
    if (!((s.carried[w] >> (number & 63)) & 1))
      return -1;
    return s.rankbefore[w] + __builtin_popcountll(s.carried[w] & below);
  }
  auto it = std::lower_bound(s.hapk.begin(), s.hapk.end(), number);
  if (it == s.hapk.end() || *it != number)
    return -1;
  return static_cast<int>(it - s.hapk.begin());
}

void hapalleles(const hfstate_t &s, int number, int16_t *a)
{
  int r = number - 1;
  for (int l = s.nloci - 1; l >= 0; l--) {
    a[l] = static_cast<int16_t>(r % s.loci[l] + 1);
    r /= s.loci[l];
  }
}

void buildpossible(hfstate_t &s, const geno_t *table)
{
  // Distinct genotypes, in order of first appearance, found through an
  // open-addressing table of pattern numbers at most half full.
  size_t slots = 16;
  while (slots < 2 * static_cast<size_t>(s.obscom))
    slots *= 2;
  std::vector<int> &seen = s.patternslot;
  s.patternrecs = table;
  seen.assign(slots, -1);
  s.patterns.clear();
  s.patterns.reserve(s.nmembers == 0 ? 16 : static_cast<size_t>(s.obscom));
  s.recpattern.resize(s.obscom);
  for (int i = 0; i < s.obscom; i++) {
    size_t at = genohash(s, table[i]) & (slots - 1);
    while (seen[at] >= 0 && !samegenotype(s, table[s.patterns[seen[at]].rec], table[i]))
      at = (at + 1) & (slots - 1);
    if (seen[at] < 0) {
      seen[at] = static_cast<int>(s.patterns.size());
      s.patterns.emplace_back();  // every field 0
      pattern_t &pt = s.patterns.back();
      pt.rec = i;
      pt.hemi = hemizygous(s, table[i]);
      pt.full = typedeverywhere(s, table[i]);
    }
    s.recpattern[i] = seen[at];
  }
  // Records of distinct genotypes are their own patterns.
  if (s.patterns.size() == static_cast<size_t>(s.obscom)) {
    s.memberpattern.clear();
  } else {
    s.memberpattern.resize(s.nmembers);
    for (size_t i = 0; i < s.nmembers; i++)
      s.memberpattern[i] = s.recpattern[static_cast<size_t>(s.members[i])];
  }

  // One walk over every genotype: the haplotype numbers it can carry, and
  // its completions and phases stored while the budget allows.
  s.hapk.clear();
  s.comps.clear();
  s.pairsa.clear();
  s.pairsb.clear();
  s.place[s.nloci - 1] = 1;
  for (int l = s.nloci - 2; l >= 0; l--)
    s.place[l] = s.place[l + 1] * s.loci[l + 1];
  bool flagged = static_cast<size_t>(s.hapall) <= s.densebound;
  s.carried.assign(flagged ? (static_cast<size_t>(s.hapall) >> 6) + 1 : 0, 0);
  s.rankbefore.clear();
  size_t compact = size_t(1) << 22;
  auto collect = [&](int number) {
    if (flagged) {
      s.carried[static_cast<size_t>(number) >> 6] |= uint64_t(1) << (number & 63);
      return;
    }
    s.hapk.push_back(number);
    if (s.hapk.size() > compact) {
      sortunique(s.hapk);
      compact = std::max(compact, 2 * s.hapk.size());
    }
  };
  for (size_t p = 0; p < s.patterns.size(); p++) {
    pattern_t &pt = s.patterns[p];
    size_t firstcomp = s.comps.size(), firstpair = s.pairsa.size();
    bool fits = true;
    comp_t cm = {0, 0, s.pairsa.size()};
    enumerate(
        s, table[pt.rec],
        [&](int a, int b, int hom) {
          collect(a);
          if (b != a)
            collect(b);
          if (!fits)
            return;
          if (s.pairsa.size() >= s.pairbudget) {
            fits = false;
            return;
          }
          s.pairsa.push_back(a);
          s.pairsb.push_back(b);
          cm.hom = hom;
          cm.n++;
        },
        [&] {
          if (fits)
            s.comps.push_back(cm);
          cm = {0, 0, s.pairsa.size()};
        });
    if (fits) {
      pt.cached = 1;
      pt.first = firstcomp;
      pt.ncomp = static_cast<int>(s.comps.size() - firstcomp);
    } else {
      s.comps.resize(firstcomp);
      s.pairsa.resize(firstpair);
      s.pairsb.resize(firstpair);
    }
  }
  if (flagged) {
    s.rankbefore.resize(s.carried.size());
    int count = 0;
    for (size_t w = 0; w < s.carried.size(); w++) {
      s.rankbefore[w] = count;
      count += __builtin_popcountll(s.carried[w]);
    }
    s.hapk.reserve(count);
    for (size_t w = 0; w < s.carried.size(); w++)
      for (uint64_t bits = s.carried[w]; bits; bits &= bits - 1)
        s.hapk.push_back(static_cast<int>((w << 6) + __builtin_ctzll(bits)));
  } else {
    sortunique(s.hapk);
  }

  // Haplotype numbers become positions in s.hapk: through a table of every
  // number when there are few (a window of a few markers), else by rank.
  if (static_cast<size_t>(s.hapall) <= (size_t(1) << 16) && !s.hapk.empty() && s.hapk.back() <= s.hapall) {
    std::vector<int> &at = s.happosition;
    at.assign(static_cast<size_t>(s.hapall) + 1, -1);
    for (size_t k = 0; k < s.hapk.size(); k++)
      at[static_cast<size_t>(s.hapk[k])] = static_cast<int>(k);
    for (size_t t = 0; t < s.pairsa.size(); t++) {
      s.pairsa[t] = at[static_cast<size_t>(s.pairsa[t])];
      s.pairsb[t] = at[static_cast<size_t>(s.pairsb[t])];
    }
  } else {
    for (size_t t = 0; t < s.pairsa.size(); t++) {
      s.pairsa[t] = hapindex(s, s.pairsa[t]);
      s.pairsb[t] = hapindex(s, s.pairsb[t]);
    }
  }
  s.pairq.assign(s.pairsa.size(), 0.0);
  inith(s, static_cast<int>(s.hapk.size()));
}

void freepossible(hfstate_t &s)
{
  // The storage stays for the state's next data, whose estimate is often of
  // the same size (a scan's next window).
  s.hapk.clear();
  s.patterns.clear();
  s.recpattern.clear();
  s.patternrecs = nullptr;
  s.comps.clear();
  s.pairsa.clear();
  s.pairsb.clear();
  s.pairq.clear();
  s.carried.clear();
  s.rankbefore.clear();
  s.adds.clear();
  s.rows.clear();
  s.hmrows.clear();
  s.layers.clear();
  s.addslot.clear();
}

void enumeratefresh(hfstate_t &s, int p, void (*fn)(const compview_t &, void *), void *context)
{
  std::vector<int> a, b;
  int hom = 0;
  enumerate(
      s, s.patternrecs[s.patterns[p].rec],
      [&](int ka, int kb, int h2) {
        a.push_back(hapindex(s, ka));
        b.push_back(hapindex(s, kb));
        hom = h2;
      },
      [&] {
        compview_t v = {hom, static_cast<int>(a.size()), a.data(), b.data(), nullptr};
        fn(v, context);
        a.clear();
        b.clear();
      });
}
