// The TRELIX parameter file, six lines:
//   1  loci, case-control flag, permutation flag, permutations
//   2  allele count of every locus
//   3  genotype-input flag, listing flag
//   4  selection flag of every locus
//   5  permutation (Block 1) flag of every locus
//   6  optional disease model: q, f0, f1, f2
// Values beyond the loci on lines 2, 4 and 5, and lines after line 6, are
// ignored.

#include <cstdio>
#include <new>

#include "fatal.h"
#include "isdir.h"
#include "lines.h"
#include "tokens.h"
#include "trelix.h"

int nloci;
int cc;
int permute;
int npermute;
int alleles[TX_MAXLOCI];
int isgenotype;
int iogenotype;
int sel[TX_MAXLOCI];
int selp[TX_MAXLOCI];
float freq;
float pen0, pen1, pen2;

int selidx[TX_MAXLOCI];
int selected;
int selectp;
int selectn;

namespace {

// The next line, which must be plain text: a NUL character would hide the
// rest of the line from the scanning.
bool nextline(FILE *f, std::string &line, const char *path, int lineno)
{
  bool got;
  try {
    got = hs_getline(f, line);
  } catch (const std::bad_alloc &) {
    hs_fatal(1, "Out of memory reading line %d of %s\n", lineno, path);
  }
  if (got && line.find('\0') != std::string::npos)
    hs_fatal(1, "Line %d of %s holds a NUL character; a parameter file must be plain text\n", lineno,
             path);
  return got;
}

// Lines 1 to 5 must all be present.
void needline(FILE *f, std::string &line, const char *path, int lineno)
{
  if (!nextline(f, line, path, lineno))
    hs_fatal(1, "%s ends before line %d; a parameter file has at least 5 lines\n", path,
             lineno);
}

// Up to n integers from the front of a line; returns how many were read.
int scanints(const std::string &line, int *values, int n)
{
  const char *s = line.c_str();
  int k = 0;
  while (k < n && scan_int(s, values[k]))
    k++;
  return k;
}

// A line with one value per locus.
void readlist(FILE *f, std::string &line, const char *path, int lineno, int *table,
              const char *what)
{
  needline(f, line, path, lineno);
  int n = scanints(line, table, nloci);
  if (n < nloci)
    hs_fatal(1, "Line %d of %s has %d %s; line 1 declares %d loci\n", lineno, path, n, what,
             nloci);
}

// Line 1 is read as far as its numbers go, and what they leave out keeps
// its previous value: "3,1,1,20" gives 3 loci and zero flags. That rule
// stays, but text that is not a number after the numbers is shown, since it
// most often means values separated by commas and flags read as 0.
void warn_line1_text(const std::string &line, const char *path)
{
  const char *s = line.c_str();
  int v, n = 0;
  while (scan_int(s, v))
    n++;
  if (!scan_rest(s))
    return;
  std::string text(s);
  if (text.size() > 40)
    text = text.substr(0, 37) + "...";
  fflush(stdout);
  fprintf(stderr,
          "Warning: line 1 of %s has text that is not a number after its first %d number%s "
          "(\"%s\"); it is ignored: separate the values by blanks or tabs\n",
          path, n, n == 1 ? "" : "s", text.c_str());
}

void echo()
{
  printf("Number of loci in this analysis = %d \n", nloci);
  bool will = permute != 0 || (cc == 0 && npermute > 0);
  printf("Permutation procedure %s invoked ", will ? "will be" : "will not be");
  if (will)
    printf("%d times\n", npermute);
  else
    printf("\n");
  printf("Number of alleles at these loci and their\n");
  printf("  selection/permutation statuses [1=yes,0=no]:\n");
  for (int i = 0; i < nloci; i++)
    printf("  locus %3d: alleles=%2d selection= %d permutation= %d\n", i + 1, alleles[i], sel[i],
           selp[i]);
  if (cc) {
    printf("The disease model (q,f0,f1,f2) specified: %.4f %.4f %.4f %.4f \n", freq, pen0, pen1,
           pen2);
    // Population prevalence K, in single precision like its inputs.
    float k = (1 - freq) * (1 - freq) * pen0 + 2 * freq * (1 - freq) * pen1 + freq * freq * pen2;
    printf("  amounts to a population disease prevalence of %.4f\n", k);
  }
}

} // namespace

int getloci(const char *path)
{
  // A directory opens for reading on Linux and reads as an empty file.
  if (hs_is_directory(path))
    hs_fatal(1, "%s " HS_ISDIR_TEXT "\n", path);
  FILE *f = fopen(path, "r");
  if (!f)
    hs_fatal(1, "Error opening %s", path);
  for (int i = 0; i < TX_MAXLOCI; i++)
    selidx[i] = 0;

  std::string line;
  int v[4];
  needline(f, line, path, 1);
  // Numbers that line 1 or line 3 leaves out keep their previous values (0
  // at program start); only the number of loci cannot be done without.
  int n = scanints(line, v, 4);
  if (n < 1)
    hs_fatal(1, "Line 1 of %s does not give the number of loci\n", path);
  warn_line1_text(line, path);
  int *line1[4] = {&nloci, &cc, &permute, &npermute};
  for (int i = 0; i < n; i++)
    *line1[i] = v[i];
  if (nloci > TX_MAXLOCI)
    hs_fatal_perror(1, "Error: maximum number of loci exceeded");
  if (nloci < 0)
    hs_fatal(1, "Line 1 of %s declares %d loci; the number of loci cannot be negative\n", path,
             nloci);

  readlist(f, line, path, 2, alleles, "allele counts");
  for (int i = 0; i < nloci; i++)
    if (alleles[i] < 1 || alleles[i] > TX_MAXALLELES)
      hs_fatal(1, "Line 2 of %s gives %d alleles at locus %d; a locus has 1 to %d alleles\n",
               path, alleles[i], i + 1, TX_MAXALLELES);

  needline(f, line, path, 3);
  n = scanints(line, v, 2);
  if (n > 0)
    isgenotype = v[0];
  if (n > 1)
    iogenotype = v[1];

  readlist(f, line, path, 4, sel, "selection flags");
  readlist(f, line, path, 5, selp, "permutation flags");

  // The disease model is taken only when line 6 gives all four numbers;
  // otherwise it keeps its previous values.
  if (nextline(f, line, path, 6)) {
    float q, f0, f1, f2;
    if (sscanf(line.c_str(), "%f %f %f %f", &q, &f0, &f1, &f2) == 4) {
      freq = q;
      pen0 = f0;
      pen1 = f1;
      pen2 = f2;
      if (pen0 > pen2)
        perror("The order of penetrances is wrong !");
    }
  }
  fclose(f);

  echo();

  int nsel = 0, np = 0, nn = 0;
  for (int i = 0; i < nloci; i++) {
    if (!sel[i])
      continue;
    selidx[nsel++] = i;
    if (selp[i])
      np++;
    else
      nn++;
  }
  selected = nsel - 1;
  selectp = np - 1;
  selectn = nn - 1;
  if (cc == 0)
    printf("Blocks 1 and 2 have %d, %d loci\n", np, nn);
  return 0;
}
