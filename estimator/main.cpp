#include <cstdio>

#include "hf.h"
#include "hs_limits.h"
#include "infoflags.h"

#ifndef HS_VERSION
#define HS_VERSION "unknown"
#endif

namespace {

// --help: the command line, the input file and the exit statuses in short;
// the manual page has the rest.
void help()
{
  const char *name = xdata ? "hfx" : "hf";
  printf("Usage: %s <input file> [outfile] [threshold]\n\n", name);
  printf("Estimates haplotype frequencies by haplotype counting (EM) from unphased\n"
         "multilocus genotypes%s, tests marker-marker disequilibrium by a\n"
         "likelihood-ratio chi-square and assigns haplotype pairs to every genotype.\n\n",
         xdata ? " of X-chromosome data (males carry one haplotype)" : "");
  printf("  <input file>  line 1: the number of alleles at each locus;\n"
         "                then per genotype: identifier, number of individuals,\n");
  if (xdata)
    printf("                sex value (1 female, genotypes a/b; 0 male, one allele a),\n");
  printf("                one genotype per locus (a/b%s); 0 marks a missing allele\n",
         xdata ? "" : " or a b");
  printf("  [outfile]     the report (default: the screen)\n"
         "  [threshold]   smallest posterior probability listed (default 0.001)\n\n");
  printf("Limits: %d loci, %d alleles per locus.\n", HF_MAXLOCI, HF_MAXALLELES);
  printf("Exit status: 0 after a complete run; 1 when the input cannot be opened or\n"
         "holds bad data, or the report cannot be written; 255 when memory runs out.\n");
  printf("See man %s.\n", name);
}

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, xdata ? "hfx" : "hf", HS_VERSION, help);
  if (status >= 0)
    return status;
  return hfrun(argc, argv);
}
