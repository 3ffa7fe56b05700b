// The temporary files of the estimator runs, the workers' scratch
// directories, and the signals that must not leave either behind.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "hfp.h"

namespace {

// The fixed names of the estimator runs.
const char TEMPS[][10] = {"hf.tmp", "temp.hf", "temp.hfo", "temp1.hfo", "temp2.hfo"};

} // namespace

void makeworkdirs(hfp_t &s, int workers, bool scratch)
{
  s.workdirs.clear();
  if (s.inprocess) {
    s.where = hfp_t::NOFILES;
    s.workdirs.assign(static_cast<size_t>(workers), "");
    return;
  }
  if (!scratch) {
    s.where = hfp_t::INCWD;
    s.workdirs.assign(1, "");
    return;
  }
  s.where = hfp_t::INSCRATCH;
  for (int k = 1; k <= workers; k++) {
    std::string name = "hfp-job" + std::to_string(k) + ".XXXXXX";
    if (mkdtemp(&name[0]) == nullptr)
      hfpfail("Cannot create the scratch directory %s in the working directory: %s\n", name.c_str(),
              strerror(errno));
    s.workdirs.push_back(name + "/");
  }
}

void removetemps(hfp_t &s, std::string *later)
{
  if (s.where == hfp_t::NOFILES)
    return;
  if (s.where == hfp_t::INCWD) {
    // In the working directory, the files of the runs of this mode only, so
    // that a case-control file of another run is left alone.
    remove("hf.tmp");
    remove("temp.hf");
    remove("temp.hfo");
    if (s.cc) {
      remove("temp1.hfo");
      remove("temp2.hfo");
    }
    return;
  }
  for (const std::string &dir : s.workdirs) {
    for (const char *name : TEMPS)
      remove((dir + name).c_str());
    if (rmdir(dir.c_str()) != 0 && errno != ENOENT) {
      std::string text = "Cannot remove the scratch directory " + dir + ": " + strerror(errno) + "\n";
      if (later)
        *later += text;
      else
        fputs(text.c_str(), stderr);
    }
  }
  s.workdirs.clear();
}

bool hfp_onsignal(hfpsignals_t &sig, int signo)
{
  if (sig.runphase.load() == 0)
    return false;
  sig.caught.store(signo);
  for (auto &child : sig.children) {
    int pid = child.load();
    if (pid > 0)
      kill(pid, signo);
  }
  return true;
}

void setrunphase(hfp_t &s, bool on)
{
  s.signals.runphase.store(on ? 1 : 0);
}

int interruption(const hfp_t &s)
{
  return s.signals.caught.load();
}

void abandonruns(hfp_t &s)
{
  s.signals.abandoned.store(1);
  for (auto &child : s.signals.children) {
    int pid = child.load();
    if (pid > 0)
      kill(pid, SIGTERM);
  }
}

bool runsabandoned(const hfp_t &s)
{
  return s.signals.abandoned.load() != 0 || s.signals.caught.load() != 0;
}

void setchild(hfp_t &s, int worker, int pid)
{
  hfpsignals_t &sig = s.signals;
  if (worker >= 0 && worker < HFP_MAXCHILDREN)
    sig.children[worker].store(pid);
  // A signal that came before the child was registered stops it now.
  if (pid > 0 && sig.caught.load() != 0)
    kill(pid, sig.caught.load());
  else if (pid > 0 && sig.abandoned.load() != 0)
    kill(pid, SIGTERM);
}
