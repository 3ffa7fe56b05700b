// The estimator's start-up, command line and run sequence.

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <ctime>
#include <new>
#include <vector>

#include "possible.h"

namespace {

void banner()
{
  printf("\nHAPLOSIFT, %s (%s) version %.2f \n\t\tQuillon 03/01--08/03\n\n", "missing-value handling",
         xdata ? "X chromosome data" : "autosome data", 2.1);
  time_t now = time(nullptr);
  printf("%s\n\n", ctime(&now));
  printf("max. loci=%d, max. alleles=%d\n\n", HF_MAXLOCI, HF_MAXALLELES);
}

void usage(const char *program)
{
  printf("Usage: %s <input file> [outfile] [threshold] [>screen file]\n\n", program);
  printf("<input file> contains the following information:\n\n");
  printf("line 1: <#alleles at locus 1> <#alleles at locus 2> ...\n");
  printf("line 2- genotype identifier, instances, marker phenotypes\n\n");
  printf("[threshold] is cutoff value for posterior probability (%.6f)\n", pl);
}

void freeh()
{
  free(c);
  free(hm);
  c = hm = nullptr;
}

} // namespace

void machineprecision()
{
  precis = 1.0;
  do {
    precis /= 2;
    tol = precis + 1;
  } while (tol > 1);
}

void inith(int n)
{
  size_t size = sizeof(double) * static_cast<size_t>(n > 0 ? n : 1);
  h = static_cast<double *>(xmalloc(size));
  h0 = static_cast<double *>(xmalloc(size));
  c = static_cast<double *>(xmalloc(size));
  hm = static_cast<double *>(xmalloc(size));
}

int hfmain(const char *name)
{
  FILE *f = fopen(name, "r");
  if (f == nullptr) {
    fflush(stdout);
    fprintf(stderr, "Sorry, is there file called %s ?\n", name);
    exit(1);
  }
  if (readheader(f, name) != 0) {
    fclose(f);
    return 1;
  }
  // The records are read straight into the table; a record line takes at
  // least two characters per locus and six more, which bounds their number.
  std::vector<geno_t> list;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && st.st_size > 0)
    list.reserve(std::min<size_t>(static_cast<size_t>(st.st_size) / (2 * nloci + 6) + 1, size_t(1) << 20));
  int status = readrecords(f, name, list);
  fclose(f);
  geno_t *table = nullptr;
  if (status == 0) {
    obscom = static_cast<int>(list.size());
    table = list.data();
    if (obscom == 0) {
      fprintf(stderr, "Empty list.\n");
      fprintf(stderr, "%s has no genotype record typed at any locus; there is nothing to estimate\n", name);
      status = 1;
    }
  }
  if (status == 0) {
    if (debug)
      listrecords(table);
    buildpossible(table);
    status = ehm(table);
  }
  freeh();
  if (status == 0) {
    sortedreport();
    ch(table);
    if (debug) {
      int counter = 0;
      fprintf(fo, "\nFrequencies of possible haplotypes\n\n");
      hptree(hrt, &counter);
      fprintf(fo, "\nPossible haplotypes excluding missing loci = %ld\n", static_cast<long>(counter));
    }
  }
  hrtree(hrt);
  hrt = nullptr;
  free(h0);
  free(h);
  h0 = h = nullptr;
  freepossible();
  return status;
}

int hfrun(int argc, char **argv)
{
  banner();
  machineprecision();
  fo = stdout;
  if (argc < 2) {
    usage(argv[0]);
    return fflush(stdout) == 0 ? 0 : 1;
  }
  const char *outname = nullptr;
  if (argc > 2) {
    FILE *out = fopen(argv[2], "w");
    if (out == nullptr) {
      fprintf(stderr, "I can not open output file %s,\n", argv[2]);
      fprintf(stderr, "so I will write to the screen\n");
    } else {
      fo = out;
      outname = argv[2];
      // The report runs to thousands of lines; fewer, larger writes.
      setvbuf(fo, nullptr, _IOFBF, size_t(1) << 16);
      fprintf(fo, "The input/output files are: %s/%s\n\n", argv[1], argv[2]);
      if (argc > 3) {
        pl = atof(argv[3]);
        // Text that is no number gives 0 and so the floor; so does "nan".
        if (!(pl >= precis))
          pl = precis;
      }
    }
  }
  // Tables grown in standard containers signal exhausted memory by an
  // exception; it ends the run like every other allocation failure.
  int status = 0;
  try {
    status = hfmain(argv[1]);
  } catch (const std::bad_alloc &) {
    nomemory();
  }
  bool failed = ferror(fo) != 0;
  if (fo == stdout)
    failed = fflush(stdout) != 0 || failed;
  else
    failed = fclose(fo) != 0 || failed;
  fo = nullptr;
  if (failed) {
    fprintf(stderr, "Error writing the report to %s\n", outname ? outname : "standard output");
    return 1;
  }
  return status;
}
