#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

#ifndef HF_TEST_XDATA
#define HF_TEST_XDATA 0
#endif

hfstate_t S = [] {
  hfstate_t s;
  s.xdata = HF_TEST_XDATA;
  machineprecision(s);
  return s;
}();

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

std::string capture(const std::function<void(repout_t &)> &fn)
{
  std::string out;
  repout_t *o = new repout_t(out);
  fn(*o);
  o->flush();
  delete o;
  return out;
}

loaded_t load(const std::string &text)
{
  loaded_t r;
  hrtree(S.hrt);
  hfstate_t fresh;
  fresh.xdata = HF_TEST_XDATA;
  fresh.pl = S.pl;
  fresh.debug = S.debug;
  fresh.pairbudget = S.pairbudget;
  fresh.densebound = S.densebound;
  S = fresh;
  machineprecision(S);
  std::string name = tempfile(text);
  FILE *f = fopen(name.c_str(), "r");
  r.status = readheader(S, f, name.c_str());
  if (r.status == 0) {
    std::vector<geno_t> list;
    r.status = readrecords(S, f, name.c_str(), list);
    if (r.status == 0)
      r.table = list;
  }
  S.obscom = static_cast<int>(r.table.size());
  if (r.status == 0)
    buildpossible(S, r.table.data());
  fclose(f);
  unlink(name.c_str());
  return r;
}

void denseh()
{
  release();
  S.hapk.resize(S.hapall);
  for (int k = 0; k < S.hapall; k++)
    S.hapk[k] = k + 1;
  inith(S, S.hapall);
}

void release()
{
  hrtree(S.hrt);
  S.hrt = nullptr;
  freepossible(S);
  S.h = S.h0 = S.c = S.hm = std::vector<double>();
}

int readtext(const std::string &text, std::vector<geno_t> &table, std::string *err)
{
  S.message.clear();
  loaded_t r = load(text);
  if (err)
    *err = r.status == 0 ? "" : S.message;
  table = r.table;
  release();
  return r.status;
}

std::string emreport(const std::string &text)
{
  loaded_t r = load(text);
  std::string out;
  if (ehm(S, r.table.data()) == HF_OK)
    out = capture([&](repout_t &o) {
      countsreport(S, o);
      emreport(S, o);
    });
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
