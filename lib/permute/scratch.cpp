// The temporary files of the estimator runs, the workers' scratch
// directories, and the signals that must not leave either behind.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "hfp.h"

std::vector<std::string> workdirs;

namespace {

// The fixed names of the estimator runs.
const char *const TEMPS[] = {"hf.tmp", "temp.hf", "temp.hfo", "temp1.hfo", "temp2.hfo"};

// Where the temporary files are: in the working directory (one worker), in
// scratch directories (several), or nowhere (the estimator in process).
enum { INCWD, INSCRATCH, NOFILES } where = INCWD;

// Signal state, read by the handler: only lock-free atomics.
constexpr int MAXCHILDREN = 1024;
std::atomic<int> runphase{0};
std::atomic<int> caught{0};
std::atomic<int> abandoned{0};
std::atomic<int> children[MAXCHILDREN];

void onsignal(int sig)
{
  if (runphase.load() == 0) {
    // Nothing to clean up: the signal's default effect, now.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  caught.store(sig);
  for (auto &child : children) {
    int pid = child.load();
    if (pid > 0)
      kill(pid, sig);
  }
}

} // namespace

void makeworkdirs(int workers, bool scratch)
{
  workdirs.clear();
  if (inprocess) {
    where = NOFILES;
    workdirs.assign(static_cast<size_t>(workers), "");
    return;
  }
  if (!scratch) {
    where = INCWD;
    workdirs.assign(1, "");
    return;
  }
  where = INSCRATCH;
  for (int k = 1; k <= workers; k++) {
    std::string name = "hfp-job" + std::to_string(k) + ".XXXXXX";
    if (mkdtemp(&name[0]) == nullptr)
      hfpfail("Cannot create the scratch directory %s in the working directory: %s\n", name.c_str(),
              strerror(errno));
    workdirs.push_back(name + "/");
  }
}

void removetemps()
{
  if (where == NOFILES)
    return;
  if (where == INCWD) {
    // In the working directory, the files of the runs of this mode only, so
    // that a case-control file of another run is left alone.
    remove("hf.tmp");
    remove("temp.hf");
    remove("temp.hfo");
    if (cc) {
      remove("temp1.hfo");
      remove("temp2.hfo");
    }
    return;
  }
  for (const std::string &dir : workdirs) {
    for (const char *name : TEMPS)
      remove((dir + name).c_str());
    if (rmdir(dir.c_str()) != 0 && errno != ENOENT)
      fprintf(stderr, "Cannot remove the scratch directory %s: %s\n", dir.c_str(), strerror(errno));
  }
  workdirs.clear();
}

void catchsignals()
{
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
      continue; // a signal ignored by whoever started hfp stays ignored
    struct sigaction act;
    memset(&act, 0, sizeof act);
    act.sa_handler = onsignal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    sigaction(sig, &act, nullptr);
  }
}

void setrunphase(bool on)
{
  runphase.store(on && where != NOFILES ? 1 : 0);
}

int interruption()
{
  return caught.load();
}

void reraise(int sig)
{
  fflush(stdout);
  signal(sig, SIG_DFL);
  raise(sig);
  _exit(128 + sig);
}

void abandonruns()
{
  abandoned.store(1);
  for (auto &child : children) {
    int pid = child.load();
    if (pid > 0)
      kill(pid, SIGTERM);
  }
}

bool runsabandoned()
{
  return abandoned.load() != 0 || caught.load() != 0;
}

void setchild(int worker, int pid)
{
  if (worker >= 0 && worker < MAXCHILDREN)
    children[worker].store(pid);
  // A signal that came before the child was registered stops it now.
  if (pid > 0 && caught.load() != 0)
    kill(pid, caught.load());
  else if (pid > 0 && abandoned.load() != 0)
    kill(pid, SIGTERM);
}
