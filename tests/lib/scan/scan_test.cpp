// hfscan's pieces that need no estimator: the marker-by-marker reader over
// every input kind, windows and parts, draws, tail probabilities, the row
// format and the options; and whole windows through the run's shared null
// model against the window's own fit.

#include <cmath>
#include <map>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scan.h"
#include "../genotypes/tmpfiles.h"

using ::testing::HasSubstr;

namespace {

const std::string SMALL = std::string(HS_TEST_INPUTS) + "/import/small";

// Each marker of a source as "name:allele,allele|a/b a/b ...", numbered.
std::vector<std::string> numbered(marker_source_t &src)
{
  std::vector<std::string> out;
  marker_calls_t mc;
  while (src.next(mc)) {
    std::shared_ptr<scan_marker_t> m = number_marker(mc);
    std::string s = m->m.name + ":";
    for (const std::string &a : m->m.alleles)
      s += a + ",";
    s += "|";
    for (size_t i = 0; i < m->calls(); i++)
      s += std::to_string(m->first(i)) + "/" + std::to_string(m->second(i)) + " ";
    out.push_back(s + m->problem);
  }
  return out;
}

} // namespace

TEST(Source, EveryKindGivesTheSameNumberedMarkersAndSkipsAhead)
{
  selector_t all;
  bool plink;
  auto ped = open_input(SMALL + ".ped", all, true, plink);
  std::vector<std::string> expect = numbered(*ped);
  ASSERT_EQ(expect.size(), 8u);
  EXPECT_THAT(expect[4], HasSubstr("rs6005:G,|"));  // monomorphic: one allele
  std::vector<std::string> kinds = {".ped", ".bed"};
  if (vcf_supported())
    kinds.push_back(".vcf");
  for (const std::string &kind : kinds)
    for (bool pass : {true, false}) {
      if (kind != ".vcf" && !pass)
        continue;
      auto src = open_input(SMALL + kind, all, pass, plink);
      EXPECT_EQ(src->markers_known, pass) << kind;
      if (pass) {
        ASSERT_EQ(src->markers.size(), 8u) << kind;
        src->skip_to(2);
        std::vector<std::string> rest = numbered(*src);
        EXPECT_EQ(rest, std::vector<std::string>(expect.begin() + 2, expect.end())) << kind;
      } else {
        EXPECT_EQ(numbered(*src), expect) << kind;
        EXPECT_EQ(src->markers.size(), 8u) << kind;
      }
    }
}

TEST(Source, PedColumnsWidenBeyond255SpellingsAndKeepTheSelection)
{
  scratch_t t;
  std::string map = t.write("w.map", "1 m1 0 1\n1 m2 0 2\n");
  std::string ped;
  for (int i = 0; i < 300; i++)
    ped += "f i" + std::to_string(i) + " 0 0 1 1 a" + std::to_string(i) + " a" +
           std::to_string(i + 1) + " A " + (i % 2 ? "C" : "0") + "\n";
  std::string path = t.write("w.ped", ped);
  selector_t sel;
  parse_index_range("1-1", sel);
  auto src = open_ped(path, map, sel);
  marker_calls_t mc;
  ASSERT_TRUE(src->next(mc));
  EXPECT_EQ(mc.spellings.size(), 301u);
  EXPECT_EQ(mc.spellings[mc.a[299]], "a299");
  EXPECT_EQ(mc.spellings[mc.b[299]], "a300");
  std::shared_ptr<scan_marker_t> m = number_marker(mc);
  EXPECT_THAT(m->problem, HasSubstr("m1 has 301 alleles"));
  EXPECT_FALSE(src->next(mc));
}

TEST(Windows, NeverCrossAChromosomeAndOnlyFullWindowsCount)
{
  struct {
    std::vector<std::string> chroms;
    int k, step;
    std::vector<size_t> starts;
    size_t short_markers;
  } cases[] = {
      {{"1", "1", "1", "1", "1"}, 3, 1, {0, 1, 2}, 0},
      {{"1", "1", "1", "1", "1"}, 3, 2, {0, 2}, 0},
      {{"1", "1", "1", "1", "1"}, 2, 3, {0, 3}, 0},
      // Boundary: the step restarts on each chromosome; "chr2" is 2.
      {{"1", "1", "1", "2", "chr2", "2"}, 2, 2, {0, 3}, 0},
      {{"1", "1", "X", "23", "chrX", "2"}, 3, 1, {2}, 3},
      {{"1", "1", "2", "2"}, 3, 1, {}, 4},
      {{"1"}, 1, 1, {0}, 0},
  };
  for (const auto &c : cases) {
    std::vector<marker_t> ms;
    for (const std::string &ch : c.chroms) {
      marker_t m;
      m.chrom = ch;
      ms.push_back(m);
    }
    size_t short_markers = 99;
    EXPECT_EQ(window_starts(ms, c.k, c.step, short_markers), c.starts) << c.k << " " << c.step;
    EXPECT_EQ(short_markers, c.short_markers);
  }
}

TEST(Windows, PartsAreContiguousEqualAndCoverEveryWindowOnce)
{
  for (size_t total : {0, 1, 7, 95, 100000})
    for (int n : {1, 3, 10, 200}) {
      size_t prev = 0, small = total, large = 0;
      for (int k = 1; k <= n; k++) {
        size_t lo, hi;
        chunk_range(total, k, n, lo, hi);
        EXPECT_EQ(lo, prev);
        prev = hi;
        small = std::min(small, hi - lo);
        large = std::max(large, hi - lo);
      }
      EXPECT_EQ(prev, total);
      EXPECT_LE(large - small, 1u) << total << " " << n;
    }
}

TEST(Draws, FixedSequencePerWindowAndUniformShuffles)
{
  // The sequence is part of the results: the same seed gives the same
  // permutations with every build of this version.
  rng_t r = rng_for_window(3000, 1);
  uint64_t first = rng_next(r);
  rng_t again = rng_for_window(3000, 1), other = rng_for_window(3000, 2);
  EXPECT_EQ(rng_next(again), first);
  EXPECT_NE(rng_next(other), first);
  // xoshiro256** from state 1, 2, 3, 4 (its authors' reference code), and
  // the window stream of seed 0, index 0 from an independent rendering.
  rng_t ref = {{1, 2, 3, 4}};
  for (uint64_t v : {11520ull, 0ull, 1509978240ull, 1215971899390074240ull})
    EXPECT_EQ(rng_next(ref), v);
  rng_t r0 = rng_for_window(0, 0);
  EXPECT_EQ(rng_next(r0), 18110106563157542208ull);

  // All 24 orders of four labels come up equally often: a chi-square of 23
  // degrees of freedom below its 0.999 quantile (49.7).
  rng_t s = rng_for_window(7, 11);
  std::map<std::vector<int8_t>, int> seen;
  const int draws = 48000;
  std::vector<int8_t> v = {0, 1, 2, 3};
  for (int i = 0; i < draws; i++) {
    rng_shuffle(s, v);
    seen[v]++;
  }
  ASSERT_EQ(seen.size(), 24u);
  double chi2 = 0, e = draws / 24.0;
  for (auto &[order, n] : seen)
    chi2 += (n - e) * (n - e) / e;
  EXPECT_LT(chi2, 49.7);
  // Bounds that do not divide 2^64 still draw every value evenly.
  int counts[3] = {0, 0, 0};
  for (int i = 0; i < 30000; i++)
    counts[rng_below(s, 3)]++;
  for (int c : counts)
    EXPECT_NEAR(c, 10000, 400);
}

TEST(Tails, ChiSquareUpperTailDeepIntoTheTail)
{
  struct {
    double x;
    int df;
    double p;
  } cases[] = {
      // Closed forms: erfc for one degree of freedom, exp(-x/2) times a
      // finite sum for even ones, erfc plus a finite sum for odd ones.
      {3.841458820694124, 1, 0.05},
      {0, 3, 1.0},
      {5, 4, std::exp(-2.5) * 3.5},
      {6.251388631170325, 3, 0.1},
      {2.5, 5, 0.7764950711233228},
      {100, 1, 1.5239706048320995e-23},
      {20, 30, 0.9165415270653373},
      {200, 10, 1.6139305336977307e-37},
      {300, 5, 1.0015302305957848e-62},
      {1400, 2, 9.85967654375977e-305},
  };
  for (const auto &c : cases)
    EXPECT_NEAR(hs_chi2_upper(c.x, c.df) / c.p, 1.0, 1e-9) << c.x << " " << c.df;
  EXPECT_TRUE(std::isnan(hs_chi2_upper(3, 0)));
}

TEST(Output, TenSignificantDigitsNaAndNoNegativeZero)
{
  scan_row_t r;
  r.chrom = "1";
  r.first_marker = "a";
  r.last_marker = "b";
  r.first_pos = 10;
  r.last_pos = 20;
  r.n_markers = 2;
  r.ld_chi2 = 1234567.8912345;
  r.ld_df = 3;
  r.ld_p = 1.234567890123e-300;
  r.assoc_chi2 = -0.0;
  r.status = "untyped\tmarker";
  std::string line = scan_format(r);
  EXPECT_EQ(line, "1\ta\tb\t10\t20\t2\tNA\tNA\t1234567.891\t3\t1.23456789e-300\tNA\tNA\tNA\tNA\t"
                  "NA\tNA\t0\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tuntyped marker\n");
  size_t tabs = 0;
  for (char c : scan_header())
    tabs += c == '\t';
  EXPECT_EQ(tabs, 29u);
  EXPECT_NE(scan_header().find("\tperm_p\tfwer_p\t"), std::string::npos);
}

TEST(Options, BadValuesNameTheOption)
{
  struct {
    std::vector<const char *> argv;
    const char *message;
  } cases[] = {
      {{"--window", "0"}, "--window 0: expected a whole number from 1 to 60"},
      {{"--window", "61"}, "--window 61"},
      {{"--step", "x"}, "--step x"},
      {{"--chunk", "4/3"}, "--chunk 4/3: expected K/N"},
      {{"--chunk", "1"}, "--chunk 1:"},
      {{"--min-freq", "1"}, "--min-freq 1"},
      {{"--seed", "-1"}, "--seed -1"},
      {{"--jobs", "0"}, "--jobs 0"},
      {{"--region", "6:1-2", "--index", "1-2"}, "give one of them"},
      {{"--pheno-col", "s"}, "--pheno-col needs --pheno"},
      {{"--frobnicate"}, "--frobnicate: unknown option"},
      {{"--window", "31"}, "the largest window of such markers is 30"},
      {{"--test", "wald"}, "--test wald: expected score, lrt or glm"},
      {{"--test", "lrt", "--covar", "c.txt"}, "use the score test"},
      {{"--test", "lrt", "--trait", "quantitative"}, "needs a binary trait"},
      {{"--trait", "ordinal"}, "--trait ordinal"},
      {{"--score-variance", "sandwich"}, "expected conditional or louis"},
      {{"--covar-name", "age"}, "--covar-name needs --covar"},
      {{"--covar", "c.txt", "--covar-name", "age,,sex"}, "names separated by commas"},
      {{"--max-pairs", "0"}, "--max-pairs 0"},
      {{"--max-t", "--test", "lrt"}, "--max-t needs the score test"},
      {{"--max-t", "--permutations", "0"}, "--max-t needs permutations"},
      {{"--max-t", "--perm-hits", "3"}, "--perm-hits does not apply with --max-t"},
      {{}, "expected an input file and an output file"},
  };
  for (const auto &c : cases) {
    std::vector<char *> argv = {const_cast<char *>("hfscan")};
    for (const char *a : c.argv)
      argv.push_back(const_cast<char *>(a));
    if (c.argv.empty() || std::string(c.argv[0]) != "--frobnicate")
      for (const char *a : {"in.bed", "out.tsv"})
        if (std::string(c.message).find("expected an input") == std::string::npos)
          argv.push_back(const_cast<char *>(a));
    EXPECT_THAT(error_of([&] { scan_parse(static_cast<int>(argv.size()), argv.data()); }),
                HasSubstr(c.message));
  }
  const char *ok[] = {"hfscan", "--chunk=2/5", "--seed", "18446744073709551615", "a.bed", "b"};
  scan_options_t o = scan_parse(6, const_cast<char **>(ok));
  EXPECT_EQ(o.chunk, 2);
  EXPECT_EQ(o.chunks, 5);
  EXPECT_EQ(o.seed, 18446744073709551615ull);
}

// The shuffle whose divisions are multiplications draws what the plain
// one draws, for group sizes small and large (every remainder of a full
// 64-bit draw by each bound from 2 to the size).
TEST(Draws, ShuffleByMultiplicationIsTheSameShuffle)
{
  rng_moduli_t mod;
  mod.reach(5000);
  for (size_t n : {2u, 3u, 17u, 1000u, 4097u}) {
    std::vector<uint32_t> a(n), b(n);
    for (size_t i = 0; i < n; i++)
      a[i] = b[i] = static_cast<uint32_t>(i);
    rng_t ra = rng_for_window(5, n), rb = rng_for_window(5, n);
    for (int rep = 0; rep < 20; rep++) {
      rng_shuffle(ra, a.data(), n);
      rng_shuffle(rb, b.data(), n, mod);
    }
    EXPECT_EQ(a, b) << n;
    EXPECT_EQ(rng_next(ra), rng_next(rb)) << n;  // the same number of draws
  }
}

// fwer_p from the largest statistics per df: min_p(k) is the smallest over
// the df classes; ties with the observed p count, a permutation no window
// reached (NaN) never does.
TEST(MaxT, FamilyWisePFromTheLargestStatisticPerDf)
{
  scan_maxt_t mt;
  mt.permutations = 3;
  scan_maxt_add(mt, 1, {3.841458820694124, 1.0, 0.5});  // p 0.05, 0.3173, 0.4795
  scan_maxt_add(mt, 2, {1.0, 9.210340371976182, 0.2});  // p 0.6065, 0.01, 0.9048
  scan_maxt_add(mt, 1, {2.0, 0.1, 0.3});                // below the first: no change
  std::vector<double> min_p = scan_maxt_min_p(mt);
  ASSERT_EQ(min_p.size(), 3u);
  EXPECT_NEAR(min_p[0], 0.05, 1e-12);
  EXPECT_NEAR(min_p[1], 0.01, 1e-12);
  EXPECT_NEAR(min_p[2], hs_chi2_upper(0.5, 1), 1e-15);
  struct {
    double p, fwer;
  } cases[] = {
      {0.001, 1.0 / 4},
      {min_p[1], 2.0 / 4},  // a tie counts
      {0.2, 3.0 / 4},
      {0.5, 4.0 / 4},
  };
  for (const auto &c : cases)
    EXPECT_EQ(scan_fwer(min_p, c.p), c.fwer) << c.p;
  EXPECT_TRUE(std::isnan(scan_fwer(min_p, std::nan(""))));
  EXPECT_EQ(scan_fwer({std::nan(""), 0.5}, 0.6), 2.0 / 3);
}

// The run's null model (the usual tested individuals, fitted once) stands for
// a window's own fit: each window's row is the same bytes with it and
// without it, when every individual is typed and tested, when some are
// untyped or have no covariate, for a binary and a quantitative trait, with
// and without a covariate, and on the X chromosome with the sexes mixed.
TEST(Windows, SharedNullModelGivesTheRowsOfTheWindowsOwnFit)
{
  struct {
    bool binary;
    bool covariate;
    const char *chrom;
    double miss;     // share of missing calls
    double no_cov;   // share of samples without the covariate
  } cases[] = {{true, false, "1", 0.0, 0.0},  {true, true, "1", 0.2, 0.1},
               {false, false, "1", 0.3, 0.0}, {false, true, "X", 0.1, 0.2},
               {true, false, "X", 0.0, 0.0}};
  for (const auto &c : cases) {
    const size_t n = 120, nm = 6;
    uint64_t x = 12345;
    auto unif = [&x] {
      x = x * 6364136223846793005ULL + 1442695040888963407ULL;
      return static_cast<double>(x >> 11) / 9007199254740992.0;
    };
    std::vector<sample_t> samples(n);
    scan_settings_t set;
    set.assoc = true;
    set.binary = c.binary;
    set.permutations = 0;
    set.ncov = c.covariate ? 1 : 0;
    for (size_t i = 0; i < n; i++) {
      samples[i].sex = 1 + static_cast<int>(i % 2);
      set.y.push_back(c.binary ? (unif() < 0.4 ? 1.0 : 0.0) : unif() * 3 - 1);
      if (c.covariate)
        set.cov.push_back(unif() < c.no_cov ? std::nan("") : 20 + 40 * unif());
    }
    std::vector<std::shared_ptr<const scan_marker_t>> markers;
    for (size_t m = 0; m < nm; m++) {
      marker_calls_t mc;
      mc.marker.chrom = c.chrom;
      mc.marker.name = "m" + std::to_string(m);
      mc.marker.pos = static_cast<long>(100 * (m + 1));
      mc.marker.index = static_cast<int>(m + 1);
      mc.spellings = {"A", "C", "G"};
      for (size_t i = 0; i < n; i++) {
        bool missing = unif() < c.miss;
        int a = unif() < 0.6 ? 0 : 1, b = unif() < 0.3 ? 2 : 1;
        if (samples[i].sex == SEX_MALE && std::string(c.chrom) == "X")
          b = a;
        mc.a.push_back(missing ? -1 : a);
        mc.b.push_back(missing ? -1 : b);
      }
      markers.push_back(number_marker(mc));
    }
    // The usual tested individuals' model, as the run fits it.
    auto null = std::make_shared<scan_null_t>();
    null->data.binary = c.binary;
    null->data.p = 1 + set.ncov;
    for (size_t i = 0; i < n; i++) {
      if (c.covariate && std::isnan(set.cov[i]))
        continue;
      null->data.y.push_back(set.y[i]);
      if (c.covariate) {
        null->data.z.push_back(1);
        null->data.z.push_back(set.cov[i]);
      }
      null->data.n++;
    }
    ASSERT_TRUE(assoc_fit_null(null->data, null->fit)) << null->fit.status;
    scan_settings_t shared = set;
    shared.null = null;
    scan_worker_t *own = scan_worker_new(), *with = scan_worker_new();
    size_t usual = 0;
    for (size_t w = 0; w + 3 <= nm; w++) {
      std::vector<std::shared_ptr<const scan_marker_t>> ms(markers.begin() + static_cast<long>(w),
                                                           markers.begin() + static_cast<long>(w + 3));
      scan_row_t a = scan_window(own, set, samples, ms), b = scan_window(with, shared, samples, ms);
      EXPECT_EQ(scan_format(a), scan_format(b)) << c.chrom << " " << c.binary << " window " << w;
      EXPECT_EQ(a.status, "ok");
      usual += b.n_assoc == static_cast<long>(null->data.n);
    }
    scan_worker_free(own);
    scan_worker_free(with);
    if (c.miss == 0 && std::string(c.chrom) == "1") {
      EXPECT_EQ(usual, nm - 2);  // every window read the shared model
    }
  }
}
