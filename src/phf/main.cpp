#include <cstdio>

#include "phf.h"
#include "hs_limits.h"
#include "infoflags.h"

#ifndef HS_VERSION
#define HS_VERSION "unknown"
#endif

namespace {

void help()
{
  printf("Usage: phf parfile datfile outfile\n\n"
         "Writes the selected loci of a TRELIX data set as input for the estimator hf,\n"
         "individuals with identical genotypes collapsed into one counted record.\n\n"
         "  parfile   TRELIX parameter file\n"
         "  datfile   TRELIX data file\n"
         "  outfile   the estimator input to write; with case-control data each record\n"
         "            also carries its numbers of cases and controls\n\n");
  printf("Limits: %d loci, %d alleles per locus.\n", TX_MAXLOCI, TX_MAXALLELES);
  printf("Exit status: 0 after a complete run; 1 on bad input or an unwritable output\n"
         "file.\n"
         "See man phf.\n");
}

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, "phf", HS_VERSION, help);
  if (status >= 0)
    return status;
  return phfrun(argc, argv);
}
