// Parts of the permutation driver that need no estimator run: tail
// probabilities, identifiers, degrees of freedom, p values, shuffling and
// the merge of case and control tables.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "hfp.h"

namespace {

using ::testing::ExitedWithCode;

void selectloci(std::initializer_list<int> counts, std::initializer_list<int> block1)
{
  nloci = 0;
  auto flag = block1.begin();
  for (int a : counts) {
    alleles[nloci] = a;
    sel[nloci] = 1;
    selp[nloci] = *flag++;
    selidx[nloci] = nloci;
    nloci++;
  }
  selected = nloci - 1;
}

TEST(Tails, NormalAtTheListedPoints)
{
  EXPECT_NEAR(probnorm(0), 0.5, 1e-6);
  EXPECT_NEAR(probnorm(1.96), 0.025, 1e-5);
  EXPECT_NEAR(probnorm(-1.96), 0.975, 1e-5);
  EXPECT_EQ(probnorm(12.5), 0.0);
  EXPECT_EQ(probnorm(-12.5), 1.0);
}

TEST(Tails, ChiSquareByDegreesOfFreedom)
{
  EXPECT_NEAR(probchi(3.841, 1), 0.05, 1e-4);
  EXPECT_NEAR(probchi(0, 1), 1.0, 1e-6);
  for (double x : {0.5, 7.0, 169.0})
    EXPECT_EQ(probchi(x, 2), exp(-x / 2)) << x;
  EXPECT_NEAR(probchi(5, 4), 0.287297, 1e-6);
  EXPECT_NEAR(probchi(5, 4), exp(-2.5) * 3.5, 1e-15);
  // Odd degrees of freedom: P(chi2_3 > 3) = 0.391625, P(chi2_5 > 9) = 0.109064.
  EXPECT_NEAR(probchi(3, 3), 0.391625, 1e-4);
  EXPECT_NEAR(probchi(9, 5), 0.109064, 1e-4);
  // Beyond 169 the cube-root approximation: P(chi2_10 > 200) is tiny.
  double f = 2.0 / 90, c = exp(log(20.0) / 3);
  EXPECT_EQ(probchi(200, 10), probnorm((c - 1 + f) / sqrt(f)));
}

TEST(Identifiers, DecodedFirstLocusMostSignificant)
{
  selectloci({2, 3, 2}, {1, 1, 1});
  int place[3] = {6, 2, 1}, out[3];
  nalleles = place;
  revhapid(1, out);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{1, 1, 1}));
  revhapid(7, out);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{2, 1, 1}));
  revhapid(12, out);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{2, 3, 2}));
  nalleles = nullptr;
}

TEST(Statistics, DegreesOfFreedomAndEmpiricalP)
{
  selectloci({2, 3, 4}, {1, 1, 0});
  EXPECT_EQ(dfree(0), 17);
  EXPECT_EQ(dfree(1), 2);
  EXPECT_EQ(dfree(2), 0);
  EXPECT_EQ(dfree12(), 23 - 5 - 3);
  npermute = 100;
  pvalue_t v = empirical(5);
  char text[64];
  snprintf(text, sizeof text, "%f %f", v.p, v.se);
  EXPECT_STREQ(text, "0.050000 0.021794");
  npermute = 10;
  snprintf(text, sizeof text, "%f", empirical(1).p);
  EXPECT_STREQ(text, "0.100000");
}

TEST(Shuffle, OnlyTypedIndividualsExchangeGenotypes)
{
  selectloci({3}, {1});
  indiv_t people[4];
  memset(people, 0, sizeof people);
  individuals = people;
  int perm[4], work[4];
  // None typed, or one: everyone stays.
  shuffle(perm, work, 4, 0);
  EXPECT_EQ(std::vector<int>(perm, perm + 4), (std::vector<int>{0, 1, 2, 3}));
  people[2].pair[0][0] = 1, people[2].pair[0][1] = 3;
  shuffle(perm, work, 4, 0);
  EXPECT_EQ(std::vector<int>(perm, perm + 4), (std::vector<int>{0, 1, 2, 3}));
  // Two typed: always exchanged; (0, 3) counts as untyped.
  people[0].pair[0][0] = 2, people[0].pair[0][1] = 2;
  people[3].pair[0][0] = 0, people[3].pair[0][1] = 3;
  for (int s = 1; s < 20; s++) {
    srand(s);
    shuffle(perm, work, 4, 0);
    EXPECT_EQ(std::vector<int>(perm, perm + 4), (std::vector<int>{2, 1, 0, 3}));
  }
  individuals = nullptr;
}

TEST(Merge, RowsOfCaseAndControlTables)
{
  const double E = 4294967295.0;
  double hca[] = {0.5, 0.3, 0.2, 10}, idca[] = {1, 4, 6, E};
  double hco[] = {0.6, 0.4, 10}, idco[] = {1, 5, E};
  mergerow_t rows[5];
  epsh = 1e-6;
  mergerows(hca, idca, hco, idco, 5, rows);
  EXPECT_EQ(rows[0].id, 1);
  EXPECT_EQ(rows[0].code, 2);
  EXPECT_EQ(rows[1].id, 4);
  EXPECT_EQ(rows[1].code, 1);
  EXPECT_EQ(rows[1].hco, 0);
  EXPECT_EQ(rows[2].id, 5);
  EXPECT_EQ(rows[2].code, 0);
  EXPECT_EQ(rows[3].id, 6);
  EXPECT_TRUE(rows[3].scored);
  // Both lists used up: the step yields the previous row, not scored again.
  EXPECT_EQ(rows[4].id, 6);
  EXPECT_FALSE(rows[4].scored);
}

// A report written to the working directory under the given name.
void putreport(const char *name, const std::string &text)
{
  FILE *f = fopen(name, "w");
  fputs(text.c_str(), f);
  fclose(f);
}

const char *REPORT = "locus   1 # individuals = 4\n\n4/1 individuals with F/P information\n\n"
                     "log-likelihood assuming linkage disequilibrium =-7.62\n"
                     "Test of marker-marker disequilibrium, chi-square=1.82\n"
                     "FT = sqrt(h1*n)+sqrt(h1*n+1)-sqrt(4*h0+1)\n\n       h1   head\n\n"
                     " 0.599274 0.599274308814 0.525000   0.40  1  1 1\n"
                     " 0.100726 0.100725691186 0.175000  -0.41  1  2 2\n"
                     "\nNumber of nonzero haplotypes = 2\n\n";

class Reports : public ::testing::Test {
protected:
  void SetUp() override
  {
    char dir[] = "/tmp/hfpreportXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    selectloci({2, 2}, {1, 1});
    cc = 0;
  }
};

TEST_F(Reports, ValuesAfterTheMarkers)
{
  putreport("temp.hfo", REPORT);
  float ll = 0;
  EXPECT_FLOAT_EQ(getx2ln(&ll, "cmd"), 1.82f);
  EXPECT_FLOAT_EQ(ll, -7.62f);
  EXPECT_FLOAT_EQ(getln("temp.hfo", "cmd"), -7.62f);
  gethappy(0, 0);
  EXPECT_EQ(nhaps0, 2);
  EXPECT_EQ(fobs0, 4);
  EXPECT_EQ(pobs0, 1);
  EXPECT_EQ(hidobs[1], 2);
  EXPECT_DOUBLE_EQ(h1[0], 0.599274308814);
  EXPECT_DOUBLE_EQ(ftobs[1], -0.41);
  // A permuted pass with a deviate as large in absolute value counts; ties too.
  putreport("temp.hfo", std::string(REPORT).replace(std::string(REPORT).find("-0.41"), 5, " 0.41"));
  gethappy(0, 1);
  EXPECT_EQ(ftp[0], 1);
  EXPECT_EQ(ftp[1], 1);
}

TEST_F(Reports, MissingOrTruncatedReportsStopTheRun)
{
  EXPECT_EXIT(getln("temp1.hfo", "hf.sun temp.hf temp1.hfo>hf.tmp"), ExitedWithCode(1),
              "left no report temp1.hfo");
  std::string text = REPORT;
  putreport("temp.hfo", text.substr(0, text.find("Test of")));
  float ll;
  EXPECT_EXIT(getx2ln(&ll, "cmd"), ExitedWithCode(1), "has no disequilibrium chi-square");
  putreport("temp.hfo", text.substr(0, text.find("log-likelihood")));
  EXPECT_EXIT(getx2ln(&ll, "cmd"), ExitedWithCode(1), "has no log-likelihood");
  // Every truncation of the table part is refused, never read past.
  for (size_t cut = text.find("FT = sqrt"); cut < text.size(); cut += 7) {
    putreport("temp.hfo", text.substr(0, cut));
    EXPECT_EXIT(gethappy(0, 0), ExitedWithCode(1), "incomplete") << cut;
  }
  // More rows than announced.
  std::string extra = text;
  extra.replace(extra.find("\nNumber"), 0, " 0.100000 0.100000000000 0.175000  -0.41  2  2 4\n");
  putreport("temp.hfo", extra);
  EXPECT_EXIT(gethappy(0, 0), ExitedWithCode(1), "more table rows");
}

// The runs ended by the EM's step cap are those whose estimator wrote a
// "Warning: " line, however its standard error arrives in pieces; its
// other lines are passed on as they are.
TEST(StepCap, CountedFromTheEstimatorsWarningLines)
{
  struct {
    std::vector<const char *> pieces;
    const char *passed;
    int warnings;
  } cases[] = {
      {{"Warning: temp.hf: the EM stopped at its cap of 50 steps, still gaining 0.015\n"}, "", 1},
      {{"note: kept\n"}, "note: kept\n", 0},
      {{"Warn", "ing: split over two reads\n", "a", "fter\n"}, "after\n", 1},
      {{"a\nWarning: b\nc"}, "a\nc", 1},               // the last line without its line end
      {{"Warning: no line end"}, "", 1},
      {{"x Warning: not at the start\nWarning:\n"}, "x Warning: not at the start\nWarning:\n", 0},
  };
  for (const auto &c : cases) {
    stderrfilter_t f;
    std::string passed;
    for (const char *p : c.pieces)
      passed += f.feed(p, strlen(p));
    passed += f.finish();
    EXPECT_EQ(passed, c.passed) << c.pieces[0];
    EXPECT_EQ(f.warnings, c.warnings) << c.pieces[0];
  }
}

TEST(Options, BeforeThePositionalArguments)
{
  struct {
    std::vector<const char *> argv;
    int first, jobs;
    bool inprocess;
  } good[] = {
      {{"hfp", "a.par", "b.dat"}, 1, 1, false},
      {{"hfp", "--jobs", "3", "a.par"}, 3, 3, false},
      {{"hfp", "-j2", "--in-process", "a.par"}, 3, 2, true},
      {{"hfp", "--jobs=4", "--", "-odd.par"}, 3, 4, false},
      {{"hfp", "a.par", "--jobs", "2"}, 1, 1, false}, // options end at the first file
  };
  for (auto &c : good) {
    options_t o;
    c.argv.push_back(nullptr);
    EXPECT_EQ(parseoptions(static_cast<int>(c.argv.size()) - 1, const_cast<char **>(c.argv.data()), o), c.first);
    EXPECT_EQ(o.jobs, c.jobs);
    EXPECT_EQ(o.inprocess, c.inprocess);
  }
  options_t o;
  const char *every[] = {"hfp", "--jobs", "0", "a", nullptr};
  parseoptions(4, const_cast<char **>(every), o);
  EXPECT_GE(o.jobs, 1);
  for (std::vector<const char *> bad : {std::vector<const char *>{"hfp", "--jobs", "x"},
                                        {"hfp", "--jobs", "-1"}, {"hfp", "-j", "2000"}, {"hfp", "--jobs"},
                                        {"hfp", "--frob", "a"}}) {
    bad.push_back(nullptr);
    EXPECT_EXIT(parseoptions(static_cast<int>(bad.size()) - 1, const_cast<char **>(bad.data()), o),
                ExitedWithCode(1), "hfp: ");
  }
}

} // namespace
