#include <cstdio>

#include "infoflags.h"
#include "hfscan.h"
#include "scan.h"

namespace {

void help()
{
  hfscan_help(stdout);
}

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, "hfscan", HS_VERSION, help);
  if (status >= 0)
    return status;
  return hfscanrun(argc, argv);
}
