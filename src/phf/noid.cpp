#include "fatal.h"
#include "phf.h"

int noid(const char *path, FILE *out)
{
  int skipped;
  readrecs(path, skipped);
  // An output without a single genotype record is no input for hf: refuse
  // it rather than report success over an empty file.
  if (sample_size + skipped == 0)
    hs_fatal(1, "%s holds no data record (an identifier, a label and the genotypes of %d loci); "
                "there is nothing to prepare\n", path, nloci);
  if (sample_size == 0)
    hs_fatal(1, "%s: none of its %d records is typed at a selected locus; there is nothing to "
                "prepare\n", path, skipped);
  printf("There are %d cases out of %d individuals\n", cases, sample_size);
  if (skipped)
    printf("%d records with no information have been left out \n", skipped);
  // readrecs has sorted the list already; a second sort would change the
  // order of equal records.
  int ngroups = getsize(out);
  printf("There are %.0lf observed multilocus genotypes\n", static_cast<double>(ngroups));
  return 0;
}
