// Estimator runs: the input file temp.hf written from the current
// arrangement of individuals, the estimator started through the shell, and
// the statistic read back from its report.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>

#include "hfp.h"

namespace {

const char TEMPIN[] = "temp.hf";

// Which loci a run writes: kind 0 all selected, 1 Block 1, 2 Block 2.
bool written(int locus, int kind)
{
  if (!sel[locus])
    return false;
  if (kind == 0)
    return true;
  if (kind == 1)
    return selp[locus] != 0;
  return selp[locus] == 0;
}

// Writes temp.hf with the loci of kind and the individuals that pass the
// filter (-1 all, 1 cases, 0 controls).
void writetemp(int kind, int filter)
{
  FILE *f = fopen(TEMPIN, "w");
  if (f == nullptr)
    hfpfail("I can't open file %s for output...exit (%s)\n", TEMPIN, strerror(errno));
  for (int l = 0; l < nloci; l++)
    if (written(l, kind))
      fprintf(f, "%2d ", alleles[l]);
  fprintf(f, "\n");
  for (int i = 0; i < sample_size; i++) {
    const indiv_t &ind = individuals[i];
    if (filter == 1 && ind.label != 1)
      continue;
    if (filter == 0 && ind.label == 1)
      continue;
    fprintf(f, "%d 1", ind.seq);
    for (int l = 0; l < nloci; l++)
      if (written(l, kind))
        fprintf(f, " %d %d", ind.pair[l][0], ind.pair[l][1]);
    fprintf(f, "\n");
  }
  bool failed = ferror(f) != 0;
  if (fclose(f) != 0 || failed)
    hfpfail("Error writing %s: %s\n", TEMPIN, strerror(errno));
}

// Runs one estimator command line, whose report is the file report; a
// report left by an earlier run is removed first, so that it can never be
// taken for this run's.
void runestimator(const char *command, const char *report)
{
  remove(report);
  fflush(stdout);
  int status = system(command);
  if (status == -1)
    hfpfail("Cannot start the shell for \"%s\": %s\n", command, strerror(errno));
  if (WIFSIGNALED(status) || !WIFEXITED(status))
    hfpfail("The estimator run \"%s\" was stopped by a signal; no report %s\n", command, report);
  if (WEXITSTATUS(status) == 127)
    hfpfail("The estimator hf.sun cannot be found or started (\"%s\"); no report %s\n", command, report);
  if (WEXITSTATUS(status) != 0)
    hfpfail("The estimator run \"%s\" failed with status %d; its report %s is not usable\n", command,
            WEXITSTATUS(status), report);
}

} // namespace

float getx2het()
{
  writetemp(0, -1);
  runestimator(hfomcmd, "temp.hfo");
  float pooled = getln("temp.hfo", hfomcmd);
  writetemp(0, 1);
  runestimator(hfascmd, "temp1.hfo");
  float casesll = getln("temp1.hfo", hfascmd);
  writetemp(0, 0);
  runestimator(hfoncmd, "temp2.hfo");
  float controlsll = getln("temp2.hfo", hfoncmd);
  if (hapwise)
    gethappy(0, ip);
  return 2 * (casesll + controlsll - pooled);
}

float getx2block(int kind, float *out)
{
  writetemp(kind, -1);
  runestimator(hfomcmd, "temp.hfo");
  if (hapwise && kind == 0)
    gethappy(kind, ip);
  return getx2ln(out, hfomcmd);
}

int shuffle(int *perm, int *work, int n, int locus)
{
  for (int k = 0; k < n; k++) {
    work[k] = k;
    perm[k] = k;
  }
  int m = 0;
  for (int j = 0; j < n; j++)
    if (individuals[j].pair[locus][0] != 0 && individuals[j].pair[locus][1] != 0)
      work[m++] = j;
  while (m >= 2) {
    m--;
    int g = rand() % m;
    int t = work[g];
    work[g] = work[m];
    work[m] = t;
  }
  int next = 0;
  for (int k = 0; k < n; k++)
    if (individuals[k].pair[locus][0] != 0 && individuals[k].pair[locus][1] != 0)
      perm[k] = work[next++];
  return 0;
}
