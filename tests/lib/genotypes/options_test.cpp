// PLINK's way of naming the input, the output and the phenotype column, the
// prefix without an ending, and the log of a run.

#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "genotypes.h"
#include "run_log.h"
#include "tmpfiles.h"

using ::testing::HasSubstr;

namespace {

// The command line parsed as the programs parse it: the shared options,
// then the rest as positional arguments.
io_names_t parse(std::vector<std::string> args, input_options_t &in)
{
  args.insert(args.begin(), "prog");
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(&a[0]);
  cmdline_t c(static_cast<int>(argv.size()), argv.data());
  std::vector<std::string> positional;
  while (c.next())
    if (!take_input_option(c, in))
      positional.push_back(c.arg());
  io_names_t io = resolve_io(in, positional, "usage");
  check_input_choice(in, "the window");
  return io;
}

std::string read_text(const std::string &path)
{
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

} // namespace

TEST(Options, InputAndOutputFromPlinkOptionsOrArguments)
{
  scratch_t t;
  std::string both = t.dir + "/both", bed = t.dir + "/bed", ped = t.dir + "/ped";
  for (const char *f : {"/both.bed", "/both.ped", "/bed.bed", "/ped.ped", "/plain.txt"})
    t.write(f + 1, "");
  struct row_t {
    std::vector<std::string> args;
    std::string input, output, error;  // error: a part of the message, "" for none
    bool prefix;
  };
  const std::vector<row_t> rows = {
      {{"a.ped", "out"}, "a.ped", "out", "", false},  // the positional form stays
      {{"--bfile", "s", "--out", "r"}, "s.bed", "r", "", true},
      {{"--file=s", "--out=r"}, "s.ped", "r", "", true},
      {{"--vcf", "s.vcf.gz", "--out", "r"}, "s.vcf.gz", "r", "", true},
      {{"a.ped", "--out", "r"}, "a.ped", "r", "", true},
      {{bed, "o"}, bed + ".bed", "o", "", false},
      {{ped, "o"}, ped + ".ped", "o", "", false},
      {{t.dir + "/plain.txt", "o"}, t.dir + "/plain.txt", "o", "", false},  // open_input refuses it
      {{both, "o"}, "", "", "both " + both + ".bed and " + both + ".ped exist", false},
      {{t.dir + "/none", "o"}, "", "", "nor " + t.dir + "/none.bed or " + t.dir + "/none.ped", false},
      {{"--bfile", "s", "a.ped", "--out", "r"}, "", "", "a.ped: the input is given by --bfile s", false},
      {{"--bfile", "s", "--file", "t", "--out", "r"}, "", "", "--file t: the input is given by --bfile s", false},
      {{"--bfile", "s"}, "", "", "--bfile s: name the output with --out PREFIX", false},
      {{"a.ped", "o.tsv", "--out", "r"}, "", "", "o.tsv: the output is given by --out r", false},
      {{"--vcf", "s.bed", "--out", "r"}, "", "", "expected a VCF or BCF file", false},
      {{"a.ped"}, "", "", "usage", false},
      {{"a.ped", "o", "p"}, "", "", "usage", false},
      {{"a.ped", "o", "--chr", "1-4"}, "", "", "--chr 1-4: expected one chromosome", false},
      {{"a.ped", "o", "--chr", "6", "--region", "6:1-9"}, "", "", "--chr and --region choose", false},
      {{"a.ped", "o", "--allow-missing-markers"}, "", "", "goes with --markers", false},
      {{"a.ped", "o", "--pheno-col-nums", "0", "--pheno", "p"}, "", "", "expected one column number", false},
  };
  for (const row_t &r : rows) {
    input_options_t in;
    io_names_t io;
    std::string error = error_of([&] { io = parse(r.args, in); });
    std::string what = ::testing::PrintToString(r.args);
    if (!r.error.empty()) {
      EXPECT_THAT(error, HasSubstr(r.error)) << what;
      continue;
    }
    EXPECT_EQ(error, "") << what;
    EXPECT_EQ(io.input, r.input) << what;
    EXPECT_EQ(io.output, r.output) << what;
    EXPECT_EQ(io.prefix, r.prefix) << what;
  }
}

TEST(Options, ChrIsTheRegionOfAWholeChromosome)
{
  input_options_t a, b;
  parse({"x.ped", "o", "--chr", "22"}, a);
  parse({"x.ped", "o", "--region", "22"}, b);
  for (const selector_t &sel : {a.sel, b.sel}) {
    EXPECT_TRUE(sel.by_region);
    EXPECT_EQ(sel.chrom, "22");
  }
  EXPECT_EQ(a.sel.from, b.sel.from);
  EXPECT_EQ(a.sel.to, b.sel.to);
}

TEST(Options, PhenotypeColumnByNameFirstThenByNumber)
{
  scratch_t t;
  // Column 3 is "status"; a column is named "3"; "FID" and "IID" are columns 1 and 2.
  std::string p = t.write("p.txt", "FID IID status 3 dup Dup\nf i 2 1 1 1\n");
  struct row_t {
    std::string value;
    bool by_number;
    std::string column, error;
  };
  const std::vector<row_t> rows = {
      {"status", false, "status", ""},
      {"STATUS", false, "STATUS", ""},       // names match without regard to case, as before
      {"3", false, "3", ""},                 // a column named 3 is taken by its name
      {"4", false, "3", ""},                 // no column named 4: the fourth column
      {"3", true, "status", ""},             // --pheno-col-nums: always a number
      {"missing", false, "missing", ""},     // the reader names the missing column
      {"9", false, "", "no column 9 by name or number: the header line has 6 columns"},
      {"2", true, "", "column 2 is IID, which names the individuals"},
      {"5", true, "", "column 5 is dup, a name that column 6 bears too"},
  };
  for (const row_t &r : rows) {
    std::string got;
    std::string error = error_of([&] { got = phenotype_column(p, r.value, r.by_number); });
    EXPECT_THAT(error, HasSubstr(r.error)) << r.value;
    if (r.error.empty()) {
      EXPECT_EQ(error, "") << r.value;
      EXPECT_EQ(got, r.column) << r.value;
    }
  }
}

TEST(RunLog, HeadingFieldsAndHowTheRunEnded)
{
  scratch_t t;
  std::string path = t.dir + "/r.log";
  t.files.push_back(path);
  char a0[] = "hfscan", a1[] = "--out", a2[] = "my study";
  char *argv[] = {a0, a1, a2};
  {
    run_log_t log;
    log.open(path, "hfscan", 3, argv);
    log.field("Seed", "3000");
    // No finish(): a run that left without ending its log.
  }
  std::string text = read_text(path);
  for (const char *want : {"hfscan (HAPLOSIFT) ", "\nCommand line: hfscan --out 'my study'\n",
                           "\nWorking directory: ", "\nStart time: ", "\nSeed: 3000\n",
                           "\nError: the run ended without reaching its end\n", "\nEnd time: ",
                           "\nElapsed: "})
    EXPECT_THAT(text, HasSubstr(want));
  {
    run_log_t log;
    log.open(path, "hfscan", 3, argv);
    log.finish("");
  }
  EXPECT_THAT(read_text(path), ::testing::Not(HasSubstr("Error:")));
  run_log_t log;
  EXPECT_THAT(error_of([&] { log.open(t.dir + "/no/such/dir/r.log", "hfscan", 3, argv); }),
              HasSubstr("cannot create the output file"));
  // A log that is one of the run's inputs is refused before it is emptied.
  std::string input = t.write("in.txt", "keep me\n");
  EXPECT_THAT(error_of([&] { log.open(input, "hfscan", 3, argv, {"", input}); }),
              HasSubstr("the log would replace the input file"));
  EXPECT_EQ(read_text(input), "keep me\n");
}
