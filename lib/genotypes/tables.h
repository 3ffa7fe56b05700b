// Pieces shared by the readers of sample tables (samples.cpp,
// covariates.cpp): lines with their file and line for messages, the match
// of a row to a sample of the input, and the reading of numbers.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "genotypes.h"

// The non-blank lines of a table as words. CRLF line ends read as LF and a
// UTF-8 byte-order mark before the first line is dropped; a NUL byte is an
// error (the file is not text).
class table_lines_t {
 public:
  // what names the kind of file in the message when it cannot be opened.
  table_lines_t(const std::string &path, const char *what);
  ~table_lines_t();
  table_lines_t(const table_lines_t &) = delete;
  table_lines_t &operator=(const table_lines_t &) = delete;
  // The next non-blank line's words; false at the end of the file.
  bool next(std::vector<std::string> &words);
  int line() const { return line_; }
  // "PATH, line N: " of the line last read.
  std::string at() const;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  FILE *f_ = nullptr;
  int line_ = 0;
  std::string text_;
};

// Finds the sample of the input that a row of a table names, and counts the
// rows as table_match_t does.
class sample_matcher_t {
 public:
  sample_matcher_t(const std::vector<sample_t> &samples, bool match_fid, bool table_has_fid);
  // The index of the sample that the row at "at" (file and line) names, -1
  // for none. fid is ignored when the table has no FID column. Throws for a
  // row whose sample cannot be told (an IID in several families of the
  // input, or IID and FID_IID naming different samples) and for a sample
  // named by an earlier row.
  int match(const std::string &fid, const std::string &iid, int line, const std::string &at);
  // The counts so far; throws when no row named a sample of the input.
  table_match_t result(const std::string &path) const;

 private:
  const std::vector<sample_t> &samples_;
  bool by_pair_, joined_;
  std::map<std::string, int> index_;  // key to sample; -1 when several samples share it
  std::vector<int> line_of_;          // per sample: the row that named it, 0 for none
  table_match_t m_;
  size_t by_iid_ = 0, by_joined_ = 0;
  std::string first_fid_, first_iid_;  // the first row's sample, for the message
  int lookup(const std::string &key) const;
};

// A header column name without a leading '#' and in capitals, as the
// headers are compared.
std::string header_name(const std::string &word);

// The text of a whole decimal number (optional sign, digits with an
// optional point, optional exponent), finite: its value in v.
bool decimal_number(const std::string &text, double &v);

// NA (any case), NaN (any case) or '.': missing in every table.
bool missing_word(const std::string &text);
