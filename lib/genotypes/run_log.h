// The log of a run, as PLINK keeps one beside its outputs: the program and
// its version, the command line, where and when it ran, then what the run
// reports as it goes (counts kept and left out, the trait, the warnings),
// and at the end the error that stopped it, if any, and the time taken.
//
// The log is written as the run goes, each line flushed at once, and kept
// whatever happens: a run that fails leaves its log with the error in it,
// and an interrupt (SIGINT, SIGTERM) leaves a last line saying so. The
// tables themselves never hold any of this.
//
// Use: open() once the output's name is known, line() or field() for each
// thing to report, finish() with the error message (or "") before the
// program ends. A log that cannot be created is an error (like an output
// that cannot); one whose writing fails later costs a warning on standard
// error and nothing else.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class run_log_t {
 public:
  run_log_t() = default;
  ~run_log_t();  // closes a log that finish() did not end, saying so in it
  run_log_t(const run_log_t &) = delete;
  run_log_t &operator=(const run_log_t &) = delete;

  // Creates (or replaces) path and writes the heading: "PROGRAM (HAPLOSIFT)
  // VERSION", the command line, the working directory, the start time.
  // Throws input_error when the file cannot be created, or when it is one
  // of the inputs (the files the run reads), which it would empty.
  void open(const std::string &path, const char *program, int argc, char **argv,
            const std::vector<std::string> &inputs = {});
  bool is_open() const { return f_ != nullptr; }
  const std::string &path() const { return path_; }

  void line(const std::string &text);  // one line; nothing when not open
  void field(const std::string &key, const std::string &value) { line(key + ": " + value); }
  // "Error: MESSAGE" when message is not empty, the end time and the
  // elapsed seconds; closes the log.
  void finish(const std::string &message);

 private:
  std::string path_;
  const char *program_ = "";
  FILE *f_ = nullptr;
  double start_ = 0;
  bool warned_ = false;
  void write(const std::string &text);
  void end(const std::string &message);
};

// The command line as a shell would take it back: arguments with spaces or
// shell characters in single quotes.
std::string shell_words(int argc, char **argv);
