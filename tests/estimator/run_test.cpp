// The command line: threshold floor, output file fallback, exit statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>

#include "testutil.h"

namespace {

using ::testing::ExitedWithCode;

int run(std::vector<std::string> args)
{
  std::vector<char *> argv;
  for (auto &a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pl = 0.001;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int status = hfrun(static_cast<int>(args.size()), argv.data());
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  return status;
}

TEST(CommandLine, ThresholdFloorIsTheMachinePrecision)
{
  std::string in = tempfile("2 2\n1 1 1/1 1/2\n2 1 1/2 1/2\n");
  std::string out = in + ".hfo";
  for (const char *t : {"0", "-3", "abc", "nan"}) {
    EXPECT_EQ(run({"hf", in, out, t}), 0);
    EXPECT_EQ(pl, ldexp(1.0, -53)) << t;
  }
  EXPECT_EQ(run({"hf", in, out, "2.5"}), 0);
  EXPECT_EQ(pl, 2.5) << "no upper bound";
  EXPECT_EQ(run({"hf", in, "/nonexistent/dir/x.hfo", "0.5"}), 0);
  EXPECT_EQ(pl, 0.001) << "the threshold is ignored when the report goes to the screen";
  EXPECT_EQ(precis, ldexp(1.0, -53));
  EXPECT_EQ(tol, 1.0);
  unlink(in.c_str());
  unlink(out.c_str());
}

TEST(CommandLine, ExitStatuses)
{
  EXPECT_EQ(run({"hf"}), 0);
  std::string bad = tempfile("2 2\n1 1 1/2\n");
  EXPECT_EQ(run({"hf", bad}), 1) << "a data error is a failed run";
  char name[] = "hf", input[] = "/nonexistent/input";
  char *argv[] = {name, input, nullptr};
  EXPECT_EXIT(hfrun(2, argv), ExitedWithCode(1), "Sorry, is there file called /nonexistent/input \\?");
  unlink(bad.c_str());
}

TEST(CommandLine, MemoryExhaustionEndsWithItsMessage)
{
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator does not return null";
#endif
  EXPECT_EXIT(xmalloc(static_cast<size_t>(-1) / 2), ExitedWithCode(255), "Sorry, but I cannot allocate memory");
}

} // namespace

namespace {

TEST(Debug, RecordListingAndPossibleHaplotypes)
{
  // Two fully typed records: one homozygous (haplotype 1), one heterozygous
  // at both loci (pairs 1/4 and 3/2); the partial record adds nothing.
  std::string in = tempfile("2 2\n5 1 1/1 1/1\n6 2 1/2 1/2\n7 1 2/2 0/0\n");
  debug = 1;
  fo = tmpfile();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(hfmain(in.c_str()), 0);
  std::string listing = ::testing::internal::GetCapturedStdout();
  debug = 0;
  rewind(fo);
  std::string report;
  for (int ch; (ch = getc(fo)) != EOF;)
    report.push_back(static_cast<char>(ch));
  fclose(fo);
  fo = stdout;
  EXPECT_EQ(listing, "    5 1 0  1/ 1  1/ 1\n    6 2 0  1/ 2  1/ 2\n    7 1 0  2/ 2  0/ 0\n");
  EXPECT_NE(report.find("Haplotype frequencies under linkage equilibrium"), std::string::npos);
  EXPECT_NE(report.find("\nFrequencies of possible haplotypes\n\n"), std::string::npos);
  EXPECT_NE(report.find("\nPossible haplotypes excluding missing loci = 4\n"), std::string::npos);
  size_t at = report.find("Frequencies of possible haplotypes");
  EXPECT_EQ(lines(report.substr(at)).size(), 2u + 4u + 2u);
  unlink(in.c_str());
}

} // namespace
