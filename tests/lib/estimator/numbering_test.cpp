// Haplotype numbers and the odometer counters that walk haplotypes, phases
// and completions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testutil.h"

namespace {

void setloci(std::initializer_list<int> counts)
{
  S.nloci = 0;
  for (int n : counts)
    S.loci[S.nloci++] = n;
}

TEST(Numbering, MixedRadixLastLocusFastest)
{
  setloci({2, 3, 2});
  struct {
    int number;
    int16_t a[3];
  } table[] = {{1, {1, 1, 1}}, {2, {1, 1, 2}}, {3, {1, 2, 1}}, {4, {1, 2, 2}},
               {5, {1, 3, 1}}, {6, {1, 3, 2}}, {7, {2, 1, 1}}, {12, {2, 3, 2}}};
  for (auto &row : table) {
    EXPECT_EQ(linenum(S, S.loci, row.a), row.number);
    EXPECT_EQ(linenums(S, S.loci, row.a), row.number);
  }
  setloci({7});
  int16_t one[] = {5};
  EXPECT_EQ(linenum(S, S.loci, one), 5);
}

TEST(Numbering, WalkVisitsEveryNumberInOrder)
{
  setloci({2, 3, 2});
  int16_t maxima[4] = {1, 2, 1, 1}, digits[4] = {0, 0, 0, 0};
  digitm(maxima, digits, 0);
  EXPECT_EQ(digits[0], 1);
  EXPECT_EQ(digits[1], 0);
  EXPECT_EQ(digits[2], 0);
  digitm(maxima, digits, 0);
  EXPECT_EQ(digits[0], 0);
  EXPECT_EQ(digits[1], 1);
  EXPECT_EQ(digits[2], 0);
  // Walking on from the start, number r + 1 has allele digits[S.nloci-1-l] + 1.
  int16_t d[4] = {0, 0, 0, 0};
  for (int r = 0; r < 12; r++) {
    int16_t a[3];
    for (int l = 0; l < 3; l++)
      a[l] = static_cast<int16_t>(d[2 - l] + 1);
    EXPECT_EQ(linenum(S, S.loci, a), r + 1);
    if (r < 11)
      digitm(maxima, d, 0);
  }
  EXPECT_EQ(d[0], 1);
  EXPECT_EQ(d[1], 2);
  EXPECT_EQ(d[2], 1);
  digitm(maxima, d, 0);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(d[2], 0);
  EXPECT_EQ(d[3], 1) << "the carry out of the top digit lands in the spare digit";
}

TEST(Numbering, BinaryCounter)
{
  int16_t d[4] = {0, 0, 0, 0};
  const int16_t expect[4][3] = {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 0, 1}};
  for (auto &e : expect) {
    digit2(1, d, 0);
    EXPECT_EQ(d[0], e[0]);
    EXPECT_EQ(d[1], e[1]);
    EXPECT_EQ(d[2], e[2]);
  }
}

} // namespace
