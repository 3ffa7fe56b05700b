#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "files.h"
#include "phf.h"

using testing::ContainsRegex;

namespace {

// Reads a data file given as text into tx and collapses it; returns the
// records written, or the message of a refusal.
std::string collapse(trelix_t &tx, const std::string &data, int *code = nullptr)
{
  std::string dat = put("collapse.dat", data);
  int skipped, ngroups;
  int c = phf_read(tx, dat.c_str(), skipped);
  if (code)
    *code = c;
  if (c != TX_OK)
    return tx.message;
  std::string out = written([&](FILE *f) { c = phf_collapse(tx, f, ngroups); });
  EXPECT_EQ(c, TX_OK);
  return out;
}

} // namespace

TEST(Collapse, MissingAllelesGroupAndShowTheLastPairOfTheRun)
{
  trelix_t tx;
  // Two selected loci (even): the group shows the pair of the individual
  // read first. Locus 2 is not selected and not compared.
  loadpar(tx, "3 0 0 0\n4 3 4\n0 0\n1 0 1\n1 0 0\n");
  std::string data = "m1 0 0 2 1 1 1 1\nm2 0 3 0 2 3 1 1\n"
                     "m3 0 1 1 1 2 1 1\nm4 0 1 1 3 3 1 1\nm5 0 1 1 2 2 1 1\n";
  EXPECT_EQ(written([&](FILE *f) { phf_header(tx, f); }), " 4  4 \n");
  EXPECT_EQ(collapse(tx, data), "    1     2  0  2  1  1\n"
                                "    2     3  1  1  1  1\n");
  // Three selected loci (odd): the pair of the one read last.
  loadpar(tx, "3 0 0 0\n4 3 4\n0 0\n1 1 1\n1 0 0\n");
  EXPECT_EQ(collapse(tx, "m1 0 0 2 1 1 1 1\nm2 0 3 0 1 1 1 1\nm3 0 4 4 1 1 1 1\n"),
            "    1     2  0  3  1  1  1  1\n"
            "    2     1  4  4  1  1  1  1\n");
}

TEST(Collapse, CaseCountsOf10000AndMoreStaySeparate)
{
  trelix_t tx;
  loadpar(tx, "1 1 0 0\n2\n0 0\n1\n1\n");
  std::string data;
  for (int i = 0; i < 10000; i++)
    data += "c 1 1 1\n";
  data += "c 0 1 1\n";
  for (int i = 0; i < 9999; i++)
    data += "d 1 2 2\n";
  EXPECT_EQ(collapse(tx, data), "    1 10001 10000     1  1  1\n"
                                "    2  9999 9999     0  2  2\n");
}

// An output without a genotype record is no input for hf: a data file that
// holds no record, or none typed at a selected locus, is refused.
TEST(Phf, NoKeptRecordIsRefused)
{
  trelix_t tx;
  loadpar(tx, "2 0 0 0\n3 2\n0 0\n1 0\n1 0\n");
  struct {
    const char *data, *message;
  } rows[] = {
      {"", "^.*collapse.dat holds no data record \\(an identifier, a label and the genotypes of 2 "
           "loci\\); there is nothing to prepare\n$"},
      {"id label rs1_a rs1_b rs2_a rs2_b\n", "collapse.dat holds no data record"},
      {"a 0 0 0 1 1\nb 0 0 2 1 2\n", "^.*collapse.dat: none of its 2 records is typed at a "
                                     "selected locus; there is nothing to prepare\n$"},
  };
  for (const auto &row : rows) {
    int code;
    EXPECT_THAT(collapse(tx, row.data, &code), ContainsRegex(row.message)) << row.data;
    EXPECT_EQ(code, TX_EDATA);
  }
}
