// phf: the run over the library, the only place that prints the messages
// of the readers and decides the exit status.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "hs_limits.h"
#include "infoflags.h"
#include "phf.h"

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

// A message on standard error after what the screen holds; the exit status
// of every failure.
int refuse(const char *message)
{
  fflush(stdout);
  fputs(message, stderr);
  return 1;
}

int run(int argc, char **argv)
{
  printf("Data preparation for HAPLOSIFT %.1f Quillon 9-7-2002\n", 1.0);
  printf("(Collapse over genotypes)\n\n");
  time_t now = time(nullptr);
  printf("%s\n", ctime(&now));
  printf("Maximum number of loci = %d\n", TX_MAXLOCI);
  printf("Maximum number of alleles = %d\n", TX_MAXALLELES);

  if (argc < 4) {
    fflush(stdout);
    fprintf(stderr,
            "\nUsage: %s parfile datfile outfile\n"
            "\nwhere parfile/datfile are TRELIX parameter/data files\n"
            "\noutfile is the target file with condensed information\n",
            argv[0]);
    return 1;
  }

  const char *outname = argv[3];
  FILE *out = fopen(outname, "w");
  if (!out) {
    fflush(stdout);
    fprintf(stderr, "I can't open file %s for output...exit\n", outname);
    return 1;
  }

  trelix_t tx;
  tx.listing = stdout;
  int code = tx_read_params(tx, argv[1]);
  for (const tx_warning_t &w : tx.warnings) {
    if (w.after_screen)
      fflush(stdout);
    fputs(w.text.c_str(), stderr);
  }
  if (code != TX_OK)
    return refuse(tx.message.c_str());
  tx_echo(tx, stdout);
  phf_header(tx, out);

  int skipped;
  if (phf_read(tx, argv[2], skipped) != TX_OK)
    return refuse(tx.message.c_str());
  printf("There are %d cases out of %d individuals\n", tx.cases, tx.sample_size);
  if (skipped)
    printf("%d records with no information have been left out \n", skipped);
  // The list is sorted already; a second sort would change the order of
  // equal records.
  int ngroups;
  if (phf_collapse(tx, out, ngroups) != TX_OK)
    return refuse(tx.message.c_str());
  printf("There are %.0lf observed multilocus genotypes\n", static_cast<double>(ngroups));

  // A full disk or a failing device shows only when the buffered records
  // reach the file.
  bool failed = ferror(out) != 0;
  int err = errno;
  if (fclose(out) != 0) {
    failed = true;
    err = errno;
  }
  if (failed) {
    fflush(stdout);
    fprintf(stderr, "Error writing %s: %s\n", outname, strerror(err));
    return 1;
  }
  return 0;
}

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, "phf", HS_VERSION, help);
  if (status >= 0)
    return status;
  return run(argc, argv);
}
