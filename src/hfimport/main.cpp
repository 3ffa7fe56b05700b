#include <cstdio>
#include <cstring>

#include "genotypes.h"
#include "hfimport.h"

int main(int argc, char **argv)
{
  if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
    hfimport_help(stdout);
    return fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
    printf("hfimport (HAPLOSIFT) %s\n", HS_VERSION);
    return fflush(stdout) == 0 ? 0 : 1;
  }
  return hfimportrun(argc, argv);
}
