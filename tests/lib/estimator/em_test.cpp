// Allele counting, genotype probabilities and the haplotype-counting EM.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "enumerate.h"
#include "testutil.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

int countprefix(const std::string &report, const std::string &prefix)
{
  int n = 0;
  for (auto &line : lines(report))
    if (line.rfind(prefix, 0) == 0)
      n++;
  return n;
}

std::string lineafter(const std::string &report, const std::string &prefix)
{
  for (auto &line : lines(report))
    if (line.rfind(prefix, 0) == 0)
      return line;
  return "";
}

TEST(Probabilities, PhasesOfACompleteGenotype)
{
  loaded_t r = load("2 2\n1 1 1/1 1/1\n");
  denseh();
  for (int k = 0; k < 4; k++)
    S.h[k] = 0.1 * (k + 1);
  int16_t hom[] = {2, 2}, a1[] = {1, 1}, a2[] = {2, 2}, b2[] = {1, 2};
  EXPECT_DOUBLE_EQ(phasep(S, hom, hom), 0.4 * 0.4);
  EXPECT_DOUBLE_EQ(phasep(S, a1, b2), 2 * 0.1 * 0.2);
  EXPECT_DOUBLE_EQ(phasep(S, a1, a2), 2 * 0.1 * 0.4 + 2 * 0.3 * 0.2);
  release();
}

TEST(Probabilities, CompletionsOfMissingLociInOdometerOrder)
{
  loaded_t r = load("2 3\n1 1 0/0 1/1\n2 1 1/1 0/0\n3 1 0/0 0/0\n");
  ASSERT_EQ(r.table.size(), 2u);
  geno_t rec;
  memset(&rec, 0, sizeof rec);
  rec.allele[0] = 1;
  rec.allele[1] = 2;
  // One missing 3-allele locus: six completions, larger allele slowest.
  rec.allele[2] = 0;
  rec.allele[3] = 3;
  completion_t cp;
  ASSERT_EQ(firstpair(S, rec, cp), 1);
  EXPECT_EQ(S.nlocim, 1);
  EXPECT_EQ(S.locim[0], 3);
  EXPECT_EQ(S.idm[0], 0);
  EXPECT_EQ(S.idm[1], 1);
  std::string order;
  do
    order += std::to_string(cp.a1[1]) + std::to_string(cp.a2[1]) + " ";
  while (nextpair(S, cp));
  EXPECT_EQ(order, "11 12 22 13 23 33 ");
  // Both S.loci missing: 3 x 6 = 18 completions, the second locus fastest.
  rec.allele[0] = 0;
  ASSERT_EQ(firstpair(S, rec, cp), 2);
  std::vector<std::string> seen;
  do
    seen.push_back(std::to_string(cp.a1[0]) + std::to_string(cp.a2[0]) + "," + std::to_string(cp.a1[1]) +
                   std::to_string(cp.a2[1]));
  while (nextpair(S, cp));
  ASSERT_EQ(seen.size(), 18u);
  EXPECT_EQ(seen[0], "11,11");
  EXPECT_EQ(seen[1], "11,12");
  EXPECT_EQ(seen[6], "12,11");
  EXPECT_EQ(seen[17], "22,33");
  release();
}

TEST(Probabilities, LogLikelihoodHasNoFloorForDiploidRecords)
{
  loaded_t r = load("1\n1 2 1/1\n");
  r.table[0].gprob = 1e-9;
  EXPECT_DOUBLE_EQ(ll(S, r.table.data()), 2 * log(1e-9));
  r.table[0].instances = 0;
  EXPECT_EQ(ll(S, r.table.data()), 0);
  release();
}

TEST(Counting, FrequencyTableAndFullPartialCounts)
{
  std::string out = emreport("3 2\n1 2.5 1/2 1/1\n2 1 3/0 2/2\n3 1 1/1 2/2\n");
  // 2.5 + 1 full, 1 partial; the F/P line prints no decimals.
  EXPECT_THAT(out, HasSubstr("locus   1 # individuals = 4\n"));
  EXPECT_THAT(out, HasSubstr("locus   2 # individuals = 4\n"));
  EXPECT_THAT(out, HasSubstr("\n4/1 individuals with F/P information\n"));
  // Allele 3 of locus 1 is carried only by a half-typed genotype: unseen,
  // a blank column, and one parameter fewer among those counted by alleles seen.
  EXPECT_THAT(out, HasSubstr("\n 1  0.642857 0.357143         \n"));
  EXPECT_THAT(out, HasSubstr("# parameters 2 (3, by # of specified alleles)\n"));
  EXPECT_THAT(out, HasSubstr("# parameters 3 (5, by # of specified alleles)\n"));
  EXPECT_THAT(out, HasSubstr("degree(s) of freedom = 1 (2, by # of specified alleles) \n"));
}

TEST(Counting, LocusWithoutTypedIndividualStopsTheRun)
{
  loaded_t r = load("2 2\n1 1 1/2 0/0\n2 1 2/2 0/1\n");
  ASSERT_EQ(r.status, 0);
  int status = 0;
  status = getp(S, r.table.data());
  EXPECT_EQ(status, HF_EDATA);
  EXPECT_THAT(S.message, HasSubstr("No individual is typed at locus 2"));
  release();
}

TEST(EM, StoppingRule)
{
  EXPECT_TRUE(emdone(S, 0.01, 3)) << "a gain of exactly 0.01 stops";
  EXPECT_FALSE(emdone(S, 0.0100001, 3));
  EXPECT_TRUE(emdone(S, -2.0, 3));
  EXPECT_TRUE(emdone(S, NAN, 3));
  EXPECT_FALSE(emdone(S, 5.0, 49));
  EXPECT_TRUE(emdone(S, 5.0, 50));
}

TEST(EM, HomozygousSampleSettlesInTheFirstStep)
{
  std::string out = emreport("2 2\n1 3 1/1 1/1\n2 1 2/2 2/2\n3 1 1/1 2/2\n");
  EXPECT_EQ(countprefix(out, "Iteration"), 2);
  EXPECT_THAT(out, HasSubstr(" 0.600000 0.600000000000 "));
  EXPECT_THAT(out, HasSubstr("Number of nonzero haplotypes = 3\n"));
}

TEST(EM, OneLocusHasNoDegreesOfFreedomAndOneStep)
{
  std::string out = emreport("3\n1 2 1/2\n2 1 3/3\n3 1 0/2\n");
  EXPECT_EQ(countprefix(out, "Iteration"), 1);
  EXPECT_THAT(out, HasSubstr("degree(s) of freedom = 0 (0, by # of specified alleles) \n"));
}

TEST(EM, StopsAfterFiftySteps)
{
  // The worked two-locus sample, weighted 10^7-fold: every gain stays large.
  std::string out = emreport("2 2\n1 1e7 1/1 1/2\n2 1e7 1/2 1/2\n3 1e7 2/2 0/0\n4 2e7 1/1 1/1\n");
  EXPECT_EQ(countprefix(out, "Iteration"), 50);
  EXPECT_EQ(lineafter(out, "Iteration  50").substr(0, 15), "Iteration  50, ");
}

TEST(EM, GenotypeNoHaplotypeCanMakeAddsNothing)
{
  // The second genotype carries weight 0, so allele 2 is unseen at both
  // S.loci and every phase of it has probability 0.
  std::string out = emreport("2 2\n1 1 1/1 1/1\n2 0 1/2 1/2\n3 0 1/2 0/0\n");
  EXPECT_THAT(out, Not(HasSubstr("nan")));
  EXPECT_THAT(out, HasSubstr(" 1.000000 1.000000000000 1.000000"));
  EXPECT_THAT(out, HasSubstr("Number of nonzero haplotypes = 1\n"));
}

TEST(EM, GenotypesEnumeratedAfreshGiveTheSameReport)
{
  // Missing S.loci, several alleles, repeated genotypes and hemizygous-free
  // sample: stored phases and phases enumerated in every step must agree to
  // the last digit, for every split of the sample between the two.
  const char *sample = "3 4 2\n1 3 1/2 1/3 1/1\n2 1 2/3 2/4 1/2\n3 2 1/1 3/3 2/2\n4 1 3/0 1/4 1/2\n"
                       "5 1 1/2 0/0 2/2\n6 2.5 2/2 1/1 1/2\n7 1 1/2 1/3 1/1\n8 1 2/3 2/4 1/2\n";
  std::string stored = emreport(sample);
  for (size_t budget : {size_t(0), size_t(1), size_t(5), size_t(40)}) {
    S.pairbudget = budget;
    EXPECT_EQ(emreport(sample), stored) << budget;
  }
  S.pairbudget = size_t(24) << 20;
  // Possible haplotypes found by sorting rather than by a table of flags.
  size_t bound = S.densebound;
  S.densebound = 0;
  EXPECT_EQ(emreport(sample), stored);
  S.densebound = bound;
}

TEST(EM, WorkedTwoLocusSample)
{
  std::string out = emreport("2 2\n1 1 1/1 1/2\n2 1 1/2 1/2\n3 1 2/2 0/0\n4 2 1/1 1/1\n");
  EXPECT_THAT(out, HasSubstr("log-likelihood assuming linkage equilibrium -8.53\n"));
  EXPECT_THAT(out, HasSubstr("Iteration   1, log-likelihood=-8.37\n"));
  EXPECT_EQ(countprefix(out, "Iteration"), 12);
  EXPECT_THAT(out, HasSubstr("chi-square=1.82\n"));
  EXPECT_THAT(out, HasSubstr(" 0.009034 0.009034365215 0.225000  -1.82  2  1 3\n"));
}

} // namespace
