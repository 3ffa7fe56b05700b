// Records given as classes of identical genotypes give, to the last bit,
// what records one per individual give.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "hf.h"

namespace {

using state_ptr = std::unique_ptr<hfstate_t, void (*)(hfstate_t *)>;

// A sample drawn from a fixed generator: individuals of nclasses genotypes
// (class 0 typed nowhere), each individual's class drawn with weights that
// favour the first classes, so sums over individuals interleave the classes.
struct sample_t {
  std::vector<int> alleles;
  std::vector<geno_t> classes;
  std::vector<int> member;
};

struct case_t {
  const char *name;
  int xdata;
  std::vector<int> alleles;
  double missing;       // chance that a locus of a class is untyped
  double males;         // chance that a class is one allele per locus (X)
  int nclasses, n;
  size_t pairbudget;    // phases stored (0: the default)
};

uint64_t draw(uint64_t &x)
{
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return x;
}

sample_t makesample(const case_t &c, uint64_t seed)
{
  sample_t s;
  s.alleles = c.alleles;
  const size_t nloci = c.alleles.size();
  uint64_t x = seed;
  for (int k = 0; k < c.nclasses; k++) {
    geno_t r;
    memset(&r, 0, sizeof r);
    r.id = k + 1;
    r.instances = 7;  // ignored: a class counts its individuals
    bool male = c.xdata && static_cast<double>(draw(x) % 1000) < 1000 * c.males;
    r.sex = male ? 0 : 1;
    for (size_t l = 0; k > 0 && l < nloci; l++) {
      bool untyped = static_cast<double>(draw(x) % 1000) < 1000 * c.missing;
      int16_t a = untyped ? 0 : static_cast<int16_t>(1 + draw(x) % c.alleles[l]);
      int16_t b = untyped ? 0 : static_cast<int16_t>(1 + draw(x) % c.alleles[l]);
      if (male)
        r.allele[l] = a;
      else {
        // Larger allele first on purpose: the estimator orders them.
        r.allele[2 * l] = std::max(a, b);
        r.allele[2 * l + 1] = std::min(a, b);
      }
    }
    s.classes.push_back(r);
  }
  for (int i = 0; i < c.n; i++) {
    uint64_t u = draw(x) % 1000;
    // Class 0 (typed nowhere) and the last class (never drawn) are dropped;
    // the posteriors' patterns leave out the individuals of class 0.
    int k = static_cast<int>(u * u % static_cast<uint64_t>(c.nclasses - 1));
    s.member.push_back(k);
  }
  return s;
}

// The same estimate from records one per individual (a) and from classes (b).
// lanes: the width of the pass over the individuals on classes (0 the
// widest the processor has, 4 at most four lanes, 2 the two-lane pass every
// processor runs).
void expectsame(const case_t &c, const sample_t &s, int lanes)
{
  state_ptr a(hf_new(c.xdata), hf_free), b(hf_new(c.xdata), hf_free);
  b->lanes = lanes;
  if (c.pairbudget) {
    a->pairbudget = c.pairbudget;
    b->pairbudget = c.pairbudget;
  }
  std::vector<geno_t> each;
  for (int k : s.member) {
    each.push_back(s.classes[k]);
    each.back().instances = 1;
  }
  const int nloci = static_cast<int>(s.alleles.size());
  ASSERT_EQ(hf_set_data(a.get(), s.alleles.data(), nloci, each.data(), each.size()), HF_OK);
  ASSERT_EQ(hf_set_classes(b.get(), s.alleles.data(), nloci, s.classes.data(), s.classes.size(), s.member.data(),
                           s.member.size()),
            HF_OK)
      << hf_message(b.get());
  ASSERT_EQ(hf_estimate(a.get()), HF_OK);
  ASSERT_EQ(hf_estimate(b.get()), HF_OK);
  const hf_result_t &ra = *hf_result(a.get()), &rb = *hf_result(b.get());
  EXPECT_EQ(memcmp(&ra, &rb, sizeof ra), 0) << "ll1 " << ra.ll1 << " " << rb.ll1;
  const int *na, *nb;
  const double *h1a, *h0a, *h1b, *h0b;
  size_t ha = hf_haplotypes(a.get(), &na, &h1a, &h0a), hb = hf_haplotypes(b.get(), &nb, &h1b, &h0b);
  ASSERT_EQ(ha, hb);
  EXPECT_EQ(memcmp(na, nb, ha * sizeof *na), 0);
  EXPECT_EQ(memcmp(h1a, h1b, ha * sizeof *h1a), 0);
  EXPECT_EQ(memcmp(h0a, h0b, ha * sizeof *h0a), 0);
  hf_posterior_t pa, pb;
  ASSERT_EQ(hf_posteriors(a.get(), pa), HF_OK);
  // Classes: the pairs alone, the pattern read where the state holds it.
  ASSERT_EQ(hf_posterior_pairs(b.get(), pb), HF_OK);
  EXPECT_TRUE(pb.pattern.empty());
  const int *held;
  const size_t records = hf_patterns(b.get(), &held);
  pb.pattern.assign(held, held + records);
  EXPECT_EQ(pa.pattern, pb.pattern) << "indexed by individual";
  EXPECT_EQ(pa.first, pb.first);
  ASSERT_EQ(pa.pairs.size(), pb.pairs.size());
  for (size_t q = 0; q < pa.pairs.size(); q++)
    EXPECT_TRUE(pa.pairs[q].a == pb.pairs[q].a && pa.pairs[q].b == pb.pairs[q].b &&
                memcmp(&pa.pairs[q].p, &pb.pairs[q].p, sizeof(double)) == 0);
  // Estimated again on the same data at another width: the same bits.
  b->lanes = lanes == 2 ? 0 : 2;
  ASSERT_EQ(hf_estimate(b.get()), HF_OK);
  EXPECT_EQ(memcmp(&ra, hf_result(b.get()), sizeof ra), 0) << "again at " << b->lanes << " lanes";
}

TEST(Classes, SameBitsAsOneRecordPerIndividual)
{
  const case_t cases[] = {
      // Ambiguous phases of complete genotypes: the copies add up in rows.
      {"snps", 0, {2, 2, 2, 2}, 0.0, 0.0, 40, 600, 0},
      // Missing loci: their copies go through the completions.
      {"missing", 0, {2, 2, 2}, 0.3, 0.0, 30, 400, 0},
      // Missing loci among 16 haplotypes: every width of the pass at 16.
      {"missing16", 0, {2, 2, 2, 2}, 0.1, 0.0, 40, 500, 0},
      // X: one allele per locus for males, its own log-likelihood sum.
      {"x", 1, {2, 2, 3}, 0.2, 0.4, 30, 400, 0},
      // Many haplotypes (64): the additions one by one.
      {"many", 0, {2, 2, 2, 2, 2, 2}, 0.05, 0.0, 60, 500, 0},
      // Multi-allelic loci.
      {"alleles", 0, {4, 3, 5}, 0.1, 0.0, 50, 500, 0},
      // Phases not stored: genotypes enumerated afresh in every step.
      {"fresh", 0, {2, 2, 2, 2}, 0.2, 0.0, 40, 400, 6},
  };
  for (const case_t &c : cases) {
    SCOPED_TRACE(c.name);
    sample_t s = makesample(c, 0x9E3779B97F4A7C15ULL + static_cast<uint64_t>(c.n));
    for (int lanes : {0, 4, 2}) {
      SCOPED_TRACE(lanes);
      expectsame(c, s, lanes);
    }
  }
}

TEST(Classes, MemberOutsideTheClassesIsRefused)
{
  state_ptr s(hf_new(0), hf_free);
  int alleles[] = {2};
  geno_t r;
  memset(&r, 0, sizeof r);
  r.allele[0] = 1;
  r.allele[1] = 2;
  for (int bad : {-1, 1}) {
    int member[] = {0, bad};
    EXPECT_EQ(hf_set_classes(s.get(), alleles, 1, &r, 1, member, 2), HF_EDATA);
    EXPECT_STREQ(hf_message(s.get()), bad < 0 ? "individual 2: class -1, of 1 classes numbered from 0\n"
                                              : "individual 2: class 1, of 1 classes numbered from 0\n");
  }
}

} // namespace
