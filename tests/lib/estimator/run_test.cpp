// The interface: settings, codes and messages of bad data and exhausted
// memory, results beside the report, and the debug listings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

#include "testutil.h"

namespace {

using ::testing::ExitedWithCode;
using ::testing::HasSubstr;

using state_ptr = std::unique_ptr<hfstate_t, void (*)(hfstate_t *)>;
state_ptr fresh(int xdata = 0)
{
  return state_ptr(hf_new(xdata), hf_free);
}

TEST(Interface, CutoffFloorIsTheMachinePrecision)
{
  state_ptr s = fresh();
  for (double t : {0.0, -3.0, atof("abc"), double(NAN)}) {
    hf_set_cutoff(s.get(), t);
    EXPECT_EQ(s->pl, ldexp(1.0, -53)) << t;
  }
  hf_set_cutoff(s.get(), 2.5);
  EXPECT_EQ(s->pl, 2.5) << "no upper bound";
  EXPECT_EQ(s->precis, ldexp(1.0, -53));
  EXPECT_EQ(s->tol, 1.0);
}

// Bad data of every kind comes back as a code and the program's message;
// the state stays usable for the next input.
TEST(Interface, BadDataGivesACodeAndAMessage)
{
  struct {
    const char *text;
    int code;
    const char *message;
  } cases[] = {
      {"2 x\n", HF_EDATA, "\"x\" is not a whole number of alleles"},
      {"2 2\n1 1 1/2\n", HF_EDATA, "There isn't enough data at line 1\n"},
      {"2 2\n", HF_EDATA, "Empty list.\n"},
      {"2 2\n1 1 1/2 0/0\n", HF_OK, ""}, // fails in the estimation: locus 2 untyped
  };
  state_ptr s = fresh();
  for (auto &c : cases) {
    std::string name = tempfile(c.text);
    EXPECT_EQ(hf_read_file(s.get(), name.c_str()), c.code) << c.text;
    EXPECT_THAT(hf_message(s.get()), HasSubstr(c.message)) << c.text;
    unlink(name.c_str());
  }
  EXPECT_EQ(hf_estimate(s.get()), HF_EDATA);
  EXPECT_THAT(hf_message(s.get()), HasSubstr("No individual is typed at locus 2"));
  EXPECT_EQ(hf_result(s.get()), nullptr);
  std::string out;
  EXPECT_EQ(hf_report_string(s.get(), HF_REPORT_ALL, out), HF_EUSAGE);
  EXPECT_EQ(hf_read_file(s.get(), "/nonexistent/input"), HF_EIO);
  EXPECT_STREQ(hf_message(s.get()), "Sorry, is there file called /nonexistent/input ?\n");
  EXPECT_EQ(hf_read_file(s.get(), "/tmp"), HF_EIO);
  EXPECT_THAT(hf_message(s.get()), HasSubstr("is a directory"));

  int alleles[] = {2, 51};
  geno_t rec = {};
  EXPECT_EQ(hf_set_data(s.get(), alleles, 2, &rec, 1), HF_EDATA);
  EXPECT_THAT(hf_message(s.get()), HasSubstr("locus 2 has 51 alleles"));
  alleles[1] = 2;
  EXPECT_EQ(hf_set_data(s.get(), alleles, 2, &rec, 1), HF_EDATA) << "no record typed anywhere";
  rec.instances = -1;
  rec.allele[0] = rec.allele[1] = 1;
  EXPECT_EQ(hf_set_data(s.get(), alleles, 2, &rec, 1), HF_EDATA);
  EXPECT_THAT(hf_message(s.get()), HasSubstr("instances"));
}

// Records from memory give what the same records from a file give: the
// results, the report, and the stopping rule's effect on both.
TEST(Interface, RecordsFromMemoryAndResults)
{
  const char *text = "2 2\n1 1 1/1 1/2\n2 1 1/2 1/2\n3 1 2/2 0/0\n4 2 1/1 1/1\n";
  state_ptr a = fresh(), b = fresh();
  std::string name = tempfile(text);
  ASSERT_EQ(hf_read_file(a.get(), name.c_str()), HF_OK);
  unlink(name.c_str());
  const std::vector<geno_t> &recs = hf_records(a.get());
  ASSERT_EQ(hf_set_data(b.get(), hf_loci(a.get()), hf_nloci(a.get()), recs.data(), recs.size()), HF_OK);
  ASSERT_EQ(hf_estimate(a.get()), HF_OK);
  ASSERT_EQ(hf_estimate(b.get()), HF_OK);
  std::string ra, rb;
  ASSERT_EQ(hf_report_string(a.get(), HF_REPORT_ALL, ra), HF_OK);
  ASSERT_EQ(hf_report_string(b.get(), HF_REPORT_ALL, rb), HF_OK);
  EXPECT_EQ(ra, rb);
  const hf_result_t *r = hf_result(a.get());
  EXPECT_EQ(r->iterations, 12);
  EXPECT_EQ(r->capped, 0);
  EXPECT_EQ(r->chi2, 2 * (r->ll1 - r->ll0));
  EXPECT_EQ(r->df, 1);
  EXPECT_EQ(r->full, 4);
  EXPECT_EQ(r->partial, 1);
  const int *number;
  const double *h1, *h0;
  size_t n = hf_haplotypes(a.get(), &number, &h1, &h0);
  ASSERT_EQ(n, 4u);
  for (size_t i = 1; i < n; i++)
    EXPECT_LT(number[i - 1], number[i]);
  EXPECT_NE(ra.find(" 0.009034 0.009034365215 0.225000  -1.82  2  1 3\n"), std::string::npos);
  EXPECT_NEAR(h1[2], 0.009034365215, 1e-12) << "the row of number 3";

  // Three steps at most: the cap ends the iterations, and says so.
  hf_set_stoprule(a.get(), 0.01, 3);
  ASSERT_EQ(hf_estimate(a.get()), HF_OK);
  EXPECT_EQ(hf_result(a.get())->iterations, 3);
  EXPECT_EQ(hf_result(a.get())->capped, 1);
  EXPECT_GT(hf_result(a.get())->last_gain, 0.01);
  std::string em;
  ASSERT_EQ(hf_report_string(a.get(), HF_REPORT_EM, em), HF_OK);
  EXPECT_EQ(em.find("Iteration   4"), std::string::npos);
  EXPECT_EQ(em.rfind("\nlog-likelihood assuming linkage equilibrium", 0), 0u) << "the section alone";
}

// Estimates under an address-space limit 64 MiB above what the process
// holds; ends the process with 0 when the estimation returned its memory code.
[[noreturn]] void estimateunderlimit()
{
  state_ptr s = fresh();
  int alleles[] = {50, 50, 50, 50, 50};
  geno_t rec = {};
  rec.instances = 1;
  rec.allele[0] = 1;
  rec.allele[1] = 2;
  if (hf_set_data(s.get(), alleles, 5, &rec, 1) != HF_OK)
    _exit(10);
  struct rlimit lim;
  getrlimit(RLIMIT_AS, &lim);
  FILE *maps = fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  if (maps == nullptr || fscanf(maps, "%lu", &pages) != 1)
    _exit(11);
  fclose(maps);
  lim.rlim_cur = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + (size_t(64) << 20);
  setrlimit(RLIMIT_AS, &lim);
  int code = hf_estimate(s.get());
  fputs(hf_message(s.get()), stderr);
  _exit(code == HF_ENOMEM ? 0 : 12);
}

TEST(Interface, MemoryExhaustionIsACode)
{
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#endif
  // A record typed at one of five 50-allele loci has 1275^4 completions;
  // storing their pairs outgrows 64 MiB more address space at once.
  EXPECT_EXIT(estimateunderlimit(), ExitedWithCode(0), "Sorry, but I cannot allocate memory");
}

TEST(Debug, RecordListingAndPossibleHaplotypes)
{
  // Two fully typed records: one homozygous (haplotype 1), one heterozygous
  // at both loci (pairs 1/4 and 3/2); the partial record adds nothing.
  std::string in = tempfile("2 2\n5 1 1/1 1/1\n6 2 1/2 1/2\n7 1 2/2 0/0\n");
  state_ptr s = fresh();
  hf_set_debug(s.get(), 1);
  ASSERT_EQ(hf_read_file(s.get(), in.c_str()), HF_OK);
  FILE *f = tmpfile();
  listrecords(*s, hf_records(s.get()).data(), f);
  rewind(f);
  std::string listing;
  for (int ch; (ch = getc(f)) != EOF;)
    listing.push_back(static_cast<char>(ch));
  fclose(f);
  ASSERT_EQ(hf_estimate(s.get()), HF_OK);
  std::string report;
  ASSERT_EQ(hf_report_string(s.get(), HF_REPORT_ALL, report), HF_OK);
  EXPECT_EQ(listing, "    5 1 0  1/ 1  1/ 1\n    6 2 0  1/ 2  1/ 2\n    7 1 0  2/ 2  0/ 0\n");
  EXPECT_NE(report.find("Haplotype frequencies under linkage equilibrium"), std::string::npos);
  EXPECT_NE(report.find("\nFrequencies of possible haplotypes\n\n"), std::string::npos);
  EXPECT_NE(report.find("\nPossible haplotypes excluding missing loci = 4\n"), std::string::npos);
  size_t at = report.find("Frequencies of possible haplotypes");
  EXPECT_EQ(lines(report.substr(at)).size(), 2u + 4u + 2u);
  // The same listing again: the tree is built afresh for every report.
  std::string again;
  ASSERT_EQ(hf_report_string(s.get(), HF_REPORT_ASSIGN, again), HF_OK);
  EXPECT_EQ(again, report.substr(report.find("\nAssignment of haplotypes")));
  unlink(in.c_str());
}

} // namespace
