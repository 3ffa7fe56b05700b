// Reading the autosomal estimator's input: header, records, and refusal of
// what the tables cannot hold.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

namespace {

using ::testing::ExitedWithCode;
using ::testing::HasSubstr;


TEST(Header, CountsLociHaplotypesAndLargestAlleleCount)
{
  std::vector<geno_t> t;
  ASSERT_EQ(readtext("2 3 2 \n1 1 1/1 1/1 1/1\n", t), 0);
  EXPECT_EQ(S.nloci, 3);
  EXPECT_EQ(S.hapall, 12);
  EXPECT_EQ(S.nalleles, 3);
  ASSERT_EQ(readtext("\t50\r\n1 1 1/1\n", t), 0);
  EXPECT_EQ(S.nloci, 1);
  EXPECT_EQ(S.hapall, 50);
}

TEST(Header, RefusesWhatTheTablesCannotHold)
{
  std::vector<geno_t> t;
  std::string err;
  EXPECT_EQ(readtext("2 x 2\n1 1 1/1 1/1 1/1\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("\"x\" is not a whole number of alleles"));
  EXPECT_EQ(readtext("2 2.5\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("\"2.5\""));
  EXPECT_EQ(readtext("\n1 1 1/1\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("no allele counts"));
  EXPECT_EQ(readtext("", t, &err), 1);
  EXPECT_EQ(readtext("2 51\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("locus 2 has 51 alleles"));
  EXPECT_EQ(readtext("0\n", t, &err), 1);
  EXPECT_EQ(readtext("-3\n", t, &err), 1);
  std::string sixty, sixtyone;
  for (int i = 0; i < 60; i++)
    sixty += "1 ";
  sixtyone = sixty + "1";
  EXPECT_EQ(readtext(sixty + "\n1 1" + std::string(60 * 4, ' ') + "\n", t, &err), 0);
  EXPECT_EQ(S.nloci, 60);
  EXPECT_EQ(readtext(sixtyone + "\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("more than 60 loci"));
  // 50^6 haplotypes do not fit in 32 bits; 2^30 do.
  EXPECT_EQ(readtext("50 50 50 50 50 50\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("possible haplotypes"));
}

TEST(Records, AllelesStoredSmallerFirstAndMissingLociKept)
{
  std::vector<geno_t> t;
  ASSERT_EQ(readtext("3 3\n7 2 2/1 0/3\n8 1 3 1 2 2 trailing text\n", t), 0);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].id, 7);
  EXPECT_EQ(t[0].instances, 2);
  EXPECT_EQ(t[0].allele[0], 1);
  EXPECT_EQ(t[0].allele[1], 2);
  EXPECT_EQ(t[0].allele[2], 0);
  EXPECT_EQ(t[0].allele[3], 3);
  EXPECT_EQ(t[0].y, 0);
  // The blank-separated form gives the same record as the slash form.
  EXPECT_EQ(t[1].allele[0], 1);
  EXPECT_EQ(t[1].allele[1], 3);
  EXPECT_EQ(t[1].allele[2], 2);
  EXPECT_EQ(t[1].allele[3], 2);
}

TEST(Records, InputEndsAtFirstLineWithoutGenotypes)
{
  std::vector<geno_t> t;
  ASSERT_EQ(readtext("2\n1 1 1/2\n2 1 2/2\n\n3 1 1/1\n", t), 0);
  EXPECT_EQ(t.size(), 2u) << "a blank line ends the input";
  ASSERT_EQ(readtext("2\n1 1 1/2\n2 1\n3 1 1/1\n", t), 0);
  EXPECT_EQ(t.size(), 1u) << "an identifier and a count alone end the input";
  ASSERT_EQ(readtext("2\n1 1 1/2\n# note\n3 1 1/1\n", t), 0);
  EXPECT_EQ(t.size(), 1u);
}

TEST(Records, ShortLineFailsAtTheFirstMissingGenotype)
{
  std::vector<geno_t> t;
  std::string err;
  // The all-missing record is skipped and not counted in the line number.
  EXPECT_EQ(readtext("2 2 2\n1 1 1/1 1/1 1/1\n2 1 0/0 0/0 0/0\n3 1 1/2 2/2\n", t, &err), 1);
  EXPECT_EQ(err, "There isn't enough data at line 2\n");
  EXPECT_EQ(readtext("2 2\n1 1 1/2 1\n", t, &err), 1);
  EXPECT_EQ(err, "There isn't enough data at line 1\n");
}

TEST(Records, LongLinesAreReadWhole)
{
  // 20 S.loci written with wide fields: each record is far beyond 200
  // characters and must stay one record.
  std::string text = "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2\n";
  std::string r1 = "1 1", r2 = "2 1";
  for (int l = 0; l < 20; l++) {
    r1 += "             1/2";
    r2 += "             2/2";
  }
  std::vector<geno_t> t;
  ASSERT_EQ(readtext(text + r1 + "\n" + r2 + "\n", t), 0);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].allele[38], 1);
  EXPECT_EQ(t[0].allele[39], 2);
  EXPECT_EQ(t[1].allele[38], 2);
}

TEST(Records, InstancesMustBeFiniteAndNotNegative)
{
  std::vector<geno_t> t;
  std::string err;
  ASSERT_EQ(readtext("2\n1 0 1/2\n2 2.5 2/2\n", t), 0);
  EXPECT_EQ(t[0].instances, 0);
  EXPECT_EQ(t[1].instances, 2.5);
  for (const char *bad : {"-1", "inf", "nan", "-0.5", "1e999"}) {
    EXPECT_EQ(readtext(std::string("2\n1 1 1/2\n2 ") + bad + " 2/2\n", t, &err), 1) << bad;
    EXPECT_THAT(err, HasSubstr("Line 3 of")) << bad;
    EXPECT_THAT(err, HasSubstr(std::string("not \"") + bad + "\"")) << bad;
  }
}

TEST(Records, AllelesBeyondSixteenBitsAreMissing)
{
  std::vector<geno_t> t;
  ASSERT_EQ(readtext("2 2\n1 1 65537/1 1/2\n", t), 0);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].allele[0], 0);
  EXPECT_EQ(t[0].allele[1], 1);
}

TEST(Records, IdentifierMustFitThirtyTwoBits)
{
  std::vector<geno_t> t;
  std::string err;
  EXPECT_EQ(readtext("2\n4294967297 1 1/2\n", t, &err), 1);
  EXPECT_THAT(err, HasSubstr("Line 2 of"));
}

} // namespace
