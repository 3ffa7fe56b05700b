// An output file written under a temporary name in its own directory and
// renamed into place when complete, so that no one ever sees a partial file
// under the final name: not after a failed write, an interrupt or a kill.
// SIGINT and SIGTERM remove every temporary file still open and end the
// program with status 130 or 143.
#pragma once

#include <cstdio>
#include <string>

class atomic_output_t {
 public:
  explicit atomic_output_t(const std::string &path);  // throws input_error
  ~atomic_output_t();                                // removes an uncommitted file
  atomic_output_t(const atomic_output_t &) = delete;
  atomic_output_t &operator=(const atomic_output_t &) = delete;

  FILE *file() { return f_; }                        // for fprintf; errors are seen by close
  void write(const std::string &text);               // throws input_error on a failed write
  void close();                                      // flush, sync and close, errors checked
  void commit();                                     // close if open, then rename into place
  const std::string &temp_path() const { return temp_; }

 private:
  std::string path_, temp_;
  FILE *f_ = nullptr;
  int slot_ = -1;
  void fail(const char *what, int err);
  void forget();
};

// The log of the run (run_log.h) gets a last line when SIGINT or SIGTERM
// ends the program: fd is its descriptor, -1 for none. Installs the
// handler.
void atomic_output_log_signals(int fd);
