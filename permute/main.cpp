#include <cstdio>

#include "hfp.h"
#include "hs_limits.h"
#include "infoflags.h"

#ifndef HS_VERSION
#define HS_VERSION "unknown"
#endif

namespace {

void help()
{
  printf("Usage: hfp parfile datfile [outfile [seed]]\n\n"
         "Permutation p values for case-control association, or for disequilibrium\n"
         "within and between two blocks of loci, from TRELIX parameter and data files.\n"
         "Runs the estimator hf (as hf.sun, found beside hfp) on the observed data and on\n"
         "every permuted data set.\n\n"
         "  parfile   TRELIX parameter file: loci, case-control flag, permutation flag and\n"
         "            number of permutations; allele counts; input and listing flags;\n"
         "            selection flags; Block 1 flags; optional disease model\n"
         "  datfile   TRELIX data file: identifier, label (1 case), genotypes\n"
         "  outfile   the report (default: the screen)\n"
         "  seed      seed of the pseudo-random generator (default 3000)\n\n");
  printf("Limits: %d loci, %d alleles per locus.\n", TX_MAXLOCI, TX_MAXALLELES);
  printf("Uses temp.hf, temp.hfo, temp1.hfo, temp2.hfo and hf.tmp in the working\n"
         "directory: run one hfp per directory at a time.\n"
         "Exit status: 0 after a complete run; 1 on bad input, a missing or failing\n"
         "estimator, or an unwritable report; 255 when memory runs out.\n"
         "See man hfp.\n");
}

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, "hfp", HS_VERSION, help);
  if (status >= 0)
    return status;
  return hfprun(argc, argv);
}
