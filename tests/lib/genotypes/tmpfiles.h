// Scratch files for the reader tests, removed when the test ends.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

struct scratch_t {
  std::string dir;
  scratch_t()
  {
    char tmpl[] = "/tmp/hfimport-test-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  ~scratch_t()
  {
    for (const std::string &f : files)
      remove(f.c_str());
    rmdir(dir.c_str());
  }
  std::string write(const std::string &name, const std::string &text)
  {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    files.push_back(path);
    return path;
  }
  std::vector<std::string> files;
};

// The message of the input_error that f throws, or "" when it throws none.
template <typename F>
std::string error_of(F f)
{
  try {
    f();
  } catch (const input_error &e) {
    return e.what();
  }
  return "";
}
