// Output files appear under their names only when complete, and an
// interrupted program removes every temporary file it still holds.

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "atomic_output.h"
#include "genotypes.h"
#include "tmpfiles.h"

using ::testing::HasSubstr;

namespace {

std::vector<std::string> names_in(const std::string &dir)
{
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.')
      names.push_back(e->d_name);
  closedir(d);
  return names;
}

} // namespace

TEST(AtomicOutput, OnlyACompleteFileAppearsUnderTheName)
{
  scratch_t t;
  std::string path = t.dir + "/scan.tsv";
  t.files.push_back(path);
  {
    atomic_output_t out(path);
    out.write("partial\n");
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0);
    EXPECT_EQ(stat(out.temp_path().c_str(), &st), 0);
    EXPECT_EQ(out.temp_path().rfind(path + ".tmp.", 0), 0u);
  }
  struct stat st;
  EXPECT_NE(stat(path.c_str(), &st), 0);  // given up: neither name remains
  {
    atomic_output_t out(path);
    out.write("whole\n");
    out.commit();
  }
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "whole");
  EXPECT_THAT(error_of([&] { atomic_output_t bad(t.dir + "/no/such/dir/x.tsv"); }),
              HasSubstr("cannot create the output file"));
}

// As hfimport holds its files: some written and closed, one being written,
// none yet renamed. Each signal ends the program with 128 + its number and
// leaves the directory as it was.
TEST(AtomicOutput, AnInterruptRemovesEveryTemporaryFile)
{
  for (int sig : {SIGINT, SIGTERM}) {
    scratch_t t;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      atomic_output_t legend(t.dir + "/o.legend"), par(t.dir + "/o.par"), dat(t.dir + "/o.dat");
      legend.write("legend\n");
      legend.close();
      par.write("par\n");
      par.close();
      dat.write("partial");
      raise(sig);
      _exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
    EXPECT_TRUE(names_in(t.dir).empty());
  }
}
