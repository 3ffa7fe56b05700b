#include <gtest/gtest.h>

#include <string>

#include "files.h"
#include "phf.h"

using testing::ExitedWithCode;

namespace {

// Runs noid on a data file given as text; returns the records written and,
// in report, what noid wrote on standard output.
std::string collapse(const std::string &data, std::string *report = nullptr)
{
  std::string dat = put("collapse.dat", data), outpath = put("collapse.out", "");
  FILE *out = fopen(outpath.c_str(), "w");
  testing::internal::CaptureStdout();
  noid(dat.c_str(), out);
  std::string text = testing::internal::GetCapturedStdout();
  if (report)
    *report = text;
  fclose(out);
  return readfile(outpath);
}

} // namespace

TEST(Collapse, MissingAllelesGroupAndShowTheLastPairOfTheRun)
{
  // Two selected loci (even): the group shows the pair of the individual
  // read first. Locus 2 is not selected and not compared.
  loadpar("3 0 0 0\n4 3 4\n0 0\n1 0 1\n1 0 0\n");
  std::string data = "m1 0 0 2 1 1 1 1\nm2 0 3 0 2 3 1 1\n"
                     "m3 0 1 1 1 2 1 1\nm4 0 1 1 3 3 1 1\nm5 0 1 1 2 2 1 1\n";
  EXPECT_EQ(collapse(data), "    1     2  0  2  1  1\n"
                            "    2     3  1  1  1  1\n");
  // Three selected loci (odd): the pair of the one read last.
  loadpar("3 0 0 0\n4 3 4\n0 0\n1 1 1\n1 0 0\n");
  EXPECT_EQ(collapse("m1 0 0 2 1 1 1 1\nm2 0 3 0 1 1 1 1\nm3 0 4 4 1 1 1 1\n"),
            "    1     2  0  3  1  1  1  1\n"
            "    2     1  4  4  1  1  1  1\n");
}

TEST(Collapse, CaseCountsOf10000AndMoreStaySeparate)
{
  loadpar("1 1 0 0\n2\n0 0\n1\n1\n");
  std::string data;
  for (int i = 0; i < 10000; i++)
    data += "c 1 1 1\n";
  data += "c 0 1 1\n";
  for (int i = 0; i < 9999; i++)
    data += "d 1 2 2\n";
  EXPECT_EQ(collapse(data), "    1 10001 10000     1  1  1\n"
                            "    2  9999 9999     0  2  2\n");
}

// An output without a genotype record is no input for hf: a data file that
// holds no record, or none typed at a selected locus, is refused.
TEST(PhfDeath, NoKeptRecordIsRefused)
{
  loadpar("2 0 0 0\n3 2\n0 0\n1 0\n1 0\n");
  struct {
    const char *data, *message;
  } rows[] = {
      {"", "^.*collapse.dat holds no data record \\(an identifier, a label and the genotypes of 2 "
           "loci\\); there is nothing to prepare\n$"},
      {"id label rs1_a rs1_b rs2_a rs2_b\n", "collapse.dat holds no data record"},
      {"a 0 0 0 1 1\nb 0 0 2 1 2\n", "^.*collapse.dat: none of its 2 records is typed at a "
                                     "selected locus; there is nothing to prepare\n$"},
  };
  for (const auto &row : rows)
    EXPECT_EXIT(collapse(row.data), ExitedWithCode(1), row.message) << row.data;
}

TEST(PhfDeath, CommandLineAndOutputFile)
{
  const char *two[] = {"phf", "a.par", "a.dat", nullptr};
  EXPECT_EXIT(phfrun(3, const_cast<char **>(two)), ExitedWithCode(1),
              "^\nUsage: phf parfile datfile outfile\n"
              "\nwhere parfile/datfile are TRELIX parameter/data files\n"
              "\noutfile is the target file with condensed information\n$");
  const char *noout[] = {"phf", "a.par", "a.dat", "/nonexistent/out.hf", nullptr};
  EXPECT_EXIT(phfrun(4, const_cast<char **>(noout)), ExitedWithCode(1),
              "^I can't open file /nonexistent/out.hf for output...exit\n$");
}
