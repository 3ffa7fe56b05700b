// Test inputs written on the fly, and the output of the readers captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "txlib.h"

// Writes text to a file of this name in the process's scratch directory;
// returns its path.
inline std::string put(const std::string &name, const std::string &text)
{
  static std::string dir;
  if (dir.empty()) {
    char templ[] = "/tmp/trelix-test-XXXXXX";
    if (!mkdtemp(templ))
      abort();
    dir = templ;
  }
  std::string path = dir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

inline std::string readfile(const std::string &path)
{
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

// What a stream written by f holds.
template <class F> std::string written(F f)
{
  FILE *tmp = tmpfile();
  if (!tmp)
    abort();
  f(tmp);
  std::string text;
  rewind(tmp);
  for (int c; (c = getc(tmp)) != EOF;)
    text += static_cast<char>(c);
  fclose(tmp);
  return text;
}

// Reads a parameter file given as text into tx, which must accept it;
// returns the summary the programs echo.
inline std::string loadpar(trelix_t &tx, const std::string &text)
{
  std::string path = put("study.par", text);
  int code = tx_read_params(tx, path.c_str());
  EXPECT_EQ(code, TX_OK) << tx.message;
  return written([&](FILE *f) { tx_echo(tx, f); });
}

// Reads a data file given as text into tx, which must accept it; returns
// the record listing.
inline std::string loaddat(trelix_t &tx, const std::string &text, int *skipped = nullptr)
{
  std::string path = put("study.dat", text);
  int n;
  return written([&](FILE *f) {
    tx.listing = f;
    int code = tx_read_data(tx, path.c_str(), n);
    EXPECT_EQ(code, TX_OK) << tx.message;
    tx.listing = nullptr;
    if (skipped)
      *skipped = n;
  });
}
