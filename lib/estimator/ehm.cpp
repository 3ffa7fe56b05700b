// Haplotype counting: the EM that shares each individual's haplotype copies
// out over the haplotype pairs compatible with its genotype.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "possible.h"

namespace {

// Adds to hm the expected haplotype copies of w individuals of a two-allele
// genotype with missing loci, shared out over its completions and their
// phases; total is the genotype's probability.
void countpartial(hfstate_t &s, int p, double w, double total)
{
  double *hm = s.hm.data();
  const double *h = s.h.data();
  double u = total == 0 ? 0 : w / total;
  forcompletions(s, p, [&](const compview_t &v) {
    if (v.hom) {
      int k = v.a[0];
      hm[k] += 2 * h[k] * h[k] * u;
      return;
    }
    for (int t = 0; t < v.n; t++) {
      int ka = v.a[t], kb = v.b[t];
      // A stored term is 2 h(A) h(B) under the current h already.
      double share = (v.q ? v.q[t] : 2 * h[ka] * h[kb]) * u;
      hm[ka] += share;
      hm[kb] += share;
    }
  });
}

// A hemizygous genotype: one haplotype copy per individual.
void counthaploid(hfstate_t &s, int p, double w, double total)
{
  double *c = s.c.data(), *hm = s.hm.data();
  const double *h = s.h.data();
  if (s.patterns[p].full) {
    forcompletions(s, p, [&](const compview_t &v) { c[v.a[0]] += w; });
    return;
  }
  double u = total == 0 ? 0 : w / total;
  forcompletions(s, p, [&](const compview_t &v) { hm[v.a[0]] += h[v.a[0]] * u; });
}

// A two-allele genotype typed at every locus, carried by w individuals.
void countfull(hfstate_t &s, int p, double w, double total)
{
  double *c = s.c.data();
  const double *h = s.h.data();
  forcompletions(s, p, [&](const compview_t &v) {
    if (v.hom) {
      c[v.a[0]] += 2 * w;
      return;
    }
    // A genotype that none of the current haplotypes can make (possible only
    // when it carries no weight in the estimate) contributes nothing.
    if (total == 0)
      return;
    for (int t = 0; t < v.n; t++) {
      int ka = v.a[t], kb = v.b[t];
      // A stored value is the phase's share of the probability already.
      double share = v.q ? v.q[t] : 2 * h[ka] * h[kb] / total;
      c[ka] += share * w;
      c[kb] += share * w;
    }
  });
}

// The expected copies of w individuals of distinct genotype p.
void countgenotype(hfstate_t &s, int p, double w, double total)
{
  const pattern_t &pt = s.patterns[p];
  if (pt.hemi)
    counthaploid(s, p, w, total);
  else if (pt.full)
    countfull(s, p, w, total);
  else
    countpartial(s, p, w, total);
}

// For records set as classes: what one individual of each stored distinct
// genotype adds to c (or hm) under the current h, each term computed as the
// counting functions above compute it for w = 1 and in their order. A
// genotype enumerated afresh is counted by them, individual by individual.
// The haplotypes added to are found once per set of genotypes; a genotype
// typed everywhere that no current haplotype can make adds 0 to each of
// its phases' haplotypes (where the counting adds nothing: the same bits).
// addlayout lays the lists out once per set of genotypes, addvalues fills
// genotype p's under the current h (and its probability), addlists all.
void addlayout(hfstate_t &s)
{
  const size_t np = s.patterns.size();
  if (s.adds.size() == np)
    return;
  s.adds.resize(np);
  s.addk.clear();
  for (size_t p = 0; p < np; p++) {
    const pattern_t &pt = s.patterns[p];
    additions_t &a = s.adds[p];
    a.first = s.addk.size();
    a.hemi = pt.hemi;
    a.to = pt.cached ? (pt.full ? ADD_C : ADD_HM) : ADD_FRESH;
    if (pt.cached)
      forcompletions(s, static_cast<int>(p), [&](const compview_t &v) {
        if (pt.hemi || v.hom) {
          s.addk.push_back(v.a[0]);
          return;
        }
        for (int t = 0; t < v.n; t++) {
          s.addk.push_back(v.a[t]);
          s.addk.push_back(v.b[t]);
        }
      });
    a.n = static_cast<int>(s.addk.size() - a.first);
  }
  s.addv.assign(s.addk.size(), 0.0);
}

void addvalues(hfstate_t &s, size_t p)
{
  const double *h = s.h.data();
  const double w = 1.0;
  const pattern_t &pt = s.patterns[p];
  additions_t &a = s.adds[p];
  a.prob = pt.prob;
  if (a.to == ADD_FRESH)
    return;
  double *val = s.addv.data() + a.first;
  const double total = pt.prob;
  if (pt.full && !pt.hemi) {
    // One completion: its phases' stored shares of the probability.
    const comp_t &cm = s.comps[pt.first];
    if (cm.hom) {
      val[0] = 2 * w;
      return;
    }
    const double *q = s.pairq.data() + cm.first;
    for (int t = 0; t < cm.n; t++)
      val[2 * t] = val[2 * t + 1] = total != 0 ? q[t] * w : 0.0;
    return;
  }
  const double u = total == 0 ? 0 : w / total;
  size_t e = 0;
  forcompletions(s, static_cast<int>(p), [&](const compview_t &v) {
    if (pt.hemi) {
      val[e++] = pt.full ? w : h[v.a[0]] * u;
    } else if (v.hom) {
      val[e++] = 2 * h[v.a[0]] * h[v.a[0]] * u;
    } else {
      for (int t = 0; t < v.n; t++) {
        double share = v.q[t] * u;
        val[e++] = share;
        val[e++] = share;
      }
    }
  });
}

void addlists(hfstate_t &s)
{
  addlayout(s);
  for (size_t p = 0; p < s.patterns.size(); p++)
    addvalues(s, p);
}

// Every distinct genotype's log-likelihood term, as ll adds it: to the
// two-allele sum always, to the one-allele sum when its probability
// exceeds the floor; 0 in the other sum. (The sums start at +0 and their
// terms are logarithms of probabilities, so an added +0 changes no bit.)
void llterms(hfstate_t &s)
{
  const size_t np = s.patterns.size();
  s.logs.resize(2 * np);
  for (size_t p = 0; p < np; p++) {
    const pattern_t &pt = s.patterns[p];
    double term = log(pt.prob);
    s.logs[2 * p] = pt.hemi ? 0.0 : term;
    s.logs[2 * p + 1] = pt.hemi && pt.prob > s.epsh ? term : 0.0;
  }
}

// The rows that the pass below adds up: per distinct genotype typed
// everywhere, its copies to c as a row of W numbers; per genotype with a
// missing locus, its copies to hm as rows in layers (used when they fit in
// the registers). rowlayout finds, once per estimate and width, where each
// stored addition goes, in rows or hmrows (the layers laid out whatever the
// vectors, so that the layout does not depend on the pass that made it).
// The rows' zeros stay from step to step (freepossible empties them for the
// next estimate): each step writes the same entries.
void listmissing(hfstate_t &s);

void rowlayout(hfstate_t &s, int W)
{
  const size_t np = s.patterns.size(), width = static_cast<size_t>(W);
  if (s.rows.size() == np * width && s.addslot.size() == s.addk.size()) {
    if (!s.hmlisted)
      listmissing(s);
    return;
  }
  const additions_t *adds = s.adds.data();
  s.rows.assign(np * width, 0.0);
  s.addslot.assign(s.addk.size(), 0);
  s.layers.assign(np, 0);
  s.layerfirst.assign(np, 0);
  size_t total = 0;
  int seen[16];
  for (size_t p = 0; p < np; p++) {
    const additions_t &a = adds[p];
    if (a.to == ADD_C)
      for (size_t e = a.first, end = a.first + static_cast<size_t>(a.n); e < end; e++)
        s.addslot[e] = p * width + static_cast<size_t>(s.addk[e]);
    if (a.to != ADD_HM)
      continue;
    // A genotype's terms to hm laid out in rows by layers, the j-th term
    // to a haplotype in layer j: a haplotype's terms keep their order.
    for (int j = 0; j < W; j++)
      seen[j] = 0;
    int most = 0;
    for (size_t e = a.first, end = a.first + static_cast<size_t>(a.n); e < end; e++) {
      const int k = s.addk[e];
      s.addslot[e] = (total + static_cast<size_t>(seen[k])) * width + static_cast<size_t>(k);
      most = std::max(most, ++seen[k]);
    }
    s.layers[p] = most;
    s.layerfirst[p] = total;
    total += static_cast<size_t>(most);
  }
  s.hmrows.assign(total * width, 0.0);
  listmissing(s);
}

// The individuals with a missing locus (hmmembers), without a branch on
// each; made for each estimate and released after it.
void listmissing(hfstate_t &s)
{
  const size_t np = s.patterns.size();
  const additions_t *adds = s.adds.data();
  const memberview_t patterns = patternsof(s);
  std::vector<char> &tohm = s.patternflag;
  tohm.resize(np);
  bool some = false;
  for (size_t p = 0; p < np; p++) {
    tohm[p] = adds[p].to == ADD_HM;
    some = some || tohm[p];
  }
  size_t count = 0;
  for (size_t i = 0; some && i < patterns.size(); i++)
    count += static_cast<size_t>(tohm[static_cast<size_t>(patterns[i])]);
  // One place to spare: every individual writes its place, taken or not.
  s.hmmembers.resize(count + 1);
  size_t m = 0;
  for (size_t i = 0; count && i < patterns.size(); i++) {
    s.hmmembers[m] = static_cast<int>(i);
    m += static_cast<size_t>(tohm[static_cast<size_t>(patterns[i])]);
  }
  s.hmmembers.resize(count);
  s.hmlisted = true;
}

// Genotype p's stored additions into its rows (those to hm only when the
// pass takes them in layers).
inline void copyrow(hfstate_t &s, size_t p, bool layered)
{
  const additions_t &a = s.adds[p];
  double *to = a.to == ADD_C ? s.rows.data() : layered && a.to == ADD_HM ? s.hmrows.data() : nullptr;
  if (!to)
    return;
  const size_t *slot = s.addslot.data();
  const double *addv = s.addv.data();
  for (size_t e = a.first, end = a.first + static_cast<size_t>(a.n); e < end; e++)
    to[slot[e]] = addv[e];
}

// Adds the j-th vector of a row to acc, through x, when the row has it.
#define HF_ADDROW(j, acc)                                                                          \
  if (W > L * (j)) {                                                                               \
    memcpy(&x, row + L * (j), sizeof x);                                                           \
    acc += x;                                                                                      \
  }

// The sums of hm over the individuals whose genotype has a missing locus
// (hmmembers), in input order, each genotype's terms in its layers: every
// haplotype's terms keep their order. The sums stay in registers.
template <int W, class V, int L> __attribute__((always_inline)) inline void hmsweep(hfstate_t &s)
{
  static_assert(W / L <= 4, "hm in four vectors at most");
  const V zero = {};
  V h0 = zero, h1 = zero, h2 = zero, h3 = zero, x;
  const int *member = patternsof(s).data(), *layers = s.layers.data();
  const size_t *layerfirst = s.layerfirst.data();
  const double *hmrows = s.hmrows.data();
  for (int i : s.hmmembers) {
    const int p = member[i];
    const double *row = hmrows + layerfirst[p] * W;
    for (int j = 0; j < layers[p]; j++, row += W) {
      HF_ADDROW(0, h0)
      HF_ADDROW(1, h1)
      HF_ADDROW(2, h2)
      HF_ADDROW(3, h3)
    }
  }
  const V hacc[4] = {h0, h1, h2, h3};
  double sums[4 * L];
  memcpy(sums, hacc, sizeof sums);
  for (size_t k = 0; k < s.hapk.size(); k++)
    s.hm[k] = sums[k];
}

// The pass below for W haplotypes or fewer (W a multiple of the lanes L of
// the vector type V), every genotype stored: the copies that an individual
// of a genotype typed at every locus adds to c form a row of W numbers (0
// for the haplotypes it cannot carry; it names each haplotype at most
// once), and c is summed in registers, L at a time. Adding 0 to a sum of
// non-negative terms changes no bit, so each c[k] takes the same terms in
// the same order as the individual additions; a lane of a vector addition
// is the same IEEE addition as a scalar one, so the width changes no bit.
// Without a one-allele genotype every term of the one-allele sum is +0,
// which leaves it +0: that sum is then not taken (HEMI false).
template <int W, bool HEMI, class V, int L>
__attribute__((always_inline)) inline double passloop(hfstate_t &s)
{
  static_assert(W % L == 0 && W / L <= 8, "a row is whole vectors, eight at most");
  const size_t nh = s.hapk.size();
  constexpr bool layered = W / L <= 4;
  const double *rows = s.rows.data(), *logs = s.logs.data(), *addv = s.addv.data();
  const int *addk = s.addk.data();
  const additions_t *adds = s.adds.data();
  double *hm = s.hm.data();
  // The sums of c stay in registers through the pass: a loop unrolled in
  // full over named accumulators (an array indexed in a loop is kept in
  // memory, each addition then waiting on a store).
  const V zero = {};
  V a0 = zero, a1 = zero, a2 = zero, a3 = zero, a4 = zero, a5 = zero, a6 = zero, a7 = zero;
  double diploid = 0, haploid = 0;
  const int *member = patternsof(s).data();
  const size_t nmembers = patternsof(s).size();
  V x;
  if constexpr (layered) {
    // Every individual adds its genotype's row to c, a row of zeros for a
    // genotype with a missing locus (no branch to mispredict); hm's sums
    // follow over those individuals alone.
    for (size_t i = 0; i < nmembers; i++) {
      const int p = member[i];
      diploid += logs[2 * p];
      if (HEMI)
        haploid += logs[2 * p + 1];
      const double *row = rows + static_cast<size_t>(p) * W;
      HF_ADDROW(0, a0)
      HF_ADDROW(1, a1)
      HF_ADDROW(2, a2)
      HF_ADDROW(3, a3)
    }
    hmsweep<W, V, L>(s);
  } else {
    for (size_t i = 0; i < nmembers; i++) {
      const int p = member[i];
      diploid += logs[2 * p];
      if (HEMI)
        haploid += logs[2 * p + 1];
      const additions_t &a = adds[p];
      if (a.to == ADD_C) {
        const double *row = rows + static_cast<size_t>(p) * W;
        HF_ADDROW(0, a0)
        HF_ADDROW(1, a1)
        HF_ADDROW(2, a2)
        HF_ADDROW(3, a3)
        HF_ADDROW(4, a4)
        HF_ADDROW(5, a5)
        HF_ADDROW(6, a6)
        HF_ADDROW(7, a7)
      } else {
        for (size_t e = a.first, end = a.first + static_cast<size_t>(a.n); e < end; e++)
          hm[addk[e]] += addv[e];
      }
    }
  }
#undef HF_ADDROW
  const V acc[8] = {a0, a1, a2, a3, a4, a5, a6, a7};
  double sums[8 * L];
  memcpy(sums, acc, sizeof sums);
  for (size_t k = 0; k < nh; k++)
    s.c[k] = sums[k];
  return HEMI ? diploid + haploid : diploid;
}

typedef double pair_t __attribute__((vector_size(16)));
typedef double quad_t __attribute__((vector_size(32)));

template <int W, bool HEMI> double passrows(hfstate_t &s)
{
  return passloop<W, HEMI, pair_t, 2>(s);
}

// The same pass four lanes wide, for processors with AVX (chosen at run
// time; the bits are the same as above).
template <int W, bool HEMI> __attribute__((target("avx"))) double passquads(hfstate_t &s)
{
  return passloop<W, HEMI, quad_t, 4>(s);
}

typedef double oct_t __attribute__((vector_size(64)));

// Eight lanes, for processors with AVX-512: half the additions of four
// lanes for more than four haplotypes (the bits are the same again).
template <int W, bool HEMI> __attribute__((target("avx512f"))) double passocts(hfstate_t &s)
{
  return passloop<W, HEMI, oct_t, 8>(s);
}

// The processor's features are read once at start-up by the compiler's
// runtime; asking costs a load, so nothing is cached here.
bool wide_vectors()
{
  return __builtin_cpu_supports("avx");
}

// The pass's shape for nh <= 16 haplotypes: vectors of L lanes (the widest
// the processor has, or s.lanes at most) and rows of W numbers, whole
// vectors.
void passshape(const hfstate_t &s, size_t nh, int &W, int &L)
{
  const int n = static_cast<int>(nh);
  if (s.lanes == 0 && n > 4 && __builtin_cpu_supports("avx512f")) {
    L = 8;
    W = n > 8 ? 16 : 8;
  } else if (s.lanes != 2 && wide_vectors()) {
    L = 4;
    W = 4 * std::max(1, std::min(4, (n + 3) / 4));
  } else {
    L = 2;
    W = 2 * std::max(1, std::min(8, (n + 1) / 2));
  }
}

template <bool HEMI> double passrows(hfstate_t &s, int W, int L)
{
  if (L == 8)
    return W > 8 ? passocts<16, HEMI>(s) : passocts<8, HEMI>(s);
  if (L == 4)
    switch (W) {
    case 4: return passquads<4, HEMI>(s);
    case 8: return passquads<8, HEMI>(s);
    case 12: return passquads<12, HEMI>(s);
    default: return passquads<16, HEMI>(s);
    }
  switch (W) {
  case 2: return passrows<2, HEMI>(s);
  case 4: return passrows<4, HEMI>(s);
  case 6: return passrows<6, HEMI>(s);
  case 8: return passrows<8, HEMI>(s);
  case 10: return passrows<10, HEMI>(s);
  case 12: return passrows<12, HEMI>(s);
  case 14: return passrows<14, HEMI>(s);
  default: return passrows<16, HEMI>(s);
  }
}

void zerocopies(hfstate_t &s)
{
  const size_t nh = s.hapk.size();
  double *c = s.c.data(), *hm = s.hm.data();
  for (size_t k = 0; k < nh; k++) {
    c[k] = 0;
    hm[k] = 0;
  }
}

// Makes the pass over the individuals of records set as classes ready: c
// and hm at 0, each distinct genotype's copies and log-likelihood terms
// under the current h. True when every genotype is stored and there are at
// most 16 haplotypes (the passes in rows), with hemi telling whether some
// genotype carries one allele.
bool passready(hfstate_t &s, bool &hemi)
{
  zerocopies(s);
  addlists(s);
  llterms(s);
  bool stored = true;
  hemi = false;
  for (const additions_t &a : s.adds) {
    stored = stored && a.to != ADD_FRESH;
    hemi = hemi || a.hemi;
  }
  return stored && s.hapk.size() <= 16;
}

// The pass of passmembers when some genotype is enumerated afresh.
double passlists(hfstate_t &s)
{
  double *c = s.c.data(), *hm = s.hm.data();
  const int *addk = s.addk.data();
  const double *addv = s.addv.data(), *logs = s.logs.data();
  const additions_t *adds = s.adds.data();
  double diploid = 0, haploid = 0;
  for (int p : patternsof(s)) {
    diploid += logs[2 * p];
    haploid += logs[2 * p + 1];
    const additions_t &a = adds[p];
    if (a.to == ADD_FRESH) {
      countgenotype(s, p, 1.0, a.prob);
      continue;
    }
    double *to = a.to == ADD_C ? c : hm;
    for (size_t e = a.first, end = a.first + static_cast<size_t>(a.n); e < end; e++)
      to[addk[e]] += addv[e];
  }
  return diploid + haploid;
}

// One pass over the individuals of records set as classes, in input order:
// every individual's expected copies added to c and hm as geth adds them,
// and the log-likelihood as ll adds it up, both under the current h (every
// distinct genotype's probability belongs to it).
double passmembers(hfstate_t &s)
{
  bool hemi;
  if (!passready(s, hemi))
    return passlists(s);
  int W, L;
  passshape(s, s.hapk.size(), W, L);
  rowlayout(s, W);
  const bool layered = W / L <= 4;
  for (size_t p = 0; p < s.patterns.size(); p++)
    copyrow(s, p, layered);
  return hemi ? passrows<true>(s, W, L) : passrows<false>(s, W, L);
}

// Genotype p, typed everywhere, two alleles, stored: its probability under
// the current h as patternprob takes it (keeping the phases' shares in
// pairq), with its copies written straight into its row, as addvalues and
// copyrow would write them: a phase's share on both its haplotypes, 2 on a
// homozygote's.
inline double fullrow(hfstate_t &s, size_t p)
{
  const comp_t &cm = s.comps[s.patterns[p].first];
  const double *h = s.h.data();
  const int *pa = s.pairsa.data() + cm.first, *pb = s.pairsb.data() + cm.first;
  const size_t *slot = s.addslot.data() + s.adds[p].first;
  double *rows = s.rows.data();
  double prob = 0;
  if (cm.hom) {
    const double sub = h[pa[0]] * h[pa[0]];
    prob += sub;
    rows[slot[0]] = 2 * 1.0;
    return prob;
  }
  double *q = s.pairq.data() + cm.first;
  double sub = 0;
  for (int t = 0; t < cm.n; t++) {
    const double term = 2 * h[pa[t]] * h[pb[t]];
    q[t] = term;
    sub += term;
  }
  prob += sub;
  for (int t = 0; t < cm.n; t++) {
    double share = 0.0;
    if (prob != 0) {
      q[t] = q[t] / prob;
      share = q[t] * 1.0;
    }
    rows[slot[2 * t]] = share;
    rows[slot[2 * t + 1]] = share;
  }
  return prob;
}

// Genotype p, two alleles, a missing locus, stored: its probability under
// the current h as patternprob takes it (keeping the phase terms in pairq),
// with its copies to hm as addvalues computes them, written into its layers
// when the pass takes them so (else into addv, which the pass reads).
inline double partialrow(hfstate_t &s, size_t p, bool layered)
{
  const pattern_t &pt = s.patterns[p];
  const comp_t *comps = s.comps.data() + pt.first;
  const double *h = s.h.data();
  const int *pairsa = s.pairsa.data(), *pairsb = s.pairsb.data();
  double *pairq = s.pairq.data();
  double prob = 0;
  for (int j = 0; j < pt.ncomp; j++) {
    const comp_t &cm = comps[j];
    const int *pa = pairsa + cm.first, *pb = pairsb + cm.first;
    double sub;
    if (cm.hom) {
      sub = h[pa[0]] * h[pa[0]];
    } else {
      sub = 0;
      double *q = pairq + cm.first;
      for (int t = 0; t < cm.n; t++) {
        const double term = 2 * h[pa[t]] * h[pb[t]];
        q[t] = term;
        sub += term;
      }
    }
    prob += sub;
  }
  const additions_t &a = s.adds[p];
  const double u = prob == 0 ? 0 : 1.0 / prob;
  const size_t *slot = s.addslot.data() + a.first;
  double *val = s.addv.data() + a.first;
  double *hmrows = s.hmrows.data();
  size_t e = 0;
  auto put = [&](double x) {
    if (layered)
      hmrows[slot[e]] = x;
    else
      val[e] = x;
    e++;
  };
  for (int j = 0; j < pt.ncomp; j++) {
    const comp_t &cm = comps[j];
    const int *pa = pairsa + cm.first;
    if (cm.hom) {
      put(2 * h[pa[0]] * h[pa[0]] * u);
      continue;
    }
    const double *q = pairq + cm.first;
    for (int t = 0; t < cm.n; t++) {
      const double share = q[t] * u;
      put(share);
      put(share);
    }
  }
  return prob;
}

// One step on classes: every distinct genotype's probability under the
// current h (genpatterns) and the pass over the individuals (passmembers).
// When every genotype is stored, none carries one allele and there are at
// most 16 haplotypes, each genotype goes from its phase terms to its row
// at once: the same numbers, one walk instead of three.
double stepclasses(hfstate_t &s)
{
  addlayout(s);
  const size_t np = s.patterns.size();
  bool rowsonly = s.hapk.size() <= 16;
  for (size_t p = 0; rowsonly && p < np; p++)
    rowsonly = s.adds[p].to != ADD_FRESH && !s.adds[p].hemi;
  if (!rowsonly) {
    genpatterns(s);
    return passmembers(s);
  }
  int W, L;
  passshape(s, s.hapk.size(), W, L);
  rowlayout(s, W);
  const bool layered = W / L <= 4;
  zerocopies(s);
  // Without a one-allele genotype, llterms' terms: each genotype's
  // logarithm in the two-allele sum, +0 in the other.
  s.logs.resize(2 * np);
  double *logs = s.logs.data();
  for (size_t p = 0; p < np; p++) {
    pattern_t &pt = s.patterns[p];
    pt.prob = s.adds[p].to == ADD_C ? fullrow(s, p) : partialrow(s, p, layered);
    s.adds[p].prob = pt.prob;
    logs[2 * p] = log(pt.prob);
    logs[2 * p + 1] = 0.0;
  }
  return passrows<false>(s, W, L);
}

// The next h from the expected copies in c and hm.
void newh(hfstate_t &s)
{
  int n = static_cast<int>(s.hapk.size());
  double *h = s.h.data(), *c = s.c.data(), *hm = s.hm.data();
  double msum = 0;
  for (int k = 0; k < n; k++)
    msum += hm[k];
  double copies = 2 * s.d_sample + msum + s.h_sample;
  for (int k = 0; k < n; k++)
    h[k] = (c[k] + hm[k]) / copies;
}

} // namespace

void counting(hfstate_t &s, geno_t *table, int i)
{
  // The probability of the genotype under the current h is the sum of its
  // phase terms, which the record holds already.
  countfull(s, s.recpattern[i], table[i].instances, table[i].gprob);
}

void geth(hfstate_t &s, geno_t *table)
{
  if (s.nmembers != 0) {
    passmembers(s);
    newh(s);
    return;
  }
  int n = static_cast<int>(s.hapk.size());
  double *c = s.c.data(), *hm = s.hm.data();
  for (int k = 0; k < n; k++) {
    c[k] = 0;
    hm[k] = 0;
  }
  for (int i = 0; i < s.obscom; i++)
    countgenotype(s, s.recpattern[i], table[i].instances, table[i].gprob);
  newh(s);
}

bool emdone(const hfstate_t &s, double gain, int steps)
{
  return !(gain > s.stopgain) || steps >= s.maxsteps;
}

int ehm(hfstate_t &s, geno_t *table)
{
  s.hapall = 1;
  int eqspec = 0;
  for (int l = 0; l < s.nloci; l++) {
    s.hapall *= s.loci[l];
    eqspec += s.loci[l] - 1;
  }
  int dispec = s.hapall - 1;

  int status = getp(s, table);
  if (status != HF_OK)
    return status;

  int eqseen = 0, seenproduct = 1;
  for (int l = 0; l < s.nloci; l++) {
    int seen = 0;
    for (int a = 0; a < s.loci[l]; a++)
      if (s.p[l][a] >= s.precis)
        seen++;
    eqseen += seen - 1;
    seenproduct *= seen;
  }
  int disseen = seenproduct - 1;
  s.eqseen = eqseen;
  s.eqspec = eqspec;
  s.disseen = disseen;
  s.dispec = dispec;

  // On classes, one pass over the individuals takes the log-likelihood
  // under h and the expected copies that make the next h; a pass after the
  // last step counts in vain. On classes the records' gprob are set once,
  // from the last step's h: the pass reads the genotypes' probabilities.
  const bool classes = s.nmembers != 0;
  if (!classes)
    genall(s, table);
  double l0 = classes ? stepclasses(s) : ll(s, table);
  s.l0 = l0;
  s.steps.clear();

  int iteration = 1;
  double previous = l0, l1 = l0, gain = 0;
  for (;;) {
    if (classes)
      newh(s);
    else
      geth(s, table);
    iteration++;
    if (!classes)
      genall(s, table);
    l1 = classes ? stepclasses(s) : ll(s, table);
    s.steps.push_back(l1);
    gain = l1 - previous;
    previous = l1;
    if (emdone(s, gain, iteration - 1))
      break;
  }
  s.l1 = l1;
  // The list of individuals with a missing locus serves the passes alone:
  // released, so that a state between estimates holds nothing of its own
  // per individual (a scan keeps a state per estimate of a window).
  std::vector<int>().swap(s.hmmembers);
  s.hmlisted = false;
  if (classes)
    for (int i = 0; i < s.obscom; i++)
      table[i].gprob = s.patterns[s.recpattern[i]].prob;

  int rows = 0;
  for (size_t i = 0; i < s.hapk.size(); i++)
    if (s.h[i] > s.epsh)
      rows++;
  s.nhaplotypes = rows;

  hf_result_t &r = s.result;
  r.ll0 = l0;
  r.ll1 = l1;
  r.chi2 = 2 * (l1 - l0);
  r.df = disseen - eqseen;
  r.df_specified = dispec - eqspec;
  r.iterations = iteration - 1;
  r.capped = !emdone(s, gain, 0);
  r.last_gain = gain;
  r.full = s.h_sample + s.fulld;
  r.partial = s.h_msample + s.d_msample;
  r.nhap = 2 * (s.d_sample + s.d_msample) + (s.h_sample + s.h_msample);
  r.nhaplotypes = rows;
  return HF_OK;
}
