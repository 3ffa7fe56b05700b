// The permutation driver's run: start-up, reading the parameter and data
// files, the observed and permuted passes, clean-up and the report.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

#include "fatal.h"
#include "hfp.h"

int seed = 3000;
int hapwise = 1;
const char *hfascmd = "hf.sun temp.hf temp1.hfo>hf.tmp";
const char *hfoncmd = "hf.sun temp.hf temp2.hfo>hf.tmp";
const char *hfomcmd = "hf.sun temp.hf temp.hfo>hf.tmp";
int ip = 0;
indiv_t *individuals;
indiv_t ind_t;
int *nalleles;
int *hap;
double epsh = 1e-6;

namespace {

const double VERSION = 1.2;

void *allocate(size_t size, const char *what)
{
  void *block = malloc(size ? size : 1);
  if (block == nullptr)
    hs_fatal_perror(1, what);
  return block;
}

// The directory of this program goes first on the search path, so that the
// shell finds the estimator installed beside it under the name hf.sun.
void findestimator()
{
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0)
    return;
  self[n] = '\0';
  char *slash = strrchr(self, '/');
  if (slash == nullptr)
    return;
  *slash = '\0';
  const char *path = getenv("PATH");
  std::string search = std::string(self) + ":" + (path ? path : "/usr/bin:/bin");
  setenv("PATH", search.c_str(), 1);
}

// Observed statistics and their counts of permuted values at least as large.
float x2obs, x2obs1, x2obs2, x2obs12;
int count0, count1, count12;
int df, df1, df2, df12;

void casecontrolpasses()
{
  for (ip = 0; ip <= npermute; ip++) {
    float x2 = getx2het();
    for (int j = sample_size - 1; j >= 1; j--) {
      int g = rand() % j;
      ind_t = individuals[g];
      individuals[g] = individuals[j];
      individuals[j] = ind_t;
    }
    for (int i = 0; i < sample_size; i++)
      individuals[i].label = i < cases ? 1 : 0;
    if (ip == 0) {
      x2obs = x2;
    } else {
      if (x2 >= x2obs)
        count0++;
      printf("Permutation: %d/%d, Chi-square=%f\r", ip, npermute, x2);
    }
  }
}

// perm and work serve shuffle; first and second hold the allele columns of
// the locus being permuted.
void blockpasses(int *perm, int *work, int *first, int *second)
{
  bool block1 = selectp >= 0, block2 = selectn >= 0;
  float chi1 = 0, chi2 = 0, chi12 = 0, ll0 = 0, ll1 = 0, ll2 = 0;
  for (ip = 0; ip <= npermute; ip++) {
    float chi0 = getx2block(0, &ll0);
    if (block1)
      chi1 = getx2block(1, &ll1);
    if (ip == 0 && block2)
      chi2 = getx2block(2, &ll2);
    if (block1 && block2)
      chi12 = 2 * ((ll0 - ll1) - ll2);
    if (ip == 0) {
      x2obs = chi0;
      x2obs1 = chi1;
      x2obs2 = chi2;
      x2obs12 = chi12;
    } else {
      if (chi0 >= x2obs)
        count0++;
      if (block1 && chi1 >= x2obs1)
        count1++;
      if (block1 && block2 && chi12 >= x2obs12)
        count12++;
      for (int l = 0; l < nloci; l++) {
        if (!sel[l] || !selp[l])
          continue;
        shuffle(perm, work, sample_size, l);
        for (int k = 0; k < sample_size; k++) {
          first[k] = individuals[k].pair[l][0];
          second[k] = individuals[k].pair[l][1];
        }
        for (int k = 0; k < sample_size; k++) {
          individuals[k].pair[l][0] = first[perm[k]];
          individuals[k].pair[l][1] = second[perm[k]];
        }
      }
    }
    printf("permutation: %d/%d, Chi-square=%f\r", ip, npermute, chi0);
  }
}

void pooledtable(FILE *out)
{
  fprintf(out, "%d,%d individuals with Full/Partial genotype\n", fobs0, pobs0);
  fprintf(out, "%d nonzero haplotypes\n\n", nhaps0);
  fprintf(out, "      h0       h1     FT       p   Emp. p     haplotypes ID\n\n");
  for (int i = 0; i < nhaps0; i++) {
    ftp[i] = ftp[i] / npermute;
    fprintf(out, "%f %f %6.2f", h0[i], h1[i], ftobs[i]);
    fprintf(out, "%8.5f %8.5f ", probnorm(fabs(ftobs[i])), ftp[i]);
    revhapid(hidobs[i], hap);
    for (int l = 0; l <= selected; l++)
      fprintf(out, "%3d", hap[l]);
    fprintf(out, " %.0f\n", hidobs[i]);
  }
  fprintf(out, "\nh0 = haplotype frequency assuming linkage equilibrium\n");
  fprintf(out, "h1 = haplotype frequency assuming linkage disequilibrium\n");
  fprintf(out, "ID = haplotype identifier\n");
}

void casecontroltable(FILE *out)
{
  fprintf(out, "%d,%d cases with Full/Partial genotype\n", fobsca0, pobsca0);
  fprintf(out, "%d nonzero haplotypes\n\n", nhapcas0);
  fprintf(out, "%d,%d controls with Full/Partial genotype\n", fobsco0, pobsco0);
  fprintf(out, "%d nonzero haplotypes\n\n", nhapcon0);
  fprintf(out, "  Case h Contr. h       z        p   Emp. p    haplotypes  ID\n\n");
  mergerow_t *rows = static_cast<mergerow_t *>(xmalloc(sizeof(mergerow_t) * static_cast<size_t>(nhaps0 > 0 ? nhaps0 : 1)));
  mergerows(h1caobs, hidcaobs, h1coobs, hidcoobs, nhaps0, rows);
  for (int i = 0; i < nhaps0; i++) {
    if (!rows[i].scored)
      continue;
    fprintf(out, "%f %f %7.2lf", rows[i].hca, rows[i].hco, ftccobs[i]);
    fprintf(out, " %8.5lf", probchi(ftccobs[i] * ftccobs[i], 1));
    fprintf(out, " %8.5lf ", ftpcc[i] / npermute);
    revhapid(rows[i].id, hap);
    for (int l = 0; l <= selected; l++)
      fprintf(out, "%3d", hap[l]);
    fprintf(out, " %d\n", static_cast<int>(rows[i].id));
  }
  free(rows);
  fprintf(out, "\n  case h = haplotype frequency estimates from cases\n");
  fprintf(out, "contr. h = haplotype frequency estimates from controls\n");
  fprintf(out, "      ID = haplotype identifier\n");
}

void report(FILE *out, const char *when, const char *parfile, const char *datfile)
{
  fprintf(out, "\nHAPLOSIFT/PERMUTE, %.2f Quillon 03/03\n", VERSION);
  fprintf(out, "%s\n", when);
  fprintf(out, "Parameter file=%s, data file=%s\n\n\n", parfile, datfile);
  fprintf(out, "*** Global test of association ***\n\n");
  fprintf(out, "Observed Chi-square=%.2f, df=%d\n\n", x2obs, df);
  if (npermute > 1) {
    pvalue_t v = empirical(count0);
    fprintf(out, "p value=%f, standard error = %f\n\n", v.p, v.se);
    fprintf(out, "Random number seed   = %d\n", seed);
    fprintf(out, "Number of replicates = %d\n", npermute);
  }
  if (cc == 0 && selectp >= 0) {
    fprintf(out, "Observed Chi-square for blocks: \n");
    fprintf(out, "block   1=%.2f, df=%d\n", x2obs1, df1);
    if (selectn >= 0) {
      fprintf(out, "block   2=%.2f, df=%d\n", x2obs2, df2);
      fprintf(out, "block 1/2=%.2f, df=%d\n\n", x2obs12, df12);
    }
    if (npermute > 1) {
      fprintf(out, "p value and standard error: \n");
      pvalue_t v = empirical(count1);
      fprintf(out, "Block   1=%f, se=%f\n", v.p, v.se);
      fprintf(out, "Block 1 contains markers that are permuted\n\n");
      if (selectn >= 0) {
        v = empirical(count12);
        fprintf(out, "Block 1/2=%f, se=%f\n", v.p, v.se);
        fprintf(out, "Block 2 contains markers that are not permuted\n");
        fprintf(out, "Block 1/2 examines association between Blocks 1 & 2\n");
      }
    }
  }
  if (hapwise && npermute > 1) {
    fprintf(out, "\n\n*** Significance of individual haplotypes ***\n\n");
    if (cc == 0)
      pooledtable(out);
    else if (cc == 1)
      casecontroltable(out);
  }
}

} // namespace

pvalue_t empirical(int count)
{
  pvalue_t v;
  v.p = static_cast<float>(count) / npermute;
  v.se = static_cast<float>(sqrt((1 - v.p) * v.p / npermute));
  return v;
}

namespace {

bool inkind(int locus, int kind)
{
  return kind == 0 || (kind == 1) == (selp[locus] != 0);
}

// Possible haplotypes over the selected loci of a kind (0 all, 1 Block 1,
// 2 Block 2).
long long possible(int kind)
{
  long long product = 1;
  for (int k = 0; k <= selected; k++)
    if (inkind(selidx[k], kind))
      product *= alleles[selidx[k]];
  return product;
}

} // namespace

int dfree(int kind)
{
  int sum = 0;
  for (int k = 0; k <= selected; k++)
    if (inkind(selidx[k], kind))
      sum += alleles[selidx[k]] - 1;
  return static_cast<int>(possible(kind) - 1 - sum);
}

int dfree12()
{
  return static_cast<int>((possible(0) - 1) - (possible(1) - 1) - (possible(2) - 1));
}

void removetemps()
{
  remove("hf.tmp");
  remove("temp.hf");
  remove("temp.hfo");
  if (cc) {
    remove("temp1.hfo");
    remove("temp2.hfo");
  }
}

void hfpfail(const char *fmt, ...)
{
  fflush(stdout);
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  removetemps();
  exit(1);
}

void *xmalloc(size_t size)
{
  void *block = malloc(size ? size : 1);
  if (block == nullptr)
    hs_fatal(-1, "Sorry, but I cannot allocate memory\n");
  return block;
}

int hfprun(int argc, char **argv)
{
  // The calendar text ends in its own line end; written with "%s\n", an
  // empty line follows the date in the banner and in the report.
  time_t now = time(nullptr);
  const char *calendar = ctime(&now);
  std::string whenline = calendar ? calendar : "(no calendar time)\n";
  const char *when = whenline.c_str();
  printf("\nHAPLOSIFT/PERMUTE, %.2f Quillon 05/03\n", VERSION);
  printf("%s\n", when);
  printf("Maximum number of loci = %d\n", TX_MAXLOCI);
  printf("Maximum number of alleles = %d\n\n", TX_MAXALLELES);
  if (argc < 3)
    hs_fatal(1,
             "Usage: %s parfile datfile [<outfile> [seed]]\n\n"
             "where:\n\n"
             "parfile and datfile are TRELIX parameter and data files\n"
             "outfile is output file, omitted when using computer screen\n"
             "seed is an integer for pseudorandom number generator\n",
             argv[0]);
  if (argc > 4)
    seed = atoi(argv[4]);
  srand(static_cast<unsigned>(seed));
  findestimator();

  getloci(argv[1]);
  if (npermute < 0)
    hs_fatal(1, "%s: the number of permutations is %d; it must be 0 or more\n", argv[1], npermute);
  printf("\n");
  noid_new(argv[2]);
  if (sample_size == 0)
    hs_fatal(1, "%s: no individual is typed at a selected locus; there is nothing to test\n", argv[2]);
  if (cc && (cases == 0 || cases == sample_size))
    hs_fatal(1, "%s: the %d individuals kept are all %s; a case-control test needs both\n", argv[2],
             sample_size, cases == 0 ? "controls" : "cases");

  individuals = static_cast<indiv_t *>(allocate(sizeof(indiv_t) * sample_size, "error allocating memory for individuals"));
  int i = 0;
  for (rec_t *node = r; node != nullptr; node = node->next, i++) {
    individuals[i].seq = node->seq;
    individuals[i].label = node->label;
    for (int l = 0; l < nloci; l++) {
      individuals[i].pair[l][0] = node->pair[l][0];
      individuals[i].pair[l][1] = node->pair[l][1];
    }
  }
  int *perm = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for shuffle arrays"));
  int *work = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for shuffle arrays"));
  int nsel = selected + 1;
  int *first = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for alleles"));
  int *second = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for alleles"));
  nalleles = static_cast<int *>(allocate(sizeof(int) * (nsel > 0 ? nsel : 1), "error allocating memory for alleles"));
  hap = static_cast<int *>(allocate(sizeof(int) * (nsel > 0 ? nsel : 1), "error allocating memory for alleles"));

  df = dfree(0);
  df1 = dfree(1);
  df2 = dfree(2);
  df12 = dfree12();
  if (nsel > 0) {
    nalleles[selected] = 1;
    for (int k = selected - 1; k >= 0; k--)
      nalleles[k] = nalleles[k + 1] * alleles[selidx[k + 1]];
  }

  if (cc)
    casecontrolpasses();
  else
    blockpasses(perm, work, first, second);

  free(perm);
  free(work);
  free(first);
  free(second);
  free(individuals);
  individuals = nullptr;
  removetemps();

  FILE *out = stdout;
  if (argc > 3) {
    out = fopen(argv[3], "w");
    if (out == nullptr) {
      fprintf(stderr, "\nI can't open file %s for output", argv[3]);
      fprintf(stderr, "\nSo I will write to the screen\n");
      out = stdout;
    }
  }
  report(out, when, argv[1], argv[2]);
  bool failed = ferror(out) != 0;
  if (out != stdout)
    failed = fclose(out) != 0 || failed;
  else
    failed = fflush(stdout) != 0 || failed;
  if (failed)
    hs_fatal(1, "Error writing the report%s%s\n", argc > 3 ? " to " : "", argc > 3 ? argv[3] : "");
  free(nalleles);
  free(hap);
  return 0;
}
