// Reading X-chromosome input: a sex value after the count, one allele per
// locus for sex 0, slash pairs for sex 1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testutil.h"

namespace {

using ::testing::HasSubstr;


TEST(XRecords, MalesCarryOneAlleleFemalesTwo)
{
  std::vector<geno_t> t;
  ASSERT_EQ(readtext("2 3\n1 1 1 2/1 3/3\n2 2 0 2 3\n3 1 0 0 0\n", t), 0);
  ASSERT_EQ(t.size(), 2u) << "the male missing everywhere is skipped";
  EXPECT_EQ(t[0].sex, 1);
  EXPECT_EQ(t[0].allele[0], 1);
  EXPECT_EQ(t[0].allele[1], 2);
  EXPECT_EQ(t[1].sex, 0);
  EXPECT_EQ(t[1].allele[0], 2);
  EXPECT_EQ(t[1].allele[1], 3);
  EXPECT_EQ(S.ndiploid, 1);
  EXPECT_EQ(S.nhaploid, 1);
}

TEST(XRecords, FemalesNeedTheSlashForm)
{
  std::vector<geno_t> t;
  std::string err;
  EXPECT_EQ(readtext("2 2\n1 1 1 1 2 1/1\n", t, &err), 1);
  EXPECT_EQ(err, "There isn't enough x data at line 1\n");
  EXPECT_EQ(readtext("2 2\n1 1 0 1 2\n2 1 0 1\n", t, &err), 1);
  EXPECT_EQ(err, "There isn't enough x data at line 2\n");
}

TEST(XRecords, SexMustBeZeroOrOne)
{
  std::vector<geno_t> t;
  std::string err;
  EXPECT_EQ(readtext("2\n1 1 2 1/2\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("Line 2 of"));
  EXPECT_THAT(err, HasSubstr("sex value 2"));
  EXPECT_EQ(readtext("2\n1 1 -1 1\n", t, &err), 1);
  EXPECT_EQ(readtext("2\n1 1 x 1/2\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("sex value (0 for one allele per locus, 1 for two) is missing"));
}

} // namespace
