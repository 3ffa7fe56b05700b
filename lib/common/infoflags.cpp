#include "infoflags.h"

#include <cstdio>
#include <cstring>

int hs_infoflags(int argc, char **argv, const char *name, const char *version, void (*help)())
{
  if (argc < 2)
    return -1;
  if (strcmp(argv[1], "--help") == 0)
    help();
  else if (strcmp(argv[1], "--version") == 0)
    printf("%s (HAPLOSIFT) %s\n", name, version);
  else
    return -1;
  return fflush(stdout) == 0 ? 0 : 1;
}
