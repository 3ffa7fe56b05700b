// Starting the estimator without a shell. Each of the three command lines
//   hf.sun temp.hf temp.hfo>hf.tmp   (and temp1.hfo, temp2.hfo)
// keeps its meaning: the program hf.sun found on the search path as the
// shell finds it (hfp's own directory first), its two arguments, and its
// standard output in hf.tmp, created or truncated with mode 0666 before the
// umask. The command texts remain what messages quote.

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hfp.h"

extern char **environ;

namespace {

const char ESTIMATOR[] = "hf.sun";
const char WARNING[] = "Warning: ";

bool executable(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

[[noreturn]] void interrupted()
{
  throw hfpabort("", 0, true);
}

void writeall(const char *text, size_t n)
{
  while (n > 0) {
    ssize_t w = write(2, text, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      return;
    text += w;
    n -= static_cast<size_t>(w);
  }
}

// The estimator's standard error, line by line, passed on without its
// "Warning: " lines, which hfp counts instead. Returns whether the run
// wrote one.
bool passstderr(int fd)
{
  stderrfilter_t filter;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    std::string pass = filter.feed(buf, static_cast<size_t>(n));
    writeall(pass.data(), pass.size());
  }
  std::string pass = filter.finish();
  writeall(pass.data(), pass.size());
  return filter.warnings > 0;
}

} // namespace

std::string stderrfilter_t::feed(const char *data, size_t n)
{
  pending.append(data, n);
  std::string pass;
  size_t start = 0, end;
  while ((end = pending.find('\n', start)) != std::string::npos) {
    line(pending.data() + start, end + 1 - start, pass);
    start = end + 1;
  }
  pending.erase(0, start);
  return pass;
}

std::string stderrfilter_t::finish()
{
  std::string pass;
  if (!pending.empty())
    line(pending.data(), pending.size(), pass);
  pending.clear();
  return pass;
}

void stderrfilter_t::line(const char *text, size_t n, std::string &pass)
{
  if (n >= sizeof WARNING - 1 && memcmp(text, WARNING, sizeof WARNING - 1) == 0)
    warnings++;
  else
    pass.append(text, n);
}

void findestimator(hfp_t &s)
{
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string search;
  if (n > 0) {
    self[n] = '\0';
    char *slash = strrchr(self, '/');
    if (slash != nullptr) {
      *slash = '\0';
      search = std::string(self) + ":";
    }
  }
  const char *path = getenv("PATH");
  search += path ? path : "/usr/bin:/bin";
  setenv("PATH", search.c_str(), 1);
  // The shell's search: the first entry holding an executable regular file
  // of that name; an empty entry is the working directory. The name is
  // resolved against the working directory now, since the runs of several
  // workers start in their scratch directories.
  char cwd[PATH_MAX];
  bool havecwd = getcwd(cwd, sizeof cwd) != nullptr;
  size_t start = 0;
  for (;;) {
    size_t end = search.find(':', start);
    std::string dir = search.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty())
      dir = ".";
    if (dir[0] != '/' && havecwd)
      dir = std::string(cwd) + "/" + dir;
    std::string candidate = dir + "/" + ESTIMATOR;
    if (executable(candidate)) {
      s.estimator = candidate;
      return;
    }
    if (end == std::string::npos)
      return;
    start = end + 1;
  }
}

bool runestimator(hfp_t &s, int worker, const char *command, const char *report)
{
  const std::string &dir = s.workdirs[static_cast<size_t>(worker)];
  std::string reportpath = dir + report;
  remove(reportpath.c_str());
  // hf.tmp is created afresh, not truncated, for the reason given in
  // writetemp; its content is the same.
  unlink((dir + "hf.tmp").c_str());
  if (runsabandoned(s))
    interrupted();
  if (s.estimator.empty())
    hfpfail("The estimator hf.sun cannot be found or started (\"%s\"); no report %s\n", command,
            reportpath.c_str());

  int errpipe[2];
  if (pipe2(errpipe, O_CLOEXEC) != 0)
    hfpfail("Cannot start the estimator run \"%s\": %s\n", command, strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!dir.empty())
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "hf.tmp", O_WRONLY | O_CREAT | O_TRUNC, 0666);
  posix_spawn_file_actions_adddup2(&actions, errpipe[1], 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);

  std::string input = "temp.hf", output = report;
  char *argv[] = {const_cast<char *>(ESTIMATOR), &input[0], &output[0], nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, s.estimator.c_str(), &actions, &attr, argv, environ);
  if (rc == ENOEXEC) {
    // A script without "#!" line: the shell runs such a file itself.
    std::string program = s.estimator;
    char *shargv[] = {const_cast<char *>("sh"), &program[0], &input[0], &output[0], nullptr};
    rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, shargv, environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(errpipe[1]);
  if (rc != 0) {
    close(errpipe[0]);
    if (!executable(s.estimator))
      hfpfail("The estimator hf.sun cannot be found or started (\"%s\"); no report %s\n", command,
              reportpath.c_str());
    hfpfail("Cannot start the estimator run \"%s\": %s\n", command, strerror(rc));
  }
  setchild(s, worker, pid);
  bool warned = passstderr(errpipe[0]);
  close(errpipe[0]);
  // Unregister before the child is reaped, while its process id cannot yet
  // be reused, so that a signal never reaches another process.
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  setchild(s, worker, 0);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR)
      hfpfail("Cannot wait for the estimator run \"%s\": %s\n", command, strerror(errno));
  }
  if (runsabandoned(s))
    interrupted();
  if (WIFSIGNALED(status) || !WIFEXITED(status))
    hfpfail("The estimator run \"%s\" was stopped by a signal; no report %s\n", command, reportpath.c_str());
  if (WEXITSTATUS(status) == 127)
    hfpfail("The estimator hf.sun cannot be found or started (\"%s\"); no report %s\n", command,
            reportpath.c_str());
  if (WEXITSTATUS(status) != 0)
    hfpfail("The estimator run \"%s\" failed with status %d; its report %s is not usable\n", command,
            WEXITSTATUS(status), reportpath.c_str());
  return warned;
}
