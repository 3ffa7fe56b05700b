// The log of a run, written line by line as the run goes.

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "atomic_output.h"
#include "genotypes.h"
#include "run_log.h"

namespace {

double seconds_now()
{
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The calendar time as ctime writes it, without its line end.
std::string calendar_now()
{
  time_t t = time(nullptr);
  char buf[64];
  struct tm tm;
  if (!localtime_r(&t, &tm) || strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y", &tm) == 0)
    return "unknown";
  return buf;
}

} // namespace

std::string shell_words(int argc, char **argv)
{
  std::string text;
  for (int i = 0; i < argc; i++) {
    std::string a = argv[i];
    bool plain = !a.empty() &&
                 a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789-_./:=,+%@") == std::string::npos;
    if (i)
      text += ' ';
    if (plain) {
      text += a;
      continue;
    }
    text += '\'';
    for (char ch : a)
      text += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    text += '\'';
  }
  return text;
}

void run_log_t::open(const std::string &path, const char *program, int argc, char **argv,
                     const std::vector<std::string> &inputs)
{
  struct stat out, in;
  if (stat(path.c_str(), &out) == 0)
    for (const std::string &input : inputs)
      if (!input.empty() && stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
          in.st_ino == out.st_ino)
        throw input_error(path + ": the log would replace the input file " + input);
  path_ = path;
  program_ = program;
  start_ = seconds_now();
  f_ = fopen(path.c_str(), "w");
  if (!f_)
    throw input_error(path + ": cannot create the output file: " + strerror(errno));
  atomic_output_log_signals(fileno(f_));
  std::vector<char> cwd(PATH_MAX + 1);
  write(std::string(program) + " (HAPLOSIFT) " + HS_VERSION);
  field("Command line", shell_words(argc, argv));
  field("Working directory", getcwd(cwd.data(), cwd.size()) ? cwd.data() : "unknown");
  field("Start time", calendar_now());
  write("");
}

void run_log_t::write(const std::string &text)
{
  if (!f_)
    return;
  if (fputs(text.c_str(), f_) == EOF || fputc('\n', f_) == EOF || fflush(f_) != 0) {
    int err = errno;
    if (!warned_)
      fprintf(stderr, "%s: warning: %s: cannot write the log: %s\n", program_, path_.c_str(),
              strerror(err));
    warned_ = true;
    clearerr(f_);
  }
}

void run_log_t::line(const std::string &text)
{
  write(text);
}

void run_log_t::finish(const std::string &message)
{
  if (!f_)
    return;
  try {
    end(message);
  } catch (const std::bad_alloc &) {
    // The memory that ran out: the log stays as it is.
  }
  atomic_output_log_signals(-1);
  if (fclose(f_) != 0 && !warned_)
    fprintf(stderr, "%s: warning: %s: cannot write the log: %s\n", program_, path_.c_str(),
            strerror(errno));
  f_ = nullptr;
}

void run_log_t::end(const std::string &message)
{
  write("");
  if (!message.empty())
    field("Error", message);
  field("End time", calendar_now());
  char buf[64];
  snprintf(buf, sizeof buf, "%.2f s", seconds_now() - start_);
  field("Elapsed", buf);
}

run_log_t::~run_log_t()
{
  if (f_)
    finish("the run ended without reaching its end");
}
