#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

std::string tempfile(const std::string &text)
{
  char name[] = "/tmp/hftestXXXXXX";
  int fd = mkstemp(name);
  if (fd < 0)
    abort();
  FILE *f = fdopen(fd, "w");
  fputs(text.c_str(), f);
  fclose(f);
  return name;
}

std::string capture(const std::function<void()> &fn)
{
  FILE *f = tmpfile();
  FILE *old = fo;
  fo = f;
  fn();
  fflush(f);
  rewind(f);
  std::string out;
  int ch;
  while ((ch = getc(f)) != EOF)
    out.push_back(static_cast<char>(ch));
  fclose(f);
  fo = old;
  return out;
}

loaded_t load(const std::string &text)
{
  loaded_t r;
  machineprecision();
  std::string name = tempfile(text);
  FILE *f = fopen(name.c_str(), "r");
  r.status = readheader(f, name.c_str());
  h = h0 = c = hm = nullptr;
  if (r.status == 0) {
    std::vector<geno_t> list;
    r.status = readrecords(f, name.c_str(), list);
    if (r.status == 0)
      r.table = list;
  }
  obscom = static_cast<int>(r.table.size());
  if (r.status == 0)
    buildpossible(r.table.data());
  fclose(f);
  unlink(name.c_str());
  return r;
}

void denseh()
{
  release();
  hapk.resize(hapall);
  for (int k = 0; k < hapall; k++)
    hapk[k] = k + 1;
  inith(hapall);
}

void release()
{
  free(h);
  free(h0);
  free(c);
  free(hm);
  h = h0 = c = hm = nullptr;
  hrtree(hrt);
  hrt = nullptr;
  freepossible();
}

int readtext(const std::string &text, std::vector<geno_t> &table, std::string *err)
{
  ::testing::internal::CaptureStderr();
  loaded_t r = load(text);
  std::string e = ::testing::internal::GetCapturedStderr();
  if (err)
    *err = e;
  table = r.table;
  release();
  return r.status;
}

std::string emreport(const std::string &text)
{
  loaded_t r = load(text);
  std::string out = capture([&] { ehm(r.table.data()); });
  release();
  return out;
}

std::vector<std::string> lines(const std::string &text)
{
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    out.push_back(line);
  return out;
}
