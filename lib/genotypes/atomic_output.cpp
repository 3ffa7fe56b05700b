// Output files under a temporary name until complete, and the signal
// handler that removes the temporary files of an interrupted program.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "atomic_output.h"
#include "genotypes.h"

namespace {

// The temporary files an interrupt must remove. The handler may use only
// async-signal-safe calls, so the names are kept in fixed buffers; a slot's
// flag is raised only after its name is complete and lowered before the
// name changes, so a handler on any thread never sees half a name.
const int slots = 16;
char pending[slots][4096];
std::atomic<int> in_use[slots];
std::mutex slot_lock;  // between threads that take and give back slots

std::atomic<int> log_fd(-1);

void on_signal(int sig)
{
  for (int k = 0; k < slots; k++)
    if (in_use[k].load(std::memory_order_acquire))
      unlink(pending[k]);
  int fd = log_fd.load(std::memory_order_acquire);
  if (fd >= 0) {
    static const char interrupt[] = "\nError: interrupted (SIGINT); unfinished outputs removed\n";
    static const char term[] = "\nError: terminated (SIGTERM); unfinished outputs removed\n";
    ssize_t ignored = sig == SIGINT ? write(fd, interrupt, sizeof interrupt - 1)
                                    : write(fd, term, sizeof term - 1);
    (void)ignored;
  }
  _exit(128 + sig);
}

void catch_signals()
{
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  });
}

int take_slot(const std::string &name)
{
  std::lock_guard<std::mutex> hold(slot_lock);
  for (int k = 0; k < slots; k++)
    if (!in_use[k].load(std::memory_order_relaxed)) {
      memcpy(pending[k], name.c_str(), name.size() + 1);
      in_use[k].store(1, std::memory_order_release);
      return k;
    }
  return -1;
}

void give_slot(int k)
{
  std::lock_guard<std::mutex> hold(slot_lock);
  in_use[k].store(0, std::memory_order_release);
}

} // namespace

atomic_output_t::atomic_output_t(const std::string &path) : path_(path)
{
  std::string tmpl = path + ".tmp.XXXXXX";
  if (tmpl.size() >= sizeof pending[0])
    throw input_error(path + ": the output file name is too long");
  catch_signals();
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  // An interrupt between mkstemp and taking the slot would leave the file,
  // so the two signals wait until the name is recorded.
  sigset_t two, old;
  sigemptyset(&two);
  sigaddset(&two, SIGINT);
  sigaddset(&two, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &two, &old);
  int fd = mkstemp(name.data());
  int err = errno;
  if (fd >= 0) {
    slot_ = take_slot(name.data());
    if (slot_ < 0) {
      unlink(name.data());
      ::close(fd);
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (fd < 0)
    throw input_error(path + ": cannot create the output file: " + strerror(err));
  if (slot_ < 0)
    throw input_error(path + ": too many output files open at once");
  temp_ = name.data();
  // mkstemp makes the file private; the output gets the permissions of any
  // file the user creates.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  f_ = fdopen(fd, "w");
  if (!f_) {
    err = errno;
    ::close(fd);
    fail("cannot write the output file", err);
  }
}

atomic_output_t::~atomic_output_t()
{
  if (f_)
    fclose(f_);
  if (!temp_.empty())
    unlink(temp_.c_str());
  forget();
}

void atomic_output_t::forget()
{
  if (slot_ >= 0)
    give_slot(slot_);
  slot_ = -1;
  temp_.clear();
}

void atomic_output_t::fail(const char *what, int err)
{
  if (f_)
    fclose(f_);
  f_ = nullptr;
  unlink(temp_.c_str());
  forget();
  throw input_error(path_ + ": " + what + ": " + strerror(err));
}

void atomic_output_t::write(const std::string &text)
{
  if (fwrite(text.data(), 1, text.size(), f_) != text.size() || ferror(f_))
    fail("cannot write the output file", errno);
}

void atomic_output_t::close()
{
  if (!f_)
    return;
  if (fflush(f_) != 0 || ferror(f_))
    fail("cannot write the output file", errno ? errno : EIO);
  if (fsync(fileno(f_)) != 0 && errno != EINVAL && errno != EROFS)
    fail("cannot write the output file", errno);
  FILE *f = f_;
  f_ = nullptr;
  if (fclose(f) != 0)
    fail("cannot write the output file", errno);
}

void atomic_output_t::commit()
{
  close();
  if (rename(temp_.c_str(), path_.c_str()) != 0)
    fail("cannot move the finished output into place", errno);
  forget();
}

void atomic_output_log_signals(int fd)
{
  catch_signals();
  log_fd.store(fd, std::memory_order_release);
}
