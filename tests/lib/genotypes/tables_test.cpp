// Sample tables for the association tests: how rows find their samples,
// the trait, the covariates and the clusters, good and hostile input.

#include <cmath>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "genotypes.h"
#include "tmpfiles.h"

using ::testing::HasSubstr;

namespace {

const double NA = NAN;

// Samples as a PLINK input has them (family and individual), or as a VCF
// has them (one name, kept as both).
std::vector<sample_t> plink_samples()
{
  std::vector<sample_t> s(3);
  const char *ids[3][2] = {{"a", "1"}, {"a", "2"}, {"b", "3"}};
  for (int i = 0; i < 3; i++) {
    s[i].fid = ids[i][0];
    s[i].iid = ids[i][1];
  }
  return s;
}

std::vector<sample_t> vcf_samples(std::vector<std::string> names)
{
  std::vector<sample_t> s(names.size());
  for (size_t i = 0; i < names.size(); i++)
    s[i].fid = s[i].iid = names[i];
  return s;
}

// NaN-aware comparison of a column of numbers.
void expect_values(const std::vector<double> &got, const std::vector<double> &want,
                   const std::string &what)
{
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < got.size(); i++) {
    if (std::isnan(want[i]))
      EXPECT_TRUE(std::isnan(got[i])) << what << ", sample " << i;
    else
      EXPECT_EQ(got[i], want[i]) << what << ", sample " << i;
  }
}

} // namespace

TEST(SampleMatch, RowsFindTheirSamplesAndAreCounted)
{
  scratch_t t;
  struct {
    const char *what;
    std::vector<sample_t> samples;
    bool match_fid;
    const char *table;
    std::vector<int> status;
    const char *by;
    size_t unknown;
  } rows[] = {
      {"PLINK input by FID and IID; a row of another family is unknown", plink_samples(), true,
       "FID IID st\na 1 2\nb 1 2\nb 3 1\n", {2, 0, 1}, "FID and IID", 1},
      {"VCF names written FID_IID, CRLF line ends", vcf_samples({"a_1", "a_2", "b_3"}), false,
       "FID IID st\r\na 1 2\r\nb 3 1\r\n", {2, 0, 1}, "FID_IID", 0},
      {"VCF names by IID, FID_IID where the IID finds none", vcf_samples({"1", "b_3"}), false,
       "#FID\tIID\tst\na 1 1\nb 3 2\nz 9 2\n", {1, 2}, "IID (1 row) and FID_IID (1 row)", 1},
      {"no FID column: the IID alone; a byte-order mark", vcf_samples({"1", "2"}), false,
       "\xEF\xBB\xBFID st\n2 2\n", {0, 2}, "IID", 0},
  };
  for (auto &r : rows) {
    table_match_t m = apply_status_table(t.write("p", r.table), "st", r.samples, r.match_fid);
    std::vector<int> status;
    for (const sample_t &s : r.samples)
      status.push_back(s.status);
    EXPECT_EQ(status, r.status) << r.what;
    EXPECT_EQ(m.by, r.by) << r.what;
    EXPECT_EQ(m.unknown, r.unknown) << r.what;
    EXPECT_EQ(m.rows, m.matched + m.unknown) << r.what;
    // The user is told when rows were left out or matched by FID_IID.
    std::string note = table_note("p", m);
    EXPECT_EQ(note.empty(), r.unknown == 0 && m.by.find("FID_IID") == std::string::npos)
        << r.what << ": " << note;
  }
  table_match_t m;
  m.rows = 3, m.matched = 2, m.unknown = 1, m.by = "IID";
  EXPECT_EQ(table_note("p", m),
            "p: 2 of 3 rows matched a sample of the input by IID; 1 names no sample and is "
            "left out");
}

TEST(SampleMatch, TablesThatCannotBeMatchedAreRefused)
{
  scratch_t t;
  struct {
    std::vector<sample_t> samples;
    bool match_fid;
    std::string table;
    const char *message;
  } rows[] = {
      {plink_samples(), true, "FID IID st\nx 1 2\ny 9 1\n",
       "p: no row names a sample of the input (2 rows read, matched by FID and IID); the first "
       "row names x 1, the input's first sample is a 1"},
      {vcf_samples({"1", "a_1"}), false, "FID IID st\na 1 2\n",
       "p, line 2: family a, individual 1 names two samples of the input: 1 by IID and a_1 by "
       "FID_IID"},
      {plink_samples(), true, "FID IID st\n", "p: no row names a sample of the input (0 rows"},
      {plink_samples(), true, std::string("FID IID st\na 1 2\na 2\0 1\n", 24),
       "p, line 3: a NUL byte"},
  };
  for (auto &r : rows) {
    std::vector<sample_t> before = r.samples;
    EXPECT_THAT(error_of([&] { apply_status_table(t.write("p", r.table), "st", r.samples,
                                                  r.match_fid); }),
                HasSubstr(r.message));
    for (size_t i = 0; i < before.size(); i++)
      EXPECT_EQ(r.samples[i].status, before[i].status) << "a refused table changes nothing";
  }
}

TEST(Trait, KindFromTheValuesOrAsAsked)
{
  scratch_t t;
  struct {
    const char *what;
    std::vector<const char *> ped;  // phenotypes of the .ped, when no table
    const char *table;              // FID IID y, samples a 1, a 2, b 3
    trait_kind_t kind;
    bool binary;
    std::vector<double> y;
    const char *how;
  } rows[] = {
      {"1, 2 and the missing codes: binary", {}, "FID IID y\na 1 2\na 2 0\nb 3 1\n", TRAIT_AUTO,
       true, {1, NA, 0}, "binary trait from column y of"},
      {"any other number: quantitative, where 0 is a value", {},
       "FID IID y\na 1 0\na 2 -9\nb 3 0.73\n", TRAIT_AUTO, false, {0, NA, 0.73},
       "the value 0.73 (" /* its file and line follow */},
      {"quantitative as asked", {}, "FID IID y\na 1 2\na 2 NA\nb 3 1e1\n", TRAIT_QUANTITATIVE,
       false, {2, NA, 10}, "quantitative as asked"},
      {"the .ped's phenotype, quantitative", {"2", "0.5", "-9"}, nullptr, TRAIT_AUTO, false,
       {2, 0.5, NA}, "the phenotype column of the .ped/.fam"},
      {"the .ped's phenotype, binary", {"2", "1", "nan"}, nullptr, TRAIT_AUTO, true, {1, 0, NA},
       "1 case, 1 control, 1 missing"},
      {"a VCF has no phenotype", {"", "", ""}, nullptr, TRAIT_AUTO, true, {NA, NA, NA},
       "3 missing"},
  };
  for (auto &r : rows) {
    std::vector<sample_t> s = plink_samples();
    for (size_t i = 0; i < r.ped.size(); i++)
      s[i].pheno = r.ped[i];
    std::string path = r.table ? t.write("y", r.table) : "";
    trait_t tr = read_trait(s, path, "y", r.kind, true);
    EXPECT_EQ(tr.binary, r.binary) << r.what;
    expect_values(tr.y, r.y, r.what);
    EXPECT_THAT(tr.how, HasSubstr(r.how)) << r.what;
  }
}

TEST(Trait, ValuesOfTheWrongKindAreNamedByFileAndLine)
{
  scratch_t t;
  std::vector<sample_t> s = plink_samples();
  struct {
    const char *table, *column;
    trait_kind_t kind;
    const char *message;
  } rows[] = {
      {"FID IID y\na 1 2\nb 3 0.73\n", "y", TRAIT_BINARY,
       "y, line 3: phenotype 0.73 is neither 2 (case), 1 (control) nor a missing value"},
      {"FID IID y\na 1 2\nb 3 high\n", "y", TRAIT_AUTO,
       "y, line 3: phenotype high is not a number"},
      {"FID IID y\na 1 0x10\n", "y", TRAIT_QUANTITATIVE, "y, line 2: phenotype 0x10 is not"},
      {"FID IID y\na 1 1\n", "bmi", TRAIT_AUTO,
       "y, line 1: the header line has no column named bmi"},
  };
  for (auto &r : rows)
    EXPECT_THAT(error_of([&] { read_trait(s, t.write("y", r.table), r.column, r.kind, true); }),
                HasSubstr(r.message))
        << r.table;
  // The .ped's phenotype names its line and individual.
  s[1].pheno = "0.73";
  s[1].line = 7;
  EXPECT_THAT(error_of([&] { read_trait(s, "", "", TRAIT_BINARY, true); }),
              HasSubstr("the .ped/.fam, line 7 (individual a 2): phenotype 0.73 is neither"));
}

TEST(Covariates, NumericAndCategoricalColumns)
{
  scratch_t t;
  std::vector<sample_t> s = plink_samples();
  std::string path = t.write("c", "FID IID age site sex\r\n"
                                  "b 3 40 north 1\r\n"
                                  "a 1 -9 south 2\r\n"
                                  "z 9 30 west 1\r\n");
  covariates_t c = read_covariates(path, {}, s, true);
  // Levels over the samples of the input: north (the reference), south.
  EXPECT_EQ(c.names, (std::vector<std::string>{"age", "site=south", "sex"}));
  ASSERT_EQ(c.x.size(), 3u);
  expect_values(c.x[0], {NA, 1, 2}, "a 1");
  expect_values(c.x[1], {NA, NA, NA}, "a 2, not in the table");
  expect_values(c.x[2], {40, 0, 1}, "b 3");
  EXPECT_EQ(c.unknown, 1u);
  // The columns asked for, in the order asked; a missing value of a
  // categorical column is missing in every dummy.
  path = t.write("c2", "FID IID age grp\na 1 50 B\na 2 60 NA\nb 3 70 A\n");
  c = read_covariates(path, {"grp", "age"}, s, true);
  EXPECT_EQ(c.names, (std::vector<std::string>{"grp=B", "age"}));
  expect_values(c.x[1], {NA, 60}, "a 2");
  expect_values(c.x[2], {0, 70}, "b 3");
}

TEST(Covariates, HostileFilesAreNamedByFileAndLine)
{
  scratch_t t;
  std::vector<sample_t> s = plink_samples();
  struct {
    std::string text;
    std::vector<std::string> names;
    const char *message;
  } rows[] = {
      {"a 1 40\nb 3 50\n", {},
       "c, line 1: expected a header line beginning FID IID, found \"a 1\""},
      {"FID IID age\na 1 40\n", {"bmi"}, "c, line 1: the header has no covariate named bmi"},
      {"FID IID age age\na 1 40 2\n", {}, "c, line 1: the column age appears twice"},
      {"FID IID age\na 1 40\nb 3 1\na 1 41\n", {}, "c, line 4: sample 1 is listed again (first "
                                                   "on line 2)"},
      {"FID IID age pc1\na 1 40 0.1\nb 3 50\n", {}, "c, line 3: expected 4 fields as in the "
                                                    "header, found 3"},
      {std::string("FID IID age\na 1 4\0\n", 20), {}, "c, line 2: a NUL byte"},
      {"FID IID age pc1\na 1 NA 1\nb 3 -9 2\nz 9 40 3\n", {}, "c, line 1: the covariate age has "
                                                             "no value for any sample"},
      {"FID IID age\nz 1 40\n", {}, "c: no row names a sample of the input"},
      {"", {}, "c: empty"},
  };
  for (auto &r : rows)
    EXPECT_THAT(error_of([&] { read_covariates(t.write("c", r.text), r.names, s, true); }),
                HasSubstr(r.message))
        << r.text;
}

TEST(Clusters, NumberedInOrderOfFirstAppearance)
{
  scratch_t t;
  std::vector<sample_t> s = plink_samples();
  // An unknown sample, a blank line, CRLF and a line of 100,000 characters.
  clusters_t c = read_clusters(
      t.write("w", "b 3 K2\r\nz 9 K0\n\na 1 K1\nz " + std::string(100000, 'x') + " K3\n"), s,
      true);
  EXPECT_EQ(c.cluster, (std::vector<int>{1, -1, 0}));
  EXPECT_EQ(c.names, (std::vector<std::string>{"K2", "K1"}));
  EXPECT_EQ(c.rows, 4u);
  EXPECT_EQ(c.unknown, 2u);
  struct {
    std::string text;
    const char *message;
  } bad[] = {
      {"a 1 K1\nb 3\n", "w, line 2: expected 3 fields (FID, IID and the cluster), found 2"},
      {"a 1 K1\na 1 K2\n", "w, line 2: sample 1 is listed again (first on line 1)"},
      {std::string("a 1 K\0\n", 7), "w, line 1: a NUL byte"},
  };
  for (auto &r : bad)
    EXPECT_THAT(error_of([&] { read_clusters(t.write("w", r.text), s, true); }),
                HasSubstr(r.message));
}
