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

#include "hfp.h"
#include "txlib.h"

namespace {

const double VERSION = 1.2;

// Sizes v to n entries; exhausted memory fails the run as perror would
// name it (status 1).
template <class T> void allocate(std::vector<T> &v, size_t n, const char *what)
{
  try {
    v.assign(n, T());
  } catch (const std::bad_alloc &) {
    hfpfail("%s: %s\n", what, strerror(ENOMEM));
  }
}

// Case-control mode: the labels are permuted after every pass, the last
// one included: for j from the last entry down to 1, entries rand() % j
// and j exchange places, and the first `cases` entries become the cases.
void ccdraw(hfp_t &s, int)
{
  std::vector<indiv_t> &people = s.individuals;
  for (int j = s.sample_size - 1; j >= 1; j--) {
    int g = rand() % j;
    indiv_t t = people[g];
    people[g] = people[j];
    people[j] = t;
  }
  for (int i = 0; i < s.sample_size; i++)
    people[i].label = i < s.cases ? 1 : 0;
}

void ccfold(hfp_t &s, int pass, const passresult_t &r)
{
  s.runs += r.runs;
  s.cappedruns += r.capped;
  if (s.hapwise)
    foldcasecontrol(s, r.cases, r.controls, pass);
  if (pass == 0) {
    s.x2obs = r.x2;
  } else {
    if (r.x2 >= s.x2obs)
      s.count0++;
    printf("Permutation: %d/%d, Chi-square=%f\r", pass, s.npermute, r.x2);
  }
}

// Block mode: the data are not permuted after the observed pass, so pass 1
// evaluates the data as read; after every later pass each Block 1 locus
// gets its own permutation among the individuals typed there.
void blockdraw(hfp_t &s, int pass)
{
  if (pass == 0)
    return;
  std::vector<indiv_t> &people = s.individuals;
  for (int l = 0; l < s.nloci; l++) {
    if (!s.sel[l] || !s.selp[l])
      continue;
    shuffle(s, s.perm.data(), s.work.data(), s.sample_size, l);
    for (int k = 0; k < s.sample_size; k++) {
      s.first[k] = people[k].pair[l][0];
      s.second[k] = people[k].pair[l][1];
    }
    for (int k = 0; k < s.sample_size; k++) {
      people[k].pair[l][0] = s.first[s.perm[k]];
      people[k].pair[l][1] = s.second[s.perm[k]];
    }
  }
}

// Block 2's log-likelihood comes from the observed pass only.
void blockfold(hfp_t &s, int pass, const passresult_t &r)
{
  s.runs += r.runs;
  s.cappedruns += r.capped;
  bool block1 = s.selectp >= 0, block2 = s.selectn >= 0;
  if (s.hapwise)
    foldpooled(s, r.pooled, pass);
  if (pass == 0)
    s.ll2obs = r.ll2;
  float chi12 = block1 && block2 ? 2 * ((r.ll0 - r.ll1) - s.ll2obs) : 0;
  if (pass == 0) {
    s.x2obs = r.chi0;
    s.x2obs1 = r.chi1;
    s.x2obs2 = r.chi2;
    s.x2obs12 = chi12;
  } else {
    if (r.chi0 >= s.x2obs)
      s.count0++;
    if (block1 && r.chi1 >= s.x2obs1)
      s.count1++;
    if (block1 && block2 && chi12 >= s.x2obs12)
      s.count12++;
  }
  printf("permutation: %d/%d, Chi-square=%f\r", pass, s.npermute, r.chi0);
}

void pooledtable(hfp_t &s, FILE *out)
{
  fprintf(out, "%d,%d individuals with Full/Partial genotype\n", s.fobs0, s.pobs0);
  fprintf(out, "%d nonzero haplotypes\n\n", s.nhaps0);
  fprintf(out, "      h0       h1     FT       p   Emp. p     haplotypes ID\n\n");
  for (int i = 0; i < s.nhaps0; i++) {
    s.ftp[i] = s.ftp[i] / s.npermute;
    fprintf(out, "%f %f %6.2f", s.h0[i], s.h1[i], s.ftobs[i]);
    fprintf(out, "%8.5f %8.5f ", hs_normal_upper_as(fabs(s.ftobs[i])), s.ftp[i]);
    revhapid(s, s.hidobs[i], s.hap.data());
    for (int l = 0; l <= s.selected; l++)
      fprintf(out, "%3d", s.hap[l]);
    fprintf(out, " %.0f\n", s.hidobs[i]);
  }
  fprintf(out, "\nh0 = haplotype frequency assuming linkage equilibrium\n");
  fprintf(out, "h1 = haplotype frequency assuming linkage disequilibrium\n");
  fprintf(out, "ID = haplotype identifier\n");
}

void casecontroltable(hfp_t &s, FILE *out)
{
  fprintf(out, "%d,%d cases with Full/Partial genotype\n", s.fobsca0, s.pobsca0);
  fprintf(out, "%d nonzero haplotypes\n\n", s.nhapcas0);
  fprintf(out, "%d,%d controls with Full/Partial genotype\n", s.fobsco0, s.pobsco0);
  fprintf(out, "%d nonzero haplotypes\n\n", s.nhapcon0);
  fprintf(out, "  Case h Contr. h       z        p   Emp. p    haplotypes  ID\n\n");
  std::vector<mergerow_t> rows(static_cast<size_t>(s.nhaps0));
  mergerows(s.h1caobs.data(), s.hidcaobs.data(), s.h1coobs.data(), s.hidcoobs.data(), s.nhaps0, s.epsh,
            rows.data());
  for (int i = 0; i < s.nhaps0; i++) {
    if (!rows[i].scored)
      continue;
    fprintf(out, "%f %f %7.2lf", rows[i].hca, rows[i].hco, s.ftccobs[i]);
    fprintf(out, " %8.5lf", hs_chi2_upper_as(s.ftccobs[i] * s.ftccobs[i], 1));
    fprintf(out, " %8.5lf ", s.ftpcc[i] / s.npermute);
    revhapid(s, rows[i].id, s.hap.data());
    for (int l = 0; l <= s.selected; l++)
      fprintf(out, "%3d", s.hap[l]);
    fprintf(out, " %d\n", static_cast<int>(rows[i].id));
  }
  fprintf(out, "\n  case h = haplotype frequency estimates from cases\n");
  fprintf(out, "contr. h = haplotype frequency estimates from controls\n");
  fprintf(out, "      ID = haplotype identifier\n");
}

void report(hfp_t &s, FILE *out, const char *when, const char *parfile, const char *datfile)
{
  fprintf(out, "\nHAPLOSIFT/PERMUTE, %.2f Quillon 03/03\n", VERSION);
  fprintf(out, "%s\n", when); // its own line end, then an empty line
  fprintf(out, "Parameter file=%s, data file=%s\n\n\n", parfile, datfile);
  fprintf(out, "*** Global test of association ***\n\n");
  fprintf(out, "Observed Chi-square=%.2f, df=%d\n\n", s.x2obs, s.df);
  if (s.npermute > 1) {
    hs_fraction_t v = hs_fraction_p(s.count0, s.npermute);
    fprintf(out, "p value=%f, standard error = %f\n\n", v.p, v.se);
    fprintf(out, "Random number seed   = %d\n", s.seed);
    fprintf(out, "Number of replicates = %d\n", s.npermute);
  }
  if (s.cc == 0 && s.selectp >= 0) {
    fprintf(out, "Observed Chi-square for blocks: \n");
    fprintf(out, "block   1=%.2f, df=%d\n", s.x2obs1, s.df1);
    if (s.selectn >= 0) {
      fprintf(out, "block   2=%.2f, df=%d\n", s.x2obs2, s.df2);
      fprintf(out, "block 1/2=%.2f, df=%d\n\n", s.x2obs12, s.df12);
    }
    if (s.npermute > 1) {
      fprintf(out, "p value and standard error: \n");
      hs_fraction_t v = hs_fraction_p(s.count1, s.npermute);
      fprintf(out, "Block   1=%f, se=%f\n", v.p, v.se);
      fprintf(out, "Block 1 contains markers that are permuted\n\n");
      if (s.selectn >= 0) {
        v = hs_fraction_p(s.count12, s.npermute);
        fprintf(out, "Block 1/2=%f, se=%f\n", v.p, v.se);
        fprintf(out, "Block 2 contains markers that are not permuted\n");
        fprintf(out, "Block 1/2 examines association between Blocks 1 & 2\n");
      }
    }
  }
  if (s.hapwise && s.npermute > 1) {
    fprintf(out, "\n\n*** Significance of individual haplotypes ***\n\n");
    if (s.cc == 0)
      pooledtable(s, out);
    else if (s.cc == 1)
      casecontroltable(s, out);
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
    hfpfail("hfp: the seed \"%s\" is not a number; give an integer for the pseudo-random generator\n", text);
  while (isspace(static_cast<unsigned char>(*end)))
    end++;
  if (*end != '\0') {
    fflush(stdout);
    fprintf(stderr, "Warning: the seed \"%s\" has text after its number; it is read as %d\n", text,
            static_cast<int>(value));
  }
  return static_cast<int>(value);
}

namespace {

bool inkind(const hfp_t &s, int locus, int kind)
{
  return kind == 0 || (kind == 1) == (s.selp[locus] != 0);
}

// Possible haplotypes over the selected loci of a kind (0 all, 1 Block 1,
// 2 Block 2).
long long possible(const hfp_t &s, int kind)
{
  long long product = 1;
  for (int k = 0; k <= s.selected; k++)
    if (inkind(s, s.selidx[k], kind))
      product *= s.alleles[s.selidx[k]];
  return product;
}

// The parameter and data files through the TRELIX readers, into the state.
void readinputs(hfp_t &s, const char *parfile, const char *datfile)
{
  trelix_t tx;
  int code = tx_read_params(tx, parfile);
  for (const tx_warning_t &w : tx.warnings) {
    if (w.after_screen)
      fflush(stdout);
    fputs(w.text.c_str(), stderr);
  }
  if (code != TX_OK)
    hfpfail("%s", tx.message.c_str());
  tx_echo(tx, stdout);
  s.nloci = tx.nloci;
  s.cc = tx.cc;
  s.npermute = tx.npermute;
  for (int l = 0; l < TX_MAXLOCI; l++) {
    s.alleles[l] = tx.alleles[l];
    s.sel[l] = tx.sel[l];
    s.selp[l] = tx.selp[l];
    s.selidx[l] = tx.selidx[l];
  }
  s.selected = tx.selected;
  s.selectp = tx.selectp;
  s.selectn = tx.selectn;
  if (s.npermute < 0)
    hfpfail("%s: the number of permutations is %d; it must be 0 or more\n", parfile, s.npermute);
  printf("\n");
  tx.listing = stdout;
  int skipped;
  if (tx_read_data(tx, datfile, skipped) != TX_OK)
    hfpfail("%s", tx.message.c_str());
  s.sample_size = tx.sample_size;
  s.cases = tx.cases;
  if (s.sample_size == 0)
    hfpfail("%s: no individual is typed at a selected locus; there is nothing to test\n", datfile);
  if (s.cc && (s.cases == 0 || s.cases == s.sample_size))
    hfpfail("%s: the %d individuals kept are all %s; a case-control test needs both\n", datfile, s.sample_size,
            s.cases == 0 ? "controls" : "cases");

  allocate(s.individuals, static_cast<size_t>(s.sample_size), "error allocating memory for individuals");
  int i = 0;
  for (const rec_t *node = tx.list; node != nullptr; node = node->next, i++) {
    s.individuals[i].seq = node->seq;
    s.individuals[i].label = node->label;
    for (int l = 0; l < s.nloci; l++) {
      s.individuals[i].pair[l][0] = node->pair[l][0];
      s.individuals[i].pair[l][1] = node->pair[l][1];
    }
  }
}

int run(hfp_t &s, int argc, char **argv)
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
    hfpfail("Usage: %s parfile datfile [<outfile> [seed]]\n\n"
            "where:\n\n"
            "parfile and datfile are TRELIX parameter and data files\n"
            "outfile is output file, omitted when using computer screen\n"
            "seed is an integer for pseudorandom number generator\n",
            argv[0]);
  const char *parfile = pos[0], *datfile = pos[1];
  const char *outfile = npos > 2 ? pos[2] : nullptr;
  if (npos > 3)
    s.seed = seedvalue(pos[3]);
  srand(static_cast<unsigned>(s.seed));
  s.inprocess = opt.inprocess;
  if (!s.inprocess)
    findestimator(s);

  readinputs(s, parfile, datfile);
  size_t n = static_cast<size_t>(s.sample_size);
  allocate(s.perm, n, "error allocating memory for shuffle arrays");
  allocate(s.work, n, "error allocating memory for shuffle arrays");
  size_t nsel = static_cast<size_t>(s.selected + 1 > 0 ? s.selected + 1 : 1);
  allocate(s.first, n, "error allocating memory for alleles");
  allocate(s.second, n, "error allocating memory for alleles");
  allocate(s.nalleles, nsel, "error allocating memory for alleles");
  allocate(s.hap, nsel, "error allocating memory for alleles");

  s.df = dfree(s, 0);
  s.df1 = dfree(s, 1);
  s.df2 = dfree(s, 2);
  s.df12 = dfree12(s);
  if (s.selected >= 0) {
    s.nalleles[s.selected] = 1;
    for (int k = s.selected - 1; k >= 0; k--)
      s.nalleles[k] = s.nalleles[k + 1] * s.alleles[s.selidx[k + 1]];
  }

  // More workers than passes would have nothing to do.
  int workers = opt.jobs < s.npermute + 1 ? opt.jobs : s.npermute + 1;
  makeworkdirs(s, workers, opt.jobs > 1);
  setrunphase(s, true);
  if (s.inprocess)
    initinprocess(s, workers);
  runpasses(s, workers, s.cc ? ccdraw : blockdraw, s.cc ? ccfold : blockfold);
  freeinprocess(s);
  s.individuals.clear();
  removetemps(s);
  setrunphase(s, false);
  if (interruption(s))
    throw hfpabort("", interruption(s), true);

  FILE *out = stdout;
  if (outfile != nullptr) {
    out = fopen(outfile, "w");
    if (out == nullptr) {
      fprintf(stderr, "\nI can't open file %s for output", outfile);
      fprintf(stderr, "\nSo I will write to the screen\n");
      out = stdout;
    }
  }
  report(s, out, when.c_str(), parfile, datfile);
  bool failed = ferror(out) != 0;
  if (out != stdout)
    failed = fclose(out) != 0 || failed;
  else
    failed = fflush(stdout) != 0 || failed;
  if (failed)
    hfpfail("Error writing the report%s%s\n", outfile ? " to " : "", outfile ? outfile : "");
  if (s.cappedruns > 0)
    fprintf(stderr, "Warning: in %ld of the %ld estimator runs the EM stopped at its cap of %d iterations, "
                    "still gaining more than 0.01 in log-likelihood\n",
            s.cappedruns, s.runs, EM_STEP_CAP);
  return 0;
}

} // namespace

int dfree(const hfp_t &s, int kind)
{
  int sum = 0;
  for (int k = 0; k <= s.selected; k++)
    if (inkind(s, s.selidx[k], kind))
      sum += s.alleles[s.selidx[k]] - 1;
  return static_cast<int>(possible(s, kind) - 1 - sum);
}

int dfree12(const hfp_t &s)
{
  return static_cast<int>((possible(s, 0) - 1) - (possible(s, 1) - 1) - (possible(s, 2) - 1));
}

int hfprun(hfp_t &s, int argc, char **argv)
{
  try {
    return run(s, argc, argv);
  } catch (const hfpabort &e) {
    stopworkers(s);
    removetemps(s, &s.after_message);
    if (e.interrupted) {
      s.signal = e.status;
      return 128 + e.status;
    }
    s.message = e.what();
    return e.status;
  } catch (const std::bad_alloc &) {
    stopworkers(s);
    removetemps(s, &s.after_message);
    s.message = HFP_NOMEMORY;
    return -1;
  }
}
