// The output table and the file it goes to.

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scan.h"

scan_row_t::scan_row_t()
{
  const double na = std::nan("");
  ld_chi2 = ld_p = cc_chi2 = cc_p = perm_p = top_case_freq = top_control_freq = na;
}

std::string scan_header()
{
  return "chrom\tfirst_marker\tlast_marker\tfirst_pos\tlast_pos\tn_markers\tn_indiv\tn_cases\t"
         "n_controls\tn_haplotypes\tld_chi2\tld_df\tld_p\tcc_chi2\tcc_df\tcc_p\tperm_n\tperm_hits\t"
         "perm_p\ttop_haplotype\ttop_case_freq\ttop_control_freq\tstatus\n";
}

namespace {

// Ten significant digits: chi-squares of a million keep four decimals, and
// p values of 1e-300 keep their digits. Zero is written 0, never -0.
void number(std::string &out, double x)
{
  out += '\t';
  if (std::isnan(x)) {
    out += "NA";
    return;
  }
  if (x == 0)
    x = 0;
  char buf[32];
  snprintf(buf, sizeof buf, "%.10g", x);
  out += buf;
}

void count(std::string &out, long n)
{
  out += '\t';
  out += n < 0 ? "NA" : std::to_string(n);
}

void text(std::string &out, const std::string &s)
{
  out += '\t';
  if (s.empty()) {
    out += "NA";
    return;
  }
  for (char c : s)
    out += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
}

} // namespace

std::string scan_format(const scan_row_t &r)
{
  std::string out = r.chrom;
  text(out, r.first_marker);
  text(out, r.last_marker);
  count(out, r.first_pos);
  count(out, r.last_pos);
  count(out, r.n_markers);
  count(out, r.n_indiv);
  count(out, r.n_cases);
  count(out, r.n_controls);
  count(out, r.n_haplotypes);
  number(out, r.ld_chi2);
  count(out, r.ld_df);
  number(out, r.ld_p);
  number(out, r.cc_chi2);
  count(out, r.cc_df);
  number(out, r.cc_p);
  count(out, r.perm_n);
  count(out, r.perm_hits);
  number(out, r.perm_p);
  text(out, r.top_haplotype);
  number(out, r.top_case_freq);
  number(out, r.top_control_freq);
  text(out, r.status);
  out += '\n';
  return out;
}

namespace {

// The temporary file an interrupt must remove; the handler may use only
// async-signal-safe calls, so the name is kept in a fixed buffer.
char pending[4096];
volatile sig_atomic_t have_pending = 0;

void on_signal(int sig)
{
  if (have_pending)
    unlink(pending);
  _exit(128 + sig);
}

void catch_signals()
{
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// Blocks the two signals while the pending name changes, so the handler
// never sees half a name.
struct signals_held_t {
  sigset_t old;
  signals_held_t()
  {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &s, &old);
  }
  ~signals_held_t() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

} // namespace

atomic_output_t::atomic_output_t(const std::string &path) : path_(path)
{
  std::string tmpl = path + ".tmp.XXXXXX";
  if (tmpl.size() >= sizeof pending)
    throw import_error(path + ": the output file name is too long");
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd;
  {
    signals_held_t held;
    catch_signals();
    fd = mkstemp(name.data());
    if (fd >= 0) {
      memcpy(pending, name.data(), name.size());
      have_pending = 1;
    }
  }
  if (fd < 0)
    throw import_error(path + ": cannot create the output file: " + strerror(errno));
  temp_ = name.data();
  // mkstemp makes the file private; the table gets the permissions of any
  // file the user creates.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  f_ = fdopen(fd, "w");
  if (!f_) {
    int err = errno;
    close(fd);
    fail("cannot write the output file", err);
  }
}

atomic_output_t::~atomic_output_t()
{
  if (f_)
    fclose(f_);
  if (!temp_.empty()) {
    signals_held_t held;
    unlink(temp_.c_str());
    have_pending = 0;
  }
}

void atomic_output_t::fail(const char *what, int err)
{
  if (f_)
    fclose(f_);
  f_ = nullptr;
  {
    signals_held_t held;
    unlink(temp_.c_str());
    have_pending = 0;
  }
  temp_.clear();
  throw import_error(path_ + ": " + what + ": " + strerror(err));
}

void atomic_output_t::write(const std::string &text)
{
  if (fwrite(text.data(), 1, text.size(), f_) != text.size() || ferror(f_))
    fail("cannot write the output file", errno);
}

void atomic_output_t::commit()
{
  if (fflush(f_) != 0 || ferror(f_))
    fail("cannot write the output file", errno);
  if (fsync(fileno(f_)) != 0 && errno != EINVAL && errno != EROFS)
    fail("cannot write the output file", errno);
  FILE *f = f_;
  f_ = nullptr;
  if (fclose(f) != 0)
    fail("cannot write the output file", errno);
  if (rename(temp_.c_str(), path_.c_str()) != 0)
    fail("cannot move the finished output into place", errno);
  signals_held_t held;
  have_pending = 0;
  temp_.clear();
}
