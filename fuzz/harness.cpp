#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {
std::string scratch;

// The scratch directory and the files the readers and targets left in it.
void removescratch()
{
  if (scratch.empty())
    return;
  if (DIR *d = opendir(scratch.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.')
        unlink((scratch + "/" + e->d_name).c_str());
    closedir(d);
  }
  rmdir(scratch.c_str());
}

} // namespace

const char *fuzz_file(const char *name, const uint8_t *data, size_t size)
{
  FILE *f = fopen(name, "wb");
  if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) {
    perror(name);
    abort();
  }
  return name;
}

const char *fuzz_file(const char *name, const std::string &text)
{
  return fuzz_file(name, reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

void fuzz_check(bool cond, const char *what)
{
  if (!cond) {
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
  }
}

void fuzz_setup()
{
  char dir[] = "/tmp/hs-fuzz-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) {
    perror("scratch directory");
    abort();
  }
  scratch = dir;
  atexit(removescratch);
  if (!getenv("HS_FUZZ_VERBOSE")) {
    // libFuzzer and the sanitizers write their reports to file descriptor
    // 2 directly; only the readers' stdio streams are silenced.
    stdout = fopen("/dev/null", "w");
    stderr = fopen("/dev/null", "w");
  }
}
