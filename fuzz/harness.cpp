#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <set>
#include <string>
#include <unistd.h>

bool fuzz_inside = false;

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

std::set<FILE *> &openfiles()
{
  static std::set<FILE *> files;
  return files;
}
} // namespace

extern "C" {
FILE *__real_fopen(const char *path, const char *mode);
int __real_fclose(FILE *f);
[[noreturn]] void __real_exit(int status);

[[noreturn]] void __wrap_exit(int status)
{
  if (fuzz_inside)
    throw refused_t{status};
  __real_exit(status);
}

FILE *__wrap_fopen(const char *path, const char *mode)
{
  FILE *f = __real_fopen(path, mode);
  if (f)
    openfiles().insert(f);
  return f;
}

int __wrap_fclose(FILE *f)
{
  openfiles().erase(f);
  return __real_fclose(f);
}
}

void fuzz_closeleft()
{
  for (FILE *f : openfiles())
    __real_fclose(f);
  openfiles().clear();
}

const char *fuzz_file(const char *name, const uint8_t *data, size_t size)
{
  FILE *f = __real_fopen(name, "wb");
  if (!f || fwrite(data, 1, size, f) != size || __real_fclose(f) != 0) {
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
    stdout = __real_fopen("/dev/null", "w");
    stderr = __real_fopen("/dev/null", "w");
  }
}
