// Parts of the permutation driver that need no estimator run: identifiers,
// degrees of freedom, shuffling, the merge of case and control tables, the
// reading of reports; and the driver's state, codes and in-process figures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "hfp.h"

namespace {

void selectloci(hfp_t &s, std::initializer_list<int> counts, std::initializer_list<int> block1)
{
  s.nloci = 0;
  auto flag = block1.begin();
  for (int a : counts) {
    s.alleles[s.nloci] = a;
    s.sel[s.nloci] = 1;
    s.selp[s.nloci] = *flag++;
    s.selidx[s.nloci] = s.nloci;
    s.nloci++;
  }
  s.selected = s.nloci - 1;
}

// The failure body() ends with: its status and message; status 0 when it
// returns.
template <class F> std::pair<int, std::string> failure(F body)
{
  try {
    body();
  } catch (const hfpabort &e) {
    return {e.status, e.what()};
  }
  return {0, ""};
}

TEST(Identifiers, DecodedFirstLocusMostSignificant)
{
  hfp_t s;
  selectloci(s, {2, 3, 2}, {1, 1, 1});
  s.nalleles = {6, 2, 1};
  int out[3];
  revhapid(s, 1, out);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{1, 1, 1}));
  revhapid(s, 7, out);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{2, 1, 1}));
  revhapid(s, 12, out);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{2, 3, 2}));
}

TEST(Statistics, DegreesOfFreedom)
{
  hfp_t s;
  selectloci(s, {2, 3, 4}, {1, 1, 0});
  EXPECT_EQ(dfree(s, 0), 17);
  EXPECT_EQ(dfree(s, 1), 2);
  EXPECT_EQ(dfree(s, 2), 0);
  EXPECT_EQ(dfree12(s), 23 - 5 - 3);
}

TEST(Shuffle, OnlyTypedIndividualsExchangeGenotypes)
{
  hfp_t s;
  selectloci(s, {3}, {1});
  indiv_t none;
  memset(&none, 0, sizeof none);
  s.individuals.assign(4, none);
  std::vector<indiv_t> &people = s.individuals;
  int perm[4], work[4];
  // None typed, or one: everyone stays.
  shuffle(s, perm, work, 4, 0);
  EXPECT_EQ(std::vector<int>(perm, perm + 4), (std::vector<int>{0, 1, 2, 3}));
  people[2].pair[0][0] = 1, people[2].pair[0][1] = 3;
  shuffle(s, perm, work, 4, 0);
  EXPECT_EQ(std::vector<int>(perm, perm + 4), (std::vector<int>{0, 1, 2, 3}));
  // Two typed: always exchanged; (0, 3) counts as untyped.
  people[0].pair[0][0] = 2, people[0].pair[0][1] = 2;
  people[3].pair[0][0] = 0, people[3].pair[0][1] = 3;
  for (int seed = 1; seed < 20; seed++) {
    srand(seed);
    shuffle(s, perm, work, 4, 0);
    EXPECT_EQ(std::vector<int>(perm, perm + 4), (std::vector<int>{2, 1, 0, 3}));
  }
}

TEST(Merge, RowsOfCaseAndControlTables)
{
  const double E = 4294967295.0;
  double hca[] = {0.5, 0.3, 0.2, 10}, idca[] = {1, 4, 6, E};
  double hco[] = {0.6, 0.4, 10}, idco[] = {1, 5, E};
  mergerow_t rows[5];
  mergerows(hca, idca, hco, idco, 5, 1e-6, rows);
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

const char *REPORT = "locus   1 # individuals = 4\n\n4/1 individuals with F/P information\n\n"
                     "log-likelihood assuming linkage disequilibrium =-7.62\n"
                     "Test of marker-marker disequilibrium, chi-square=1.82\n"
                     "FT = sqrt(h1*n)+sqrt(h1*n+1)-sqrt(4*h0+1)\n\n       h1   head\n\n"
                     " 0.599274 0.599274308814 0.525000   0.40  1  1 1\n"
                     " 0.100726 0.100725691186 0.175000  -0.41  1  2 2\n"
                     "\nNumber of nonzero haplotypes = 2\n\n";

// The values, or with table the table too, of a report text of two loci.
runread_t readreport(const std::string &text, bool wantx2, hapreport_t *table = nullptr)
{
  std::string copy = text;
  FILE *f = fmemopen(&copy[0], copy.size(), "r");
  runread_t v;
  try {
    readvalues(f, "temp.hfo", "cmd", wantx2, v);
    if (table != nullptr)
      readtable(f, "temp.hfo", 1, *table);
  } catch (...) {
    fclose(f);
    throw;
  }
  fclose(f);
  return v;
}

TEST(Reports, ValuesAfterTheMarkers)
{
  hfp_t s;
  selectloci(s, {2, 2}, {1, 1});
  hapreport_t t;
  runread_t v = readreport(REPORT, true, &t);
  EXPECT_FLOAT_EQ(v.x2, 1.82f);
  EXPECT_FLOAT_EQ(v.ll, -7.62f);
  EXPECT_FLOAT_EQ(readreport(REPORT, false).ll, -7.62f);
  foldpooled(s, t, 0);
  EXPECT_EQ(s.nhaps0, 2);
  EXPECT_EQ(s.fobs0, 4);
  EXPECT_EQ(s.pobs0, 1);
  EXPECT_EQ(s.hidobs[1], 2);
  EXPECT_DOUBLE_EQ(s.h1[0], 0.599274308814);
  EXPECT_DOUBLE_EQ(s.ftobs[1], -0.41);
  // A permuted pass with a deviate as large in absolute value counts; ties too.
  readreport(std::string(REPORT).replace(std::string(REPORT).find("-0.41"), 5, " 0.41"), false, &t);
  foldpooled(s, t, 1);
  EXPECT_EQ(s.ftp[0], 1);
  EXPECT_EQ(s.ftp[1], 1);
}

TEST(Reports, MissingOrTruncatedReportsStopTheRun)
{
  std::string text = REPORT;
  auto values = [&](const std::string &report) { return failure([&] { readreport(report, true); }); };
  auto table = [&](const std::string &report) {
    hapreport_t t;
    return failure([&] { readreport(report, false, &t); });
  };
  auto cut = values(text.substr(0, text.find("Test of")));
  EXPECT_EQ(cut.first, 1);
  EXPECT_THAT(cut.second, ::testing::HasSubstr("has no disequilibrium chi-square"));
  cut = values(text.substr(0, text.find("log-likelihood")));
  EXPECT_EQ(cut.first, 1);
  EXPECT_THAT(cut.second, ::testing::HasSubstr("has no log-likelihood"));
  // Every truncation of the table part is refused, never read past.
  for (size_t at = text.find("FT = sqrt"); at < text.size(); at += 7) {
    cut = table(text.substr(0, at));
    EXPECT_EQ(cut.first, 1) << at;
    EXPECT_THAT(cut.second, ::testing::HasSubstr("incomplete")) << at;
  }
  // More rows than announced.
  std::string extra = text;
  extra.replace(extra.find("\nNumber"), 0, " 0.100000 0.100000000000 0.175000  -0.41  2  2 4\n");
  EXPECT_THAT(table(extra).second, ::testing::HasSubstr("more table rows"));
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
    auto f = failure([&] { parseoptions(static_cast<int>(bad.size()) - 1, const_cast<char **>(bad.data()), o); });
    EXPECT_EQ(f.first, 1) << bad[1];
    EXPECT_THAT(f.second, ::testing::StartsWith("hfp: ")) << bad[1];
  }
}

} // namespace

namespace {

// A run that fails returns its status with the message in the state and
// prints nothing of it itself.
TEST(Run, FailuresComeBackAsCodes)
{
  struct {
    std::vector<const char *> argv;
    const char *message;
  } cases[] = {
      {{"hfp", "only-one"}, "Usage: hfp parfile datfile"},
      {{"hfp", "--frob", "a", "b"}, "hfp: unknown option --frob"},
      {{"hfp", "a.par", "b.dat", "out", "x"}, "hfp: the seed \"x\" is not a number"},
  };
  for (auto &c : cases) {
    hfp_t s;
    c.argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    int status = hfprun(s, static_cast<int>(c.argv.size()) - 1, const_cast<char **>(c.argv.data()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(status, 1) << c.message;
    EXPECT_THAT(s.message, ::testing::StartsWith(c.message));
    EXPECT_EQ(s.signal, 0);
  }
}

// The estimator in process gives the figures of its own report, read back
// as a report file is: the same floats and doubles, bit for bit, on random
// data with missing genotypes, over every kind of run.
TEST(InProcess, FiguresAreThoseOfTheReport)
{
  hfp_t s;
  selectloci(s, {2, 3, 2, 4}, {1, 1, 0, 0});
  s.selectp = 1;
  s.selectn = 1;
  s.sample_size = 60;
  srand(5);
  indiv_t none;
  memset(&none, 0, sizeof none);
  s.individuals.assign(60, none);
  for (int i = 0; i < 60; i++) {
    s.individuals[i].seq = i + 1;
    s.individuals[i].label = i % 3 == 0;
    for (int l = 0; l < 4; l++)
      for (int k = 0; k < 2; k++)
        s.individuals[i].pair[l][k] = rand() % 9 == 0 ? 0 : 1 + rand() % s.alleles[l];
  }
  initinprocess(s, 1);
  for (int kind : {0, 1, 2})
    for (int filter : {-1, 0, 1}) {
      hapreport_t t;
      runread_t v = estimateinprocess(s, 0, s.individuals.data(), kind, filter, "cmd", &t);
      // The same records through the library's report text.
      hfstate_t *e = s.engines[0].state;
      std::string report;
      ASSERT_EQ(hf_report_string(e, HF_REPORT_COUNTS | HF_REPORT_EM, report), HF_OK);
      hapreport_t u;
      runread_t w = readreport(report, true);
      FILE *f = fmemopen(&report[0], report.size(), "r");
      readtable(f, "r", hf_nloci(e) - 1, u);
      fclose(f);
      EXPECT_EQ(memcmp(&v.ll, &w.ll, sizeof v.ll), 0) << kind << filter;
      EXPECT_EQ(memcmp(&v.x2, &w.x2, sizeof v.x2), 0) << kind << filter;
      EXPECT_EQ(t.full, u.full);
      EXPECT_EQ(t.partial, u.partial);
      EXPECT_EQ(t.nhaps, u.nhaps);
      ASSERT_EQ(t.id.size(), u.id.size());
      EXPECT_GT(t.nhaps, 1);
      for (size_t i = 0; i < t.id.size(); i++) {
        EXPECT_EQ(t.id[i], u.id[i]);
        EXPECT_EQ(memcmp(&t.h1[i], &u.h1[i], sizeof(double)), 0) << i;
        EXPECT_EQ(memcmp(&t.h0[i], &u.h0[i], sizeof(double)), 0) << i;
        EXPECT_EQ(memcmp(&t.ft[i], &u.ft[i], sizeof(double)), 0) << i;
      }
    }
  freeinprocess(s);
}

} // namespace
