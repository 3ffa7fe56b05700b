#include "phf.h"

int noid(const char *path, FILE *out)
{
  int skipped;
  readrecs(path, skipped);
  printf("There are %d cases out of %d individuals\n", cases, sample_size);
  if (skipped)
    printf("%d records with no information have been left out \n", skipped);
  // readrecs has sorted the list already; a second sort would change the
  // order of equal records.
  int ngroups = getsize(out);
  printf("There are %.0lf observed multilocus genotypes\n", static_cast<double>(ngroups));
  return 0;
}
