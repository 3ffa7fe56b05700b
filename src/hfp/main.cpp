#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "hfp.h"
#include "hs_limits.h"
#include "infoflags.h"

#ifndef HS_VERSION
#define HS_VERSION "unknown"
#endif

namespace {

void help()
{
  printf("Usage: hfp [options] parfile datfile [outfile [seed]]\n\n"
         "Permutation p values for case-control association, or for disequilibrium\n"
         "within and between two blocks of loci, from TRELIX parameter and data files.\n"
         "Runs the estimator hf (as hf.sun, found beside hfp, else on the search path)\n"
         "on the observed data and on every permuted data set.\n\n"
         "  parfile   TRELIX parameter file: loci, case-control flag, permutation flag and\n"
         "            number of permutations; allele counts; input and listing flags;\n"
         "            selection flags; Block 1 flags; optional disease model\n"
         "  datfile   TRELIX data file: identifier, label (1 case), genotypes\n"
         "  outfile   the report (default: the screen)\n"
         "  seed      seed of the pseudo-random generator (default %d)\n\n"
         "Options (before parfile; -- ends them):\n"
         "  -j N, --jobs N  run passes on N workers at once (0: one per core; default 1).\n"
         "                  The report is the same for every N.\n"
         "  --in-process    run the estimator inside hfp, without programs or files;\n"
         "                  the report is the same. Combines with --jobs (threads).\n\n",
         HS_DEFAULT_SEED);
  printf("Limits: %d loci, %d alleles per locus.\n", TX_MAXLOCI, TX_MAXALLELES);
  printf("One worker uses temp.hf, temp.hfo, temp1.hfo, temp2.hfo and hf.tmp in the\n"
         "working directory: run one hfp per directory at a time. With --jobs N above 1\n"
         "each worker uses the same names in its own directory hfp-jobK.XXXXXX there.\n"
         "All are removed at the end, on failure and on SIGINT, SIGTERM or SIGHUP.\n"
         "When the EM of some estimator runs ended at its %d-iteration cap, one\n"
         "\"Warning: \" line on standard error says in how many.\n"
         "Exit status: 0 after a complete run, also when outfile cannot be opened (the\n"
         "report then goes to the screen); 1 on bad input, options or seed, a missing or\n"
         "failing estimator, a report that fails while being written, or no memory for\n"
         "the individuals; 255 when memory for the haplotype tables runs out.\n"
         "See man hfp.\n",
         EM_STEP_CAP);
}

// The run whose signal state the handler updates.
hfp_t *running = nullptr;

// SIGINT, SIGTERM and SIGHUP: while temporary files may exist the handler
// stops the estimator runs and leaves the clean-up to the run; otherwise
// the signal takes its default effect at once.
void onsignal(int sig)
{
  if (running != nullptr && hfp_onsignal(running->signals, sig))
    return;
  signal(sig, SIG_DFL);
  raise(sig);
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

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, "hfp", HS_VERSION, help);
  if (status >= 0)
    return status;
  static hfp_t run;
  running = &run;
  catchsignals();
  status = hfprun(run, argc, argv);
  fflush(stdout);
  if (run.signal != 0) {
    // The run was interrupted and has cleaned up: the signal's own end.
    fputs(run.after_message.c_str(), stderr);
    signal(run.signal, SIG_DFL);
    raise(run.signal);
    _exit(128 + run.signal);
  }
  fputs(run.message.c_str(), stderr);
  fputs(run.after_message.c_str(), stderr);
  return status;
}
