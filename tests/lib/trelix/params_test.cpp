#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "files.h"

using testing::ContainsRegex;

TEST(ParameterFile, SelectionBlocksAndPermutationWording)
{
  trelix_t tx;
  // Extra values are ignored; a selection flag of 2 selects and is echoed.
  std::string echo = loadpar(tx, "3 1 0 1000\n4 2 5 9\n0 1\n1 0 2\n1 0 0 1\n0.1 0 0.5 1\n");
  EXPECT_NE(echo.find("invoked \n"), std::string::npos);
  EXPECT_NE(echo.find("  locus   3: alleles= 5 selection= 2 permutation= 0\n"),
            std::string::npos);
  EXPECT_NE(echo.find("prevalence of 0.1000\n"), std::string::npos);
  EXPECT_EQ(echo.find("Blocks"), std::string::npos);
  EXPECT_EQ(tx.selected, 1);
  EXPECT_EQ(tx.selidx[0], 0);
  EXPECT_EQ(tx.selidx[1], 2);
  EXPECT_EQ(tx.selectp, 0);
  EXPECT_EQ(tx.selectn, 0);
  EXPECT_EQ(tx.iogenotype, 1);

  echo = loadpar(tx, "2 0 0 5\n3 2\n1 0\n1 1\n1 1\n");
  EXPECT_NE(echo.find("will be invoked 5 times\nNumber"), std::string::npos);
  EXPECT_NE(echo.find("\nBlocks 1 and 2 have 2, 0 loci\n"), std::string::npos);
  EXPECT_EQ(echo.find("disease"), std::string::npos);
  EXPECT_EQ(tx.selectn, -1);

  // Nothing selected: the tables of the previous file are not kept.
  loadpar(tx, "2 0 0 0\n3 2\n0 0\n0 0\n1 0\n");
  EXPECT_EQ(tx.selected, -1);
  EXPECT_EQ(tx.selectp, -1);
  EXPECT_EQ(tx.selectn, -1);
  EXPECT_EQ(tx.selidx[1], 0);
}

TEST(ParameterFile, ThirtyLociOnLinesOfAnyLength)
{
  trelix_t tx;
  std::string pad(3000, ' '), counts, flags;
  for (int i = 1; i <= 30; i++) {
    counts += pad + (i == 30 ? "50" : "2");
    flags += pad + (i == 30 ? "1" : "0");
  }
  loadpar(tx, "30 0 0 0\n" + counts + "\n0 0\n" + flags + "\n" + flags + "\n");
  EXPECT_EQ(tx.nloci, 30);
  EXPECT_EQ(tx.alleles[29], 50);
  EXPECT_EQ(tx.selected, 0);
  EXPECT_EQ(tx.selidx[0], 29);
}

TEST(ParameterFile, PenetranceOrderIsOnlyAWarning)
{
  trelix_t tx;
  loadpar(tx, "1 1 0 0\n2\n0 0\n1\n1\n0.2 0.9 0.5 0.1\n");
  // Shown at once, without flushing the screen first, as it always was.
  ASSERT_EQ(tx.warnings.size(), 1u);
  EXPECT_EQ(tx.warnings[0].text.rfind("The order of penetrances is wrong !: ", 0), 0u) << tx.warnings[0].text;
  EXPECT_FALSE(tx.warnings[0].after_screen);
  EXPECT_FLOAT_EQ(tx.pen0, 0.9f);
}

TEST(ParameterFile, NumbersLeftOutOfLinesOneAndThreeKeepTheirValues)
{
  trelix_t tx;
  loadpar(tx, "2 1 1 7\n2 2\n1 1\n1 1\n1 1\n");
  loadpar(tx, "2 0\n2 2\n0\n1 1\n1 1\n");
  EXPECT_EQ(tx.cc, 0);
  EXPECT_EQ(tx.permute, 1);
  EXPECT_EQ(tx.npermute, 7);
  EXPECT_EQ(tx.isgenotype, 0);
  EXPECT_EQ(tx.iogenotype, 1);
}

// The values are still read by the rule (as far as the numbers go); the
// warning names what was left.
TEST(ParameterFile, TextAfterTheNumbersOfLineOneIsAWarning)
{
  trelix_t tx;
  struct {
    const char *line1, *warning;
  } rows[] = {
      {"3,1,1,20", "/study.par has text that is not a number after its first 1 "
                   "number (\",1,1,20\"); it is ignored: separate the values by blanks or tabs\n"},
      {"3 1 1 20.5", "after its first 4 numbers (\".5\")"},
      {"3 0 0 0 loci", "after its first 4 numbers (\"loci\")"},
      {"3 0 0 0 99", ""},
      {"3\t0 0 0  ", ""},
  };
  for (const auto &row : rows) {
    loadpar(tx, std::string(row.line1) + "\n2 2 2\n0 0\n1 1 1\n1 0 0\n");
    std::string err;
    for (const tx_warning_t &w : tx.warnings) {
      EXPECT_TRUE(w.after_screen);
      err += w.text;
    }
    EXPECT_EQ(tx.nloci, 3) << row.line1;
    if (*row.warning) {
      EXPECT_EQ(err.rfind("Warning: line 1 of ", 0), 0u) << err;
      EXPECT_NE(err.find(row.warning), std::string::npos) << err;
    }
    else
      EXPECT_EQ(err, "") << row.line1;
  }
  EXPECT_EQ(tx.cc, 0);
}

// A refusal returns its code with the message; warnings found before it
// are kept.
TEST(ParameterFile, MalformedFilesAreRefused)
{
  struct {
    std::string text;
    const char *message;
  } bad[] = {
      {"31 0 0 0\n", "^Error: maximum number of loci exceeded: .*\n$"},
      {"-1 0 0 0\n\n0 0\n\n\n", "^Line 1 of .*bad.par declares -1 loci; the number of loci "
                                "cannot be negative\n$"},
      {"x\n4 2 5\n0 0\n1 0 1\n1 0 0\n", "^Line 1 of .*bad.par does not give the number of loci\n$"},
      {"3 1 0 0\n4 2\n0 0\n1 0 1\n1 0 0\n",
       "^Line 2 of .*bad.par has 2 allele counts; line 1 declares 3 loci\n$"},
      {"2 1 0 0\n4 51\n0 0\n1 1\n1 1\n",
       "^Line 2 of .*bad.par gives 51 alleles at locus 2; a locus has 1 to 50 alleles\n$"},
      {"2 1 0 0\n0 5\n0 0\n1 1\n1 1\n", "^Line 2 of .*bad.par gives 0 alleles at locus 1;"},
      {"3 1 0 0\n4 2 5\n0 0\n1 0\n1 0 0\n",
       "^Line 4 of .*bad.par has 2 selection flags; line 1 declares 3 loci\n$"},
      {"3 1 0 0\n4 2 5\n0 0\n1 0 1\n1 x 0\n",
       "^Line 5 of .*bad.par has 1 permutation flags; line 1 declares 3 loci\n$"},
      {"", "^.*bad.par ends before line 1; a parameter file has at least 5 lines\n$"},
      {"3 1 0 0\n4 2 5\n0 0\n1 0 1\n", "^.*bad.par ends before line 5;"},
      {std::string("1 0 0 0\n2\n0\0 0\n1\n1\n", 17),
       "^Line 3 of .*bad.par holds a NUL character; a parameter file must be plain text\n$"},
  };
  trelix_t tx;
  for (const auto &b : bad) {
    std::string path = put("bad.par", "");
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f && fwrite(b.text.data(), 1, b.text.size(), f) == b.text.size() && fclose(f) == 0);
    EXPECT_EQ(tx_read_params(tx, path.c_str()), TX_EDATA) << b.text;
    EXPECT_THAT(tx.message, ContainsRegex(b.message)) << b.text;
  }
  struct {
    const char *path, *message;
  } unreadable[] = {
      {"/nonexistent/study.par", "^Error opening /nonexistent/study.par$"},
      {"/tmp", "^/tmp is a directory, not a file\n$"},
  };
  for (const auto &u : unreadable) {
    EXPECT_EQ(tx_read_params(tx, u.path), TX_EIO);
    EXPECT_THAT(tx.message, ContainsRegex(u.message));
  }

  std::string path = put("bad.par", "2,0 0 0\n2 2\n0 0\n1 1\n");
  EXPECT_EQ(tx_read_params(tx, path.c_str()), TX_EDATA);
  EXPECT_THAT(tx.message, ContainsRegex("ends before line 5;"));
  ASSERT_EQ(tx.warnings.size(), 1u);
  EXPECT_THAT(tx.warnings[0].text, ContainsRegex("^Warning: line 1 of "));
}
