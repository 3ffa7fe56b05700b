// The TRELIX parameter file, six lines:
//   1  loci, case-control flag, permutation flag, permutations
//   2  allele count of every locus
//   3  genotype-input flag, listing flag
//   4  selection flag of every locus
//   5  permutation (Block 1) flag of every locus
//   6  optional disease model: q, f0, f1, f2
// Values beyond the loci on lines 2, 4 and 5, and lines after line 6, are
// ignored.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "fail.h"
#include "isdir.h"
#include "lines.h"
#include "tokens.h"
#include "txlib.h"

namespace {

// The parameter file being read: its stream, closed on every way out, and
// its name for the messages.
struct parfile_t {
  FILE *f;
  const char *path;
  ~parfile_t() { fclose(f); }
};

// The next line into line, which must be plain text: a NUL character would
// hide the rest of the line from the scanning. Sets got; returns a code.
int nextline(trelix_t &tx, parfile_t &p, std::string &line, int lineno, bool &got)
{
  try {
    got = hs_getline(p.f, line);
  } catch (const std::bad_alloc &) {
    return tx_fail(tx, TX_ENOMEM, "Out of memory reading line %d of %s\n", lineno, p.path);
  }
  if (got && line.find('\0') != std::string::npos)
    return tx_fail(tx, TX_EDATA, "Line %d of %s holds a NUL character; a parameter file must be plain text\n",
                   lineno, p.path);
  return TX_OK;
}

// Lines 1 to 5 must all be present.
int needline(trelix_t &tx, parfile_t &p, std::string &line, int lineno)
{
  bool got;
  if (int code = nextline(tx, p, line, lineno, got))
    return code;
  if (!got)
    return tx_fail(tx, TX_EDATA, "%s ends before line %d; a parameter file has at least 5 lines\n", p.path,
                   lineno);
  return TX_OK;
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
int readlist(trelix_t &tx, parfile_t &p, std::string &line, int lineno, int *table, const char *what)
{
  if (int code = needline(tx, p, line, lineno))
    return code;
  int n = scanints(line, table, tx.nloci);
  if (n < tx.nloci)
    return tx_fail(tx, TX_EDATA, "Line %d of %s has %d %s; line 1 declares %d loci\n", lineno, p.path, n, what,
                   tx.nloci);
  return TX_OK;
}

// Line 1 is read as far as its numbers go, and what they leave out keeps
// its previous value: "3,1,1,20" gives 3 loci and zero flags. That rule
// stays, but text that is not a number after the numbers is shown, since it
// most often means values separated by commas and flags read as 0.
void warn_line1_text(trelix_t &tx, const std::string &line, const char *path)
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
  tx.warnings.push_back({tx_format("Warning: line 1 of %s has text that is not a number after its first %d "
                                   "number%s (\"%s\"); it is ignored: separate the values by blanks or tabs\n",
                                   path, n, n == 1 ? "" : "s", text.c_str()),
                         true});
}

int readparams(trelix_t &tx, parfile_t &p)
{
  std::string line;
  int v[4];
  if (int code = needline(tx, p, line, 1))
    return code;
  // Numbers that line 1 or line 3 leaves out keep their previous values (0
  // in a fresh state); only the number of loci cannot be done without.
  int n = scanints(line, v, 4);
  if (n < 1)
    return tx_fail(tx, TX_EDATA, "Line 1 of %s does not give the number of loci\n", p.path);
  warn_line1_text(tx, line, p.path);
  int *line1[4] = {&tx.nloci, &tx.cc, &tx.permute, &tx.npermute};
  for (int i = 0; i < n; i++)
    *line1[i] = v[i];
  // The system's error text ends the message, as the programs have always
  // shown it.
  if (tx.nloci > TX_MAXLOCI)
    return tx_fail(tx, TX_EDATA, "Error: maximum number of loci exceeded: %s\n", strerror(errno));
  if (tx.nloci < 0)
    return tx_fail(tx, TX_EDATA, "Line 1 of %s declares %d loci; the number of loci cannot be negative\n",
                   p.path, tx.nloci);

  if (int code = readlist(tx, p, line, 2, tx.alleles, "allele counts"))
    return code;
  for (int i = 0; i < tx.nloci; i++)
    if (tx.alleles[i] < 1 || tx.alleles[i] > TX_MAXALLELES)
      return tx_fail(tx, TX_EDATA, "Line 2 of %s gives %d alleles at locus %d; a locus has 1 to %d alleles\n",
                     p.path, tx.alleles[i], i + 1, TX_MAXALLELES);

  if (int code = needline(tx, p, line, 3))
    return code;
  n = scanints(line, v, 2);
  if (n > 0)
    tx.isgenotype = v[0];
  if (n > 1)
    tx.iogenotype = v[1];

  if (int code = readlist(tx, p, line, 4, tx.sel, "selection flags"))
    return code;
  if (int code = readlist(tx, p, line, 5, tx.selp, "permutation flags"))
    return code;

  // The disease model is taken only when line 6 gives all four numbers;
  // otherwise it keeps its previous values.
  bool got;
  if (int code = nextline(tx, p, line, 6, got))
    return code;
  if (got) {
    float q, f0, f1, f2;
    if (sscanf(line.c_str(), "%f %f %f %f", &q, &f0, &f1, &f2) == 4) {
      tx.freq = q;
      tx.pen0 = f0;
      tx.pen1 = f1;
      tx.pen2 = f2;
      // Followed by the system's error text, and shown without first
      // flushing the screen, as the programs have always shown it.
      if (tx.pen0 > tx.pen2)
        tx.warnings.push_back({tx_format("The order of penetrances is wrong !: %s\n", strerror(errno)), false});
    }
  }
  return TX_OK;
}

} // namespace

int tx_read_params(trelix_t &tx, const char *path)
{
  tx.message.clear();
  tx.warnings.clear();
  // A directory opens for reading on Linux and reads as an empty file.
  if (hs_is_directory(path))
    return tx_fail(tx, TX_EIO, "%s " HS_ISDIR_TEXT "\n", path);
  FILE *f = fopen(path, "r");
  if (!f)
    return tx_fail(tx, TX_EIO, "Error opening %s", path);
  for (int i = 0; i < TX_MAXLOCI; i++)
    tx.selidx[i] = 0;

  {
    parfile_t p = {f, path};
    if (int code = readparams(tx, p))
      return code;
  }

  int nsel = 0, np = 0, nn = 0;
  for (int i = 0; i < tx.nloci; i++) {
    if (!tx.sel[i])
      continue;
    tx.selidx[nsel++] = i;
    if (tx.selp[i])
      np++;
    else
      nn++;
  }
  tx.selected = nsel - 1;
  tx.selectp = np - 1;
  tx.selectn = nn - 1;
  return TX_OK;
}

void tx_echo(const trelix_t &tx, FILE *f)
{
  fprintf(f, "Number of loci in this analysis = %d \n", tx.nloci);
  bool will = tx.permute != 0 || (tx.cc == 0 && tx.npermute > 0);
  fprintf(f, "Permutation procedure %s invoked ", will ? "will be" : "will not be");
  if (will)
    fprintf(f, "%d times\n", tx.npermute);
  else
    fprintf(f, "\n");
  fprintf(f, "Number of alleles at these loci and their\n");
  fprintf(f, "  selection/permutation statuses [1=yes,0=no]:\n");
  for (int i = 0; i < tx.nloci; i++)
    fprintf(f, "  locus %3d: alleles=%2d selection= %d permutation= %d\n", i + 1, tx.alleles[i], tx.sel[i],
            tx.selp[i]);
  if (tx.cc) {
    fprintf(f, "The disease model (q,f0,f1,f2) specified: %.4f %.4f %.4f %.4f \n", tx.freq, tx.pen0, tx.pen1,
            tx.pen2);
    // Population prevalence K, in single precision like its inputs.
    float k = (1 - tx.freq) * (1 - tx.freq) * tx.pen0 + 2 * tx.freq * (1 - tx.freq) * tx.pen1 +
              tx.freq * tx.freq * tx.pen2;
    fprintf(f, "  amounts to a population disease prevalence of %.4f\n", k);
  }
  if (tx.cc == 0)
    fprintf(f, "Blocks 1 and 2 have %d, %d loci\n", tx.selectp + 1, tx.selectn + 1);
}
