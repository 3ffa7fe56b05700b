// Test inputs written on the fly, and the output of the readers captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "trelix.h"

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

// Reads a parameter file given as text; returns what getloci echoed.
inline std::string loadpar(const std::string &text)
{
  std::string path = put("study.par", text);
  testing::internal::CaptureStdout();
  getloci(path.c_str());
  return testing::internal::GetCapturedStdout();
}

// Reads a data file given as text; returns the record listing.
inline std::string loaddat(const std::string &text, int *skipped = nullptr)
{
  std::string path = put("study.dat", text);
  int n;
  testing::internal::CaptureStdout();
  readrecs(path.c_str(), n);
  if (skipped)
    *skipped = n;
  return testing::internal::GetCapturedStdout();
}
