// Helpers for driving the estimator's stages directly, on one state S that
// the tests share (they run one at a time).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "possible.h"
#include "report.h"

extern hfstate_t S;

// Writes text to a fresh temporary file and returns its path.
std::string tempfile(const std::string &text);

// Runs fn with a report writer; returns what it wrote.
std::string capture(const std::function<void(repout_t &)> &fn);

// Reads an input text into S afresh (its cutoff, debug flag and memory
// bounds kept) and returns the record table (empty on a reading error, with
// status set to the reader's code); finds the possible haplotypes and
// allocates the haplotype vectors. release() frees what load allocated.
struct loaded_t {
  int status = 0;
  std::vector<geno_t> table;
};
loaded_t load(const std::string &text);
void release();
// Frequency vectors over every haplotype number (entry k - 1 for number k),
// for tests that set frequencies by hand.
void denseh();

// Reads an input text; returns the reader's status and the records, with the
// reader's message in *err, and frees what load allocated.
int readtext(const std::string &text, std::vector<geno_t> &table, std::string *err = nullptr);

// Runs the EM on an input text and returns the report sections of allele
// counting and the EM.
std::string emreport(const std::string &text);

// The lines of a text.
std::vector<std::string> lines(const std::string &text);
