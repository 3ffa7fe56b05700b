// The sorted table, posterior assignment and the possible-haplotype tree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "testutil.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<int> sortorder(std::vector<double> freqs)
{
  std::vector<hap_t> table(freqs.size());
  for (size_t i = 0; i < freqs.size(); i++) {
    memset(&table[i], 0, sizeof(hap_t));
    table[i].id = static_cast<int>(i + 1);
    table[i].h1 = freqs[i];
  }
  S.haplotypes = table;
  qsorts(S, 0, static_cast<int>(freqs.size()) - 1);
  table = S.haplotypes;
  S.haplotypes.clear();
  std::vector<int> ids;
  for (auto &t : table)
    ids.push_back(t.id);
  return ids;
}

TEST(Sorted, OrderOfEqualFrequenciesFollowsTheRotation)
{
  EXPECT_EQ(sortorder({0.3, 0.1, 0.1, 0.5}), (std::vector<int>{4, 1, 3, 2}));
  EXPECT_EQ(sortorder({0.2, 0.3, 0.2, 0.3}), (std::vector<int>{2, 4, 1, 3}));
  EXPECT_EQ(sortorder({}), (std::vector<int>{}));
  // A long increasing run must not exhaust the stack.
  std::vector<double> rising(20000);
  for (size_t i = 0; i < rising.size(); i++)
    rising[i] = static_cast<double>(i);
  std::vector<int> ids = sortorder(rising);
  EXPECT_EQ(ids.front(), 20000);
  EXPECT_EQ(ids.back(), 1);
}

TEST(Sorted, RunningSumsAndFreemanTukey)
{
  loaded_t r = load("4\n1 50 1/2\n");
  denseh();
  S.h[0] = 0.25, S.h0[0] = 0.25;
  S.h[1] = 0.5, S.h0[1] = 0.25;
  S.h[2] = 0.000001, S.h0[2] = 0.25; // equal to S.epsh: not listed
  S.h[3] = 0.249999, S.h0[3] = 0.25;
  S.d_sample = 50, S.d_msample = 0, S.h_sample = 0, S.h_msample = 0;
  S.nhaplotypes = 3;
  std::string out = capture([](repout_t &o) { sortedreport(S, o); });
  EXPECT_EQ(out,
            "Haplotype frequency estimates by decreasing order\n\n"
            "    h1    accumul.    h0    accumul.     FT haplotypes/id\n\n"
            " 0.500000 0.500000 0.250000 0.250000   4.16  2 2\n"
            " 0.250000 0.750000 0.250000 0.500000   0.05  1 1\n"
            " 0.249999 0.999999 0.250000 0.750000   0.05  4 4\n");
  S.nhaplotypes = 0;
  EXPECT_EQ(capture([](repout_t &o) { sortedreport(S, o); }), "Haplotype frequency estimates by decreasing order\n\n"
                                   "    h1    accumul.    h0    accumul.     FT haplotypes/id\n\n");
  release();
}

// The assignment section of a sample after its EM.
std::string assignment(const std::string &text, double cutoff)
{
  loaded_t r = load(text);
  ehm(S, r.table.data());
  S.pl = cutoff;
  std::string out = capture([&](repout_t &o) { ch(S, r.table.data(), o); });
  S.pl = 0.001;
  release();
  return out;
}

TEST(Assignment, HomozygousRecordListedWhateverTheCutoff)
{
  std::string out = assignment("2 2\n7 1 1/1 2/2\n8 1 1/2 1/2\n", 5.0);
  EXPECT_EQ(out, "\nAssignment of haplotypes by posterior probabilities\n"
                 "(ID[chromosome] haplotype, probability[cutoff=5.000000] id)\n\n"
                 "    7 [1]  1  2 1.000000 2\n"
                 "    7 [2]  1  2 1.000000 2\n");
}

TEST(Assignment, PairsOnceEachAndStrictCutoff)
{
  // Three heterozygous S.loci: four phases at most, never a pair twice.
  std::string out = assignment("2 2 2\n1 1 1/2 1/2 1/2\n", 0.0);
  std::vector<std::string> ls = lines(out);
  ASSERT_EQ(ls.size(), 4u + 8u);
  EXPECT_EQ(ls[4], "    1 [1]  1  1  1 0.250000 1");
  EXPECT_EQ(ls[5], "    1 [2]  2  2  2 0.250000 8");
  EXPECT_EQ(ls[6], "    1 [1]  2  1  1 0.250000 5");
  EXPECT_EQ(ls[7], "    1 [2]  1  2  2 0.250000 4");
  EXPECT_EQ(ls[11], "    1 [2]  1  1  2 0.250000 2");
  // A pair exactly at the cutoff is not listed.
  out = assignment("2 2 2\n1 1 1/2 1/2 1/2\n", 0.25);
  EXPECT_EQ(lines(out).size(), 4u);
}

TEST(Assignment, MissingLocusCompletedInOrder)
{
  std::string out = assignment("3 1\n1 1 1/1 1/1\n2 1 2/2 1/1\n3 1 3/3 1/1\n5 1 0/3 1/1\n", 0.0);
  std::vector<std::string> ls = lines(out);
  ASSERT_GE(ls.size(), 12u);
  // Record 5 is missing at its 3-allele locus: (1,1) (1,2) (2,2) (1,3) (2,3) (3,3).
  std::vector<std::string> tail(ls.end() - 12, ls.end());
  const char *expect[] = {"    5 [1]  1  1 0.111111 1", "    5 [2]  1  1 0.111111 1",
                          "    5 [1]  1  1 0.222222 1", "    5 [2]  2  1 0.222222 2",
                          "    5 [1]  2  1 0.111111 2", "    5 [2]  2  1 0.111111 2",
                          "    5 [1]  1  1 0.222222 1", "    5 [2]  3  1 0.222222 3",
                          "    5 [1]  2  1 0.222222 2", "    5 [2]  3  1 0.222222 3",
                          "    5 [1]  3  1 0.111111 3", "    5 [2]  3  1 0.111111 3"};
  for (int i = 0; i < 12; i++)
    EXPECT_EQ(tail[i], expect[i]);
}

TEST(Tree, DistinctKeysListedInOrder)
{
  loaded_t r = load("2 2 2\n1 1 1/1 1/1 1/1\n");
  denseh();
  for (int k = 0; k < 8; k++)
    S.h[k] = S.h0[k] = 0;
  S.h0[2] = 0.1;
  S.h[2] = 0.125;
  int16_t a[] = {1, 2, 1};
  for (int key : {5, 3, 8, 3})
    S.hrt = hitree(S, S.hrt, key, a);
  int counter = 0;
  std::string out = capture([&](repout_t &o) { hptree(S, S.hrt, &counter, o); });
  EXPECT_EQ(counter, 3);
  std::vector<std::string> ls = lines(out);
  ASSERT_EQ(ls.size(), 3u);
  EXPECT_EQ(ls[0], " 0.100000 [0.100000000000] 0.125000 [0.125000000000]  1  2  1 3");
  EXPECT_EQ(ls[1].substr(ls[1].size() - 2), " 5");
  EXPECT_EQ(ls[2].substr(ls[2].size() - 2), " 8");
  EXPECT_EQ(S.hrt->repeats, 0);
  EXPECT_EQ(S.hrt->left->repeats, 1);
  release();
}

TEST(Tree, DeepTreeOfIncreasingKeys)
{
  loaded_t r = load("50 50 50\n1 1 1/1 1/1 1/1\n");
  denseh();
  std::fill(S.h.begin(), S.h.end(), 0.0);
  std::fill(S.h0.begin(), S.h0.end(), 0.0);
  int16_t a[] = {1, 1, 1};
  for (int key = 1; key <= 20000; key++)
    S.hrt = hitree(S, S.hrt, key, a);
  int counter = 0;
  capture([&](repout_t &o) { hptree(S, S.hrt, &counter, o); });
  EXPECT_EQ(counter, 20000);
  release();
}

} // namespace
