#include <cstdio>

#include "infoflags.h"
#include "regress.h"

namespace {

void help()
{
  hfreg_help(stdout);
}

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, "hfreg", HS_VERSION, help);
  if (status >= 0)
    return status;
  return hfregrun(argc, argv);
}
