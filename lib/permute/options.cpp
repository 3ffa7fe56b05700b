// The options of hfp, which come before the positional arguments:
//   --jobs N, -j N   passes on N workers at once (0: every core; default 1)
//   --in-process     the estimator runs inside hfp, through its library
//   --               ends the options
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <unistd.h>

#include "hfp.h"

namespace {

// One worker per scratch directory and estimator child: a bound far above
// any machine's cores.
constexpr int MAXJOBS = 1024;

int cores()
{
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return CPU_COUNT(&set);
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n < MAXJOBS ? n : MAXJOBS) : 1;
}

int jobsvalue(const char *text)
{
  char *end = nullptr;
  errno = 0;
  long n = strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || n < 0 || n > MAXJOBS)
    hfpfail("hfp: --jobs takes a number of workers from 0 (every core) to %d, not \"%s\"\n", MAXJOBS, text);
  return n == 0 ? cores() : static_cast<int>(n);
}

} // namespace

int parseoptions(int argc, char **argv, options_t &o)
{
  int i = 1;
  while (i < argc && argv[i][0] == '-' && argv[i][1] != '\0') {
    const char *a = argv[i];
    if (strcmp(a, "--") == 0)
      return i + 1;
    if (strcmp(a, "--in-process") == 0) {
      o.inprocess = true;
    } else if (strcmp(a, "--jobs") == 0 || strcmp(a, "-j") == 0) {
      if (i + 1 >= argc)
        hfpfail("hfp: %s needs a number of workers\n", a);
      o.jobs = jobsvalue(argv[++i]);
    } else if (strncmp(a, "--jobs=", 7) == 0) {
      o.jobs = jobsvalue(a + 7);
    } else if (strncmp(a, "-j", 2) == 0) {
      o.jobs = jobsvalue(a + 2);
    } else {
      hfpfail("hfp: unknown option %s (options: --jobs N, --in-process; see hfp --help)\n", a);
    }
    i++;
  }
  return i;
}
