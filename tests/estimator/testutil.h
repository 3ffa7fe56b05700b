// Helpers for driving the estimator's stages directly.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "possible.h"

// Writes text to a fresh temporary file and returns its path.
std::string tempfile(const std::string &text);

// Runs fn with the report stream fo sent to a temporary file; returns what
// was written.
std::string capture(const std::function<void()> &fn);

// Reads an input text into the globals and a record table (empty on a
// reading error, with status set to the reader's code); allocates the
// haplotype vectors. release() frees what load allocated.
struct loaded_t {
  int status = 0;
  std::vector<geno_t> table;
};
loaded_t load(const std::string &text);
void release();
// Frequency vectors over every haplotype number (entry k - 1 for number k),
// for tests that set frequencies by hand.
void denseh();

// Reads an input text with standard error captured into *err; returns the
// reader's status and the records, and frees what load allocated.
int readtext(const std::string &text, std::vector<geno_t> &table, std::string *err = nullptr);

// Runs the EM on an input text and returns the report section it writes.
std::string emreport(const std::string &text);

// The lines of a text.
std::vector<std::string> lines(const std::string &text);
