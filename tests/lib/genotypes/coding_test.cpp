// Allele numbering, the limits of the programs, and what the writers put in
// the files.

#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "genotypes.h"
#include "hs_limits.h"
#include "tmpfiles.h"

using ::testing::HasSubstr;

namespace {

// A window with one marker per entry of genotypes; each entry lists the
// calls of the samples as "AG" (two one-letter alleles) or "-" (missing).
window_t make_window(const std::vector<std::vector<std::string>> &genotypes,
                     const std::vector<int> &sex = {}, const std::vector<int> &status = {})
{
  window_t w;
  size_t n = genotypes.empty() ? sex.size() : genotypes[0].size();
  for (size_t i = 0; i < n; i++) {
    sample_t s;
    s.fid = "f" + std::to_string(i + 1);
    s.iid = "i" + std::to_string(i + 1);
    s.sex = i < sex.size() ? sex[i] : SEX_UNKNOWN;
    s.status = i < status.size() ? status[i] : STATUS_UNKNOWN;
    w.samples.push_back(s);
  }
  for (size_t k = 0; k < genotypes.size(); k++) {
    marker_t m;
    m.name = "rs" + std::to_string(k + 1);
    m.chrom = "X";
    m.index = static_cast<int>(k) + 1;
    w.markers.push_back(m);
    std::vector<call_t> calls;
    for (const std::string &g : genotypes[k]) {
      call_t c;
      if (g != "-") {
        c.a = g.substr(0, 1);
        c.b = g.substr(1, 1);
      }
      calls.push_back(c);
    }
    w.calls.push_back(calls);
  }
  return w;
}

std::string slurp(const std::string &path)
{
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace

TEST(AlleleNumbers, FollowTheSpellingOrderNotTheOrderOfAppearance)
{
  window_t w = make_window({{"TG", "GG", "-", "CT"}});
  coded_t c = number_alleles(w);
  EXPECT_EQ(w.markers[0].alleles, (std::vector<std::string>{"C", "G", "T"}));
  // Pairs smaller number first; missing is 0/0.
  EXPECT_EQ(c.a[0], (std::vector<int>{2, 2, 0, 1}));
  EXPECT_EQ(c.b[0], (std::vector<int>{3, 2, 0, 3}));
}

TEST(AlleleNumbers, AMarkerWithoutAnyCallIsRefused)
{
  window_t w = make_window({{"AA", "AG"}, {"-", "-"}});
  EXPECT_THAT(error_of([&] { number_alleles(w); }), HasSubstr("rs2 (marker 2 of the input) has no called genotype"));
}

TEST(Limits, LociAllelesAndHaplotypesAreCheckedForEveryOutput)
{
  output_options_t trelix;
  output_options_t estimator;
  estimator.trelix = false;
  estimator.hf = true;

  window_t w = make_window(std::vector<std::vector<std::string>>(TX_MAXLOCI, {"AG"}));
  number_alleles(w);
  EXPECT_EQ(error_of([&] { check_limits(w, trelix); }), "");
  w = make_window(std::vector<std::vector<std::string>>(TX_MAXLOCI + 1, {"AA"}));
  number_alleles(w);
  EXPECT_THAT(error_of([&] { check_limits(w, trelix); }),
              HasSubstr("the window holds 31 markers; parameter and data files for hfp and phf "
                        "take at most 30 loci"));
  EXPECT_EQ(error_of([&] { check_limits(w, estimator); }), "");
  w = make_window(std::vector<std::vector<std::string>>(HF_MAXLOCI + 1, {"AA"}));
  number_alleles(w);
  EXPECT_THAT(error_of([&] { check_limits(w, estimator); }),
              HasSubstr("the estimator takes at most 60 loci"));

  window_t many;
  many.samples.resize(1);
  many.markers.resize(1);
  many.markers[0].name = "multi";
  many.markers[0].alleles.resize(TX_MAXALLELES + 1);
  EXPECT_THAT(error_of([&] { check_limits(many, trelix); }),
              HasSubstr("marker multi has 51 alleles; the programs take at most 50"));
  many.markers[0].alleles.resize(TX_MAXALLELES);
  EXPECT_EQ(error_of([&] { check_limits(many, trelix); }), "");

  // Six markers of 40 alleles: 4.1e9 haplotypes, beyond a 32-bit number.
  window_t wide;
  wide.markers.resize(6);
  for (marker_t &m : wide.markers)
    m.alleles.resize(40);
  EXPECT_THAT(error_of([&] { check_limits(wide, trelix); }), HasSubstr("more possible haplotypes"));

  window_t none;
  EXPECT_THAT(error_of([&] { check_limits(none, trelix); }), HasSubstr("no marker"));
}

// The window that --estimator-only is said to take is one the estimator
// takes: fewer markers than its limit on loci when more would have more
// possible haplotypes than it can number.
TEST(Limits, TheEstimatorOnlyWindowNamedForTooManyLociFits)
{
  output_options_t trelix;
  output_options_t estimator;
  estimator.trelix = false;
  estimator.hf = true;
  struct {
    int markers;
    const char *call, *named;
    size_t fits;  // the window named: it fits, one marker more does not
  } rows[] = {
      {40, "AG", "(with --estimator-only, estimator input takes at most the first 30 of these "
                 "markers: the possible haplotypes of more outnumber what the estimator can "
                 "number, 2147483647)", 30},
      {61, "AA", "(with --estimator-only, estimator input takes up to 60)", 60},
  };
  for (const auto &r : rows) {
    window_t w = make_window(std::vector<std::vector<std::string>>(r.markers, {r.call}));
    number_alleles(w);
    EXPECT_THAT(error_of([&] { check_limits(w, trelix); }), HasSubstr(r.named)) << r.markers;
    w.markers.resize(r.fits);
    EXPECT_EQ(error_of([&] { check_limits(w, estimator); }), "") << r.markers;
    w.markers.push_back(w.markers.back());
    EXPECT_NE(error_of([&] { check_limits(w, estimator); }), "") << r.markers;
  }
}

TEST(Writers, CaseControlDataLeaveOutIndividualsWithoutStatus)
{
  scratch_t t;
  window_t w = make_window({{"AG", "GG", "AA", "-"}}, {}, {STATUS_CASE, STATUS_UNKNOWN, STATUS_CONTROL, STATUS_CASE});
  coded_t c = number_alleles(w);
  output_options_t opt;
  opt.permutations = 250;
  write_summary_t s = write_outputs(t.dir + "/o", "in", w, c, opt);
  t.files = {t.dir + "/o.par", t.dir + "/o.dat", t.dir + "/o.legend"};
  EXPECT_TRUE(s.casecontrol);
  EXPECT_EQ(s.left_out, 1);
  EXPECT_EQ(slurp(t.dir + "/o.par"), "1 1 1 250\n2\n0 0\n1\n1\n");
  EXPECT_EQ(slurp(t.dir + "/o.dat"), "1 1 1 2\n3 0 1 1\n4 1 0 0\n");
}

TEST(Writers, WithoutStatusAllIndividualsAreWrittenAndBlock1IsTheFirstLoci)
{
  scratch_t t;
  window_t w = make_window({{"AG", "GG"}, {"CC", "CT"}, {"AC", "AA"}});
  coded_t c = number_alleles(w);
  output_options_t opt;
  opt.block1 = 2;
  opt.permutations = 0;
  write_outputs(t.dir + "/o", "in", w, c, opt);
  t.files = {t.dir + "/o.par", t.dir + "/o.dat", t.dir + "/o.legend"};
  EXPECT_EQ(slurp(t.dir + "/o.par"), "3 0 0 0\n2 2 2\n0 0\n1 1 1\n1 1 0\n");
  EXPECT_EQ(slurp(t.dir + "/o.dat"), "1 0 1 2 1 1 1 2\n2 0 2 2 1 2 1 1\n");
}

TEST(Writers, OnlyOneStatusClassIsRefusedForTheCaseControlTest)
{
  scratch_t t;
  window_t w = make_window({{"AG", "GG"}}, {}, {STATUS_CONTROL, STATUS_UNKNOWN});
  coded_t c = number_alleles(w);
  output_options_t opt;
  EXPECT_THAT(error_of([&] { write_outputs(t.dir + "/o", "in", w, c, opt); }),
              HasSubstr("are all controls"));
  opt.use_status = false;
  EXPECT_FALSE(write_outputs(t.dir + "/o", "in", w, c, opt).casecontrol);
  t.files = {t.dir + "/o.par", t.dir + "/o.dat", t.dir + "/o.legend"};
}

// Status of one class, refused when the parameter and data files are all
// that is written, makes them lose the status when estimator input is
// written too. Markers
// on X without --hfx are written as diploid in males: a warning says so.
TEST(Writers, OneStatusClassAndXMarkersAreNamedInWarnings)
{
  struct {
    bool hf, hfx;
    const char *chrom;
    int sex;
    const char *outcome;  // the warning, or "" for none
  } rows[] = {
      {true, false, "6", SEX_FEMALE,
       "in: the 2 individuals with case-control status are all controls; O.par and O.dat are "
       "written without the status, for hfp's block test (a case-control test needs both)"},
      {false, true, "6", SEX_FEMALE, "are written without the status"},
      {true, false, "chrX", SEX_MALE,
       "1 marker of the window lies on the X chromosome (rs1), where O.par, O.dat and O.hf "
       "hold males as diploid, as on an autosome; --hfx --estimator-only writes estimator input "
       "for hfx instead, with males as one-allele records"},
      {false, false, "23", SEX_UNKNOWN, "where O.par and O.dat hold males as diploid"},
      {false, true, "X", SEX_MALE, ""},
      {false, false, "X", SEX_FEMALE, ""},
  };
  for (const auto &r : rows) {
    scratch_t t;
    bool x = std::string(r.chrom) != "6";
    window_t w = make_window({{"AG", "GG"}}, {r.sex, r.sex},
                             x ? std::vector<int>{STATUS_CASE, STATUS_CONTROL}
                               : std::vector<int>{STATUS_CONTROL, STATUS_CONTROL});
    w.markers[0].chrom = r.chrom;
    coded_t c = number_alleles(w);
    output_options_t opt;
    opt.hf = r.hf;
    opt.hfx = r.hfx;
    std::string o = t.dir + "/o";
    for (const char *ext : {".par", ".dat", ".hf", ".hfx", ".legend"})
      t.files.push_back(o + ext);
    std::string outcome;
    try {
      write_summary_t s = write_outputs(o, "in", w, c, opt);
      for (const std::string &warning : s.warnings)
        outcome += warning;
      if (!x) {
        EXPECT_EQ(slurp(o + ".dat"), "1 0 1 2\n2 0 2 2\n") << r.chrom;  // no status
      }
    } catch (const input_error &e) {
      outcome = std::string("refused: ") + e.what();
    }
    size_t at;
    while ((at = outcome.find(o)) != std::string::npos)
      outcome.replace(at, o.size(), "O");
    if (*r.outcome)
      EXPECT_THAT(outcome, HasSubstr(r.outcome)) << r.chrom << r.hf << r.hfx;
    else
      EXPECT_EQ(outcome, "") << r.chrom << r.hf << r.hfx;
  }
}

TEST(Writers, XChromosomeMalesGetOneAlleleAndHeterozygousMaleCallsBecomeMissing)
{
  scratch_t t;
  window_t w = make_window({{"GG", "AG", "AG", "AA"}, {"AA", "-", "AA", "AG"}},
                           {SEX_MALE, SEX_MALE, SEX_FEMALE, SEX_UNKNOWN});
  coded_t c = number_alleles(w);
  output_options_t opt;
  opt.trelix = false;
  opt.hfx = true;
  opt.hf = true;
  write_summary_t s = write_outputs(t.dir + "/o", "in", w, c, opt);
  t.files = {t.dir + "/o.hf", t.dir + "/o.hfx", t.dir + "/o.legend"};
  EXPECT_EQ(slurp(t.dir + "/o.hfx"), "2 2\n1 1 0 2 1\n2 1 0 0 0\n3 1 1 1/2 1/1\n");
  EXPECT_EQ(slurp(t.dir + "/o.hf"), "2 2\n1 1 2/2 1/1\n2 1 1/2 0/0\n3 1 1/2 1/1\n4 1 1/1 1/2\n");
  EXPECT_EQ(s.hfx_het_males, 1);
  EXPECT_EQ(s.hfx_unknown_sex, 1);
  EXPECT_EQ(s.hfx_males, 2);
}

TEST(Writers, AnUnwritableOutputIsAnError)
{
  window_t w = make_window({{"AG"}});
  coded_t c = number_alleles(w);
  output_options_t opt;
  EXPECT_THAT(error_of([&] { write_outputs("/nonexistent-dir/o", "in", w, c, opt); }),
              HasSubstr("/nonexistent-dir/o.legend: cannot create the output file"));
}
