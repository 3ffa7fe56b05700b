// The run of phf: banner, command line, output file, parameter file, data
// file and the collapsed records.

#include <cerrno>
#include <cstring>
#include <ctime>

#include "fatal.h"
#include "phf.h"

int phfrun(int argc, char **argv)
{
  printf("Data preparation for HAPLOSIFT %.1f Quillon 9-7-2002\n", 1.0);
  printf("(Collapse over genotypes)\n\n");
  time_t now = time(nullptr);
  printf("%s\n", ctime(&now));
  printf("Maximum number of loci = %d\n", TX_MAXLOCI);
  printf("Maximum number of alleles = %d\n", TX_MAXALLELES);

  if (argc < 4)
    hs_fatal(1,
             "\nUsage: %s parfile datfile outfile\n"
             "\nwhere parfile/datfile are TRELIX parameter/data files\n"
             "\noutfile is the target file with condensed information\n",
             argv[0]);

  const char *outname = argv[3];
  FILE *out = fopen(outname, "w");
  if (!out)
    hs_fatal(1, "I can't open file %s for output...exit\n", outname);

  getloci(argv[1]);
  for (int j = 0; j <= selected; j++)
    fprintf(out, "%2d ", alleles[selidx[j]]);
  fprintf(out, "\n");

  noid(argv[2], out);

  // A full disk or a failing device shows only when the buffered records
  // reach the file.
  bool failed = ferror(out) != 0;
  int err = errno;
  if (fclose(out) != 0) {
    failed = true;
    err = errno;
  }
  if (failed)
    hs_fatal(1, "Error writing %s: %s\n", outname, strerror(err));
  return 0;
}
