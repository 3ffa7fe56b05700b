// The permutation driver's run: start-up, reading the parameter and data
// files, the observed and permuted passes, clean-up and the report.

#include <cctype>
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

// Observed statistics and their counts of permuted values at least as large.
float x2obs, x2obs1, x2obs2, x2obs12;
int count0, count1, count12;
int df, df1, df2, df12;

// Estimator runs of all passes, and those ended by the EM's step cap.
long runs, cappedruns;

// Case-control mode: the labels are permuted after every pass, the last
// one included: for j from the last entry down to 1, entries rand() % j
// and j exchange places, and the first `cases` entries become the cases.
void ccdraw(int)
{
  for (int j = sample_size - 1; j >= 1; j--) {
    int g = rand() % j;
    ind_t = individuals[g];
    individuals[g] = individuals[j];
    individuals[j] = ind_t;
  }
  for (int i = 0; i < sample_size; i++)
    individuals[i].label = i < cases ? 1 : 0;
}

void ccfold(int pass, const passresult_t &r)
{
  ip = pass;
  runs += r.runs;
  cappedruns += r.capped;
  if (hapwise)
    foldcasecontrol(r.cases, r.controls, pass);
  if (pass == 0) {
    x2obs = r.x2;
  } else {
    if (r.x2 >= x2obs)
      count0++;
    printf("Permutation: %d/%d, Chi-square=%f\r", pass, npermute, r.x2);
  }
}

// perm and work serve shuffle; first and second hold the allele columns of
// the locus being permuted.
int *perm, *work, *first, *second;

// Block mode: the data are not permuted after the observed pass, so pass 1
// evaluates the data as read; after every later pass each Block 1 locus
// gets its own permutation among the individuals typed there.
void blockdraw(int pass)
{
  if (pass == 0)
    return;
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

// Block 2's log-likelihood, computed in the observed pass only.
float ll2obs;

void blockfold(int pass, const passresult_t &r)
{
  ip = pass;
  runs += r.runs;
  cappedruns += r.capped;
  bool block1 = selectp >= 0, block2 = selectn >= 0;
  if (hapwise)
    foldpooled(r.pooled, pass);
  if (pass == 0)
    ll2obs = r.ll2;
  float chi12 = block1 && block2 ? 2 * ((r.ll0 - r.ll1) - ll2obs) : 0;
  if (pass == 0) {
    x2obs = r.chi0;
    x2obs1 = r.chi1;
    x2obs2 = r.chi2;
    x2obs12 = chi12;
  } else {
    if (r.chi0 >= x2obs)
      count0++;
    if (block1 && r.chi1 >= x2obs1)
      count1++;
    if (block1 && block2 && chi12 >= x2obs12)
      count12++;
  }
  printf("permutation: %d/%d, Chi-square=%f\r", pass, npermute, r.chi0);
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
  fprintf(out, "%s\n", when); // its own line end, then an empty line
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

int seedvalue(const char *text)
{
  // The integer reading of atoi, without its undefined overflow: strtol's
  // value cut to int as glibc's atoi cuts it.
  char *end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text)
    hs_fatal(1, "hfp: the seed \"%s\" is not a number; give an integer for the pseudo-random generator\n", text);
  while (isspace(static_cast<unsigned char>(*end)))
    end++;
  if (*end != '\0') {
    fflush(stdout);
    fprintf(stderr, "Warning: the seed \"%s\" has text after its number; it is read as %d\n", text,
            static_cast<int>(value));
  }
  return static_cast<int>(value);
}

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

int hfprun(int argc, char **argv)
{
  // The calendar text ends in its own line end; written with "%s\n", an
  // empty line follows the date in the banner and in the report.
  time_t now = time(nullptr);
  const char *calendar = ctime(&now);
  std::string when = calendar ? calendar : "(no calendar time)\n";
  printf("\nHAPLOSIFT/PERMUTE, %.2f Quillon 05/03\n", VERSION);
  printf("%s\n", when.c_str());
  printf("Maximum number of loci = %d\n", TX_MAXLOCI);
  printf("Maximum number of alleles = %d\n\n", TX_MAXALLELES);
  options_t opt;
  int at = parseoptions(argc, argv, opt);
  int npos = argc - at;
  char **pos = argv + at;
  if (npos < 2)
    hs_fatal(1,
             "Usage: %s parfile datfile [<outfile> [seed]]\n\n"
             "where:\n\n"
             "parfile and datfile are TRELIX parameter and data files\n"
             "outfile is output file, omitted when using computer screen\n"
             "seed is an integer for pseudorandom number generator\n",
             argv[0]);
  const char *parfile = pos[0], *datfile = pos[1];
  const char *outfile = npos > 2 ? pos[2] : nullptr;
  if (npos > 3)
    seed = seedvalue(pos[3]);
  srand(static_cast<unsigned>(seed));
  inprocess = opt.inprocess;
  if (!inprocess)
    findestimator();

  getloci(parfile);
  if (npermute < 0)
    hs_fatal(1, "%s: the number of permutations is %d; it must be 0 or more\n", parfile, npermute);
  printf("\n");
  noid_new(datfile);
  if (sample_size == 0)
    hs_fatal(1, "%s: no individual is typed at a selected locus; there is nothing to test\n", datfile);
  if (cc && (cases == 0 || cases == sample_size))
    hs_fatal(1, "%s: the %d individuals kept are all %s; a case-control test needs both\n", datfile,
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
  perm = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for shuffle arrays"));
  work = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for shuffle arrays"));
  int nsel = selected + 1;
  first = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for alleles"));
  second = static_cast<int *>(allocate(sizeof(int) * sample_size, "error allocating memory for alleles"));
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

  // More workers than passes would have nothing to do.
  int workers = opt.jobs < npermute + 1 ? opt.jobs : npermute + 1;
  catchsignals();
  setrunphase(true);
  makeworkdirs(workers, opt.jobs > 1);
  if (inprocess)
    initinprocess(workers);
  if (cc)
    runpasses(workers, ccdraw, ccfold);
  else
    runpasses(workers, blockdraw, blockfold);
  if (inprocess)
    freeinprocess();

  free(perm);
  free(work);
  free(first);
  free(second);
  free(individuals);
  individuals = nullptr;
  removetemps();
  setrunphase(false);
  if (interruption())
    reraise(interruption());

  FILE *out = stdout;
  if (outfile != nullptr) {
    out = fopen(outfile, "w");
    if (out == nullptr) {
      fprintf(stderr, "\nI can't open file %s for output", outfile);
      fprintf(stderr, "\nSo I will write to the screen\n");
      out = stdout;
    }
  }
  report(out, when.c_str(), parfile, datfile);
  bool failed = ferror(out) != 0;
  if (out != stdout)
    failed = fclose(out) != 0 || failed;
  else
    failed = fflush(stdout) != 0 || failed;
  if (failed)
    hs_fatal(1, "Error writing the report%s%s\n", outfile ? " to " : "", outfile ? outfile : "");
  if (cappedruns > 0)
    fprintf(stderr, "Warning: in %ld of the %ld estimator runs the EM stopped at its cap of %d iterations, "
                    "still gaining more than 0.01 in log-likelihood\n",
            cappedruns, runs, EM_STEP_CAP);
  free(nalleles);
  free(hap);
  return 0;
}
