#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/resource.h>

#include "files.h"

using testing::ContainsRegex;
using testing::ExitedWithCode;

namespace {

std::vector<int> seqs(const trelix_t &tx)
{
  std::vector<int> v;
  for (rec_t *p = tx.list; p; p = p->next)
    v.push_back(p->seq);
  return v;
}

} // namespace

TEST(DataFile, RecordsAreCodedListedAndKept)
{
  trelix_t tx;
  // Loci of 4, 2 and 5 alleles, loci 1 and 3 selected, case-control data,
  // allele pairs, listing on.
  loadpar(tx, "3 1 0 0\n4 2 5\n0 1\n1 0 1\n1 0 0\n");
  int skipped;
  std::string listing = loaddat(tx,
                                "a1 1 2 1 1 2 3 5\n"
                                "long-identifier-x 1 0 0 2 2 -1 3\n"
                                "a3 2\t4 4\t2 2\t5 -5   trailing text\n"
                                "a4 -1 1 2 1 1 -3 4\n"
                                "a5 1\n"
                                "a6 1 1 1 1 1 1 1\n",
                                &skipped);
  // Every record read is listed with its label as read; the one without a
  // known selected locus is not kept; a5 ends the data.
  EXPECT_EQ(listing, "\n   ID  label locus genotype \n\n"
                     "   a1   1      2     13\n"
                     "long-identifier-x   1      0      0\n"
                     "   a3   2     10      0\n"
                     "   a4  -1      2      0\n");
  EXPECT_EQ(skipped, 1);
  EXPECT_EQ(tx.sample_size, 3);
  EXPECT_EQ(tx.cases, 1);
  EXPECT_EQ(tx.digits, 2);
  // Sorted by code at locus 1, then locus 3; a4 (2, 0) before a1 (2, 13).
  ASSERT_EQ(seqs(tx), (std::vector<int>{3, 1, 2}));
  const rec_t *a4 = tx.list, *a3 = tx.list->next->next;
  EXPECT_EQ(tx.last, a3);
  EXPECT_EQ(a4->label, 0);
  EXPECT_EQ(a4->pair[2][0], 0);   // -3 is missing, like 0
  EXPECT_EQ(a4->pair[2][1], 4);
  EXPECT_EQ(a3->label, 0);        // labels other than 1 are controls
  EXPECT_EQ(a3->geno[1], 3);      // unselected loci are kept too
  EXPECT_EQ(a3->pair[2][0], 0);
  EXPECT_EQ(a3->pair[2][1], 5);

  // Without case-control data every label is 0; lines of any length.
  loadpar(tx, "1 0 0 0\n3\n0 0\n1\n1\n");
  std::string pad(5000, ' ');
  loaddat(tx, "y1" + pad + "1" + pad + "3" + pad + "3" + pad + "\n\ny2 1 1 1\n");
  ASSERT_EQ(tx.sample_size, 1);
  EXPECT_EQ(tx.cases, 0);
  EXPECT_EQ(tx.list->label, 0);
  EXPECT_EQ(tx.list->geno[0], 6);
}

TEST(DataFile, GenotypeCodesAreNotCheckedAgainstAlleleCounts)
{
  trelix_t tx;
  loadpar(tx, "2 0 0 0\n2 2\n1 0\n1 0\n0 0\n");
  loaddat(tx, "g1 0 1275 3\ng2 0 10 0\ng3 0 1 1\ng4 0 0 2\n");
  ASSERT_EQ(seqs(tx), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(tx.list->next->pair[0][0], 4);
  EXPECT_EQ(tx.list->next->pair[0][1], 4);
  EXPECT_EQ(tx.last->geno[0], 1275);
}

TEST(Sort, AscendingCodesWithEqualRecordsInReadingOrderForOddDepths)
{
  trelix_t tx;
  loadpar(tx, "2 0 0 0\n50 50\n1 0\n1 1\n0 0\n");
  loaddat(tx, "s1 0 2 5\ns2 0 1 9\ns3 0 2 1\n");
  EXPECT_EQ(seqs(tx), (std::vector<int>{2, 3, 1}));

  // Four identical records among others, with 1, 2 and 3 selected loci.
  const char *data = "e1 0 1 1 1\ne2 0 3 1 1\ne3 0 1 1 1\ne4 0 1 1 1\ne5 0 2 1 1\ne6 0 1 1 1\n";
  loadpar(tx, "3 0 0 0\n3 3 3\n1 0\n1 0 0\n0 0 0\n");
  loaddat(tx, data);
  EXPECT_EQ(seqs(tx), (std::vector<int>{1, 3, 4, 6, 5, 2}));
  loadpar(tx, "3 0 0 0\n3 3 3\n1 0\n1 1 0\n0 0 0\n");
  loaddat(tx, data);
  EXPECT_EQ(seqs(tx), (std::vector<int>{6, 4, 3, 1, 5, 2}));
  loadpar(tx, "3 0 0 0\n3 3 3\n1 0\n1 1 1\n0 0 0\n");
  loaddat(tx, data);
  EXPECT_EQ(seqs(tx), (std::vector<int>{1, 3, 4, 6, 5, 2}));
  EXPECT_EQ(tx.last->seq, 2);
}

// States share nothing: two data sets read in turn keep their own tables
// and lists.
TEST(DataFile, StatesAreIndependent)
{
  trelix_t one, two;
  loadpar(one, "1 1 0 0\n2\n0 0\n1\n1\n");
  loadpar(two, "2 0 0 0\n3 3\n0 0\n1 1\n1 0\n");
  loaddat(one, "a 1 1 2\nb 0 2 2\n");
  loaddat(two, "c 1 1 1 3 3\n");
  EXPECT_EQ(one.nloci, 1);
  EXPECT_EQ(one.sample_size, 2);
  EXPECT_EQ(one.cases, 1);
  EXPECT_EQ(two.selectn, 0);
  EXPECT_EQ(two.sample_size, 1);
  EXPECT_EQ(two.cases, 0);
  EXPECT_EQ(two.list->geno[1], 6);
  EXPECT_EQ(one.list->next->geno[0], 3);
}

// A refusal returns its code with the message and leaves no list behind;
// the state reads the next file as a fresh one would.
TEST(DataFile, BadRecordsAreRefused)
{
  struct {
    const char *par, *data, *message;
  } bad[] = {
      // Named by its ordinal among kept records plus one; an allele equal
      // to the count passes.
      {"2 0 0 0\n3 2\n0 0\n1 1\n1 0\n", "k1 0 3 3 2 2\nk2 0 0 0 0 0\nk3 0 1 1 1 3\n",
       "^Error in record 2,reset allele number \\(or <=0 for missing alleles\\)\n$"},
      {"3 0 0 0\n4 2 5\n0 0\n1 0 1\n1 0 0\n", "a1 0 1 2 1 1 3 3\na2 0 1 2 1 1 3\n",
       "^Line 2 of .*bad.dat has 5 allele numbers; 3 loci need 6\n$"},
      {"3 0 0 0\n4 2 5\n0 0\n1 0 1\n1 0 0\n", "a1 0 1 2 x 1 3 3\n",
       "^Line 1 of .*bad.dat has 2 allele numbers; 3 loci need 6\n$"},
      {"3 0 0 0\n4 2 5\n1 0\n1 0 1\n1 0 0\n", "a1 0 1 2 3\na2 0 7 1\n",
       "^Line 2 of .*bad.dat has 2 genotype codes; 3 loci need 3\n$"},
      {"3 0 0 0\n4 2 5\n1 0\n1 0 1\n1 0 0\n", "a1 0 1 2 1276\n",
       "^Line 1 of .*bad.dat has genotype code 1276 at locus 3; codes run from 0 to 1275\n$"},
      {"3 0 0 0\n4 2 5\n1 0\n1 0 1\n1 0 0\n", "a1 0 1 -1 3\n", "genotype code -1 at locus 2;"},
      {"3 0 0 0\n4 2 5\n1 0\n1 0 1\n1 0 0\n", "a1 0 1 99999999999 3\n",
       "genotype code 2147483647 at locus 2;"},
  };
  trelix_t tx;
  int skipped;
  for (const auto &b : bad) {
    loadpar(tx, b.par);
    std::string path = put("bad.dat", b.data);
    EXPECT_EQ(tx_read_data(tx, path.c_str(), skipped), TX_EDATA) << b.data;
    EXPECT_THAT(tx.message, ContainsRegex(b.message)) << b.data;
    EXPECT_EQ(tx.list, nullptr);
    EXPECT_EQ(tx.sample_size, 0);
  }
  struct {
    const char *path, *message;
  } unreadable[] = {
      {"/nonexistent/study.dat", "^Error opening /nonexistent/study.dat$"},
      {"/tmp", "^/tmp is a directory, not a file\n$"},
  };
  for (const auto &u : unreadable) {
    EXPECT_EQ(tx_read_data(tx, u.path, skipped), TX_EIO);
    EXPECT_THAT(tx.message, ContainsRegex(u.message));
  }
  loadpar(tx, "1 0 0 0\n2\n0 0\n1\n1\n");
  loaddat(tx, "a 0 1 1\n");
  EXPECT_EQ(tx.message, "");
  EXPECT_EQ(tx.sample_size, 1);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(DataFileDeath, OutOfMemoryForTheListIsReported)
{
  trelix_t tx;
  loadpar(tx, "1 0 0 0\n2\n0 0\n1\n1\n");
  std::string data;
  for (int i = 0; i < 200000; i++)
    data += "i 0 1 2\n";
  std::string path = put("big.dat", data);
  // Leave a few megabytes beyond what the process holds: far less than
  // 200000 individuals need. The child shows the code as its status.
  auto starve = [&] {
    long pages = 0;
    FILE *f = fopen("/proc/self/statm", "r");
    if (!f || fscanf(f, "%ld", &pages) != 1)
      abort();
    rlim_t size = static_cast<rlim_t>(pages) * 4096 + (8 << 20);
    struct rlimit lim = {size, size};
    setrlimit(RLIMIT_AS, &lim);
    int skipped;
    int code = tx_read_data(tx, path.c_str(), skipped);
    fputs(tx.message.c_str(), stderr);
    exit(code);
  };
  EXPECT_EXIT(starve(), ExitedWithCode(TX_ENOMEM),
              "^Out of memory for the individual on line [0-9]+ of .*big.dat\n$");
}
#endif
