// The estimator in process: placeholder until the estimator library lands.
#include "hfp.h"

bool inprocess = false;

void initinprocess(int)
{
  hfpfail("hfp: --in-process is not available in this build\n");
}

void freeinprocess() {}

runread_t estimateinprocess(int, const indiv_t *, int, int, const char *, bool, hapreport_t *)
{
  hfpfail("hfp: --in-process is not available in this build\n");
}
