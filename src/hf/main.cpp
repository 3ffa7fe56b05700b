// hf, hfx and hf.sun: the estimator's program over its library. The build
// sets HF_XDATA (0 autosomal, 1 X-chromosome data); this file alone sees it.

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "hflib.h"
#include "hs_limits.h"
#include "infoflags.h"

#ifndef HF_XDATA
#error "HF_XDATA must be set by the build: 0 for hf, 1 for hfx"
#endif
#ifndef HS_VERSION
#define HS_VERSION "unknown"
#endif

namespace {

const int xdata = HF_XDATA;

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
  printf("The EM stops when a step gains no more than 0.01 in log-likelihood, or\n"
         "after its 50th step; a warning on standard error tells when the cap ended it.\n");
  printf("Limits: %d loci, %d alleles per locus.\n", HF_MAXLOCI, HF_MAXALLELES);
  printf("Exit status: 0 after a complete run; 1 when the threshold is not a number,\n"
         "the input cannot be opened or holds bad data, or the report cannot be written;\n"
         "255 when memory runs out. An input that cannot be opened leaves outfile as it was.\n");
  printf("See man %s.\n", name);
}

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
  printf("[threshold] is cutoff value for posterior probability (%.6f)\n", 0.001);
}

// The estimator's message on standard error, after what the screen holds.
int say(const hfstate_t *s, int code)
{
  fflush(stdout);
  fputs(hf_message(s), stderr);
  return code == HF_ENOMEM ? 255 : 1;
}

// The threshold argument as the standard text-to-double conversion reads
// it. Text with no number at its start is a typing error, refused before
// any file is touched; trailing is what follows the number, blanks aside.
bool threshold(const char *text, double *value, bool *trailing)
{
  char *end = nullptr;
  *value = strtod(text, &end);
  if (end == text)
    return false;
  while (isspace(static_cast<unsigned char>(*end)))
    end++;
  *trailing = *end != '\0';
  return true;
}

// Whether the report file could be opened for writing, found without
// creating or truncating it: an existing file opens for writing as it is,
// a new one needs a directory that takes it.
bool couldwrite(const char *path)
{
  int fd = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  if (errno != ENOENT)
    return false;
  std::string dir = path;
  size_t slash = dir.find_last_of('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
  return access(dir.c_str(), W_OK | X_OK) == 0;
}

// Whether path names the file open as in (the same device and inode).
bool sameinput(FILE *in, const char *path)
{
  struct stat a, b;
  return fstat(fileno(in), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// One estimation on the open input file into the report fo.
int estimate(hfstate_t *s, FILE *in, const char *name, FILE *fo)
{
  int code = hf_read(s, in, name);
  fclose(in);
  for (const std::string &w : hf_warnings(s)) {
    fflush(stdout);
    fputs(w.c_str(), stderr);
  }
  if (code != HF_OK)
    return say(s, code);
  code = hf_estimate(s);
  if (code != HF_OK)
    return say(s, code);
  const hf_result_t *r = hf_result(s);
  if (r->capped) {
    fflush(stdout);
    fprintf(stderr, "Warning: %s: the EM stopped at its cap of %d steps, still gaining %g in log-likelihood; "
                    "the estimates may not have converged\n",
            name, r->iterations, r->last_gain);
  }
  code = hf_report(s, HF_REPORT_ALL, fo);
  if (code == HF_ENOMEM)
    return say(s, code);
  return 0;
}

} // namespace

int main(int argc, char **argv)
{
  int status = hs_infoflags(argc, argv, xdata ? "hfx" : "hf", HS_VERSION, help);
  if (status >= 0)
    return status;
  banner();
  std::unique_ptr<hfstate_t, void (*)(hfstate_t *)> s(hf_new(xdata), hf_free);
  if (!s) {
    fflush(stdout);
    fputs("Sorry, but I cannot allocate memory\n", stderr);
    return 255;
  }
  FILE *fo = stdout;
  if (argc < 2) {
    usage(argv[0]);
    return fflush(stdout) == 0 ? 0 : 1;
  }
  double cutoff = 0;
  bool trailing = false;
  if (argc > 3 && !threshold(argv[3], &cutoff, &trailing)) {
    fflush(stdout);
    fprintf(stderr, "The threshold \"%s\" is not a number; give the smallest posterior probability "
                    "to list, such as 0.001\n", argv[3]);
    return 1;
  }
  // The input is opened before the report file, so that an input that
  // cannot be read leaves an existing report as it was and creates none.
  FILE *in = hf_open_input(s.get(), argv[1]);
  if (in == nullptr) {
    if (argc > 2 && !couldwrite(argv[2])) {
      fprintf(stderr, "I can not open output file %s,\n", argv[2]);
      fprintf(stderr, "so I will write to the screen\n");
    }
    return say(s.get(), HF_EIO);
  }
  const char *outname = nullptr;
  if (argc > 2) {
    // Opening the input itself for the report would empty it before it is
    // read: such an output is one that cannot be used.
    bool input_itself = sameinput(in, argv[2]);
    if (input_itself)
      fprintf(stderr, "%s is the input file; the report would overwrite it\n", argv[2]);
    FILE *out = input_itself ? nullptr : fopen(argv[2], "w");
    if (out == nullptr) {
      fprintf(stderr, "I can not open output file %s,\n", argv[2]);
      fprintf(stderr, "so I will write to the screen\n");
    } else {
      fo = out;
      outname = argv[2];
      fprintf(fo, "The input/output files are: %s/%s\n\n", argv[1], argv[2]);
      if (argc > 3) {
        if (trailing) {
          fflush(stdout);
          fprintf(stderr, "Warning: the threshold \"%s\" has text after its number; it is read as %g\n",
                  argv[3], cutoff);
        }
        hf_set_cutoff(s.get(), cutoff);
      }
    }
  }
  status = estimate(s.get(), in, argv[1], fo);
  bool failed = ferror(fo) != 0;
  if (fo == stdout)
    failed = fflush(stdout) != 0 || failed;
  else
    failed = fclose(fo) != 0 || failed;
  if (failed && status != 255) {
    fprintf(stderr, "Error writing the report to %s\n", outname ? outname : "standard output");
    return 1;
  }
  return status;
}
