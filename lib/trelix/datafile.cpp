// The TRELIX data file: one individual per line, an identifier, an affection
// label and a genotype at every locus, either two allele numbers (0 or less
// for a missing allele) or one genotype code (0 for missing). The first line
// without an identifier, a label and further text ends the data.

#include <cstdio>
#include <new>
#include <utility>

#include "fail.h"
#include "isdir.h"
#include "lines.h"
#include "tokens.h"
#include "txlib.h"

namespace {

// The record being read.
struct precord_t {
  std::string id;                 // identifier, kept whole; listing only
  int label;
  int pair[TX_MAXLOCI][2];        // smaller allele first, 0 for missing
  int geno[TX_MAXLOCI];           // genotype codes, 0 ... TX_MAXCODE
};

// The data file being read: its stream, closed on every way out, and its
// name for the messages.
struct datfile_t {
  FILE *f;
  const char *path;
  ~datfile_t() { fclose(f); }
};

int fewvalues(trelix_t &tx, int lineno, const char *path, int got)
{
  if (tx.isgenotype)
    return tx_fail(tx, TX_EDATA, "Line %d of %s has %d genotype codes; %d loci need %d\n", lineno, path, got,
                   tx.nloci, tx.nloci);
  return tx_fail(tx, TX_EDATA, "Line %d of %s has %d allele numbers; %d loci need %d\n", lineno, path, got,
                 tx.nloci, 2 * tx.nloci);
}

// Reads the genotypes of all loci from s into rec; kept is the number of
// records kept so far. Counts in missing the selected loci that are
// missing; returns a code.
int readloci(trelix_t &tx, precord_t &rec, const char *s, int lineno, const char *path, int kept,
             int &missing)
{
  missing = 0;
  for (int k = 0; k < tx.nloci; k++) {
    int *pair = rec.pair[k];
    if (tx.isgenotype) {
      int g;
      if (!scan_int(s, g))
        return fewvalues(tx, lineno, path, k);
      // Codes are not checked against the locus's allele count, only
      // against the range of the coding.
      if (g < 0 || g > TX_MAXCODE)
        return tx_fail(tx, TX_EDATA, "Line %d of %s has genotype code %d at locus %d; codes run from 0 to %d\n",
                       lineno, path, g, k + 1, TX_MAXCODE);
      rec.geno[k] = g;
      tx_g2a(g, &pair[0], &pair[1]);
    } else {
      int a, b;
      if (!scan_int(s, a))
        return fewvalues(tx, lineno, path, 2 * k);
      if (!scan_int(s, b))
        return fewvalues(tx, lineno, path, 2 * k + 1);
      if (b < a)
        std::swap(a, b);
      // Any allele number of 0 or less marks a missing allele.
      pair[0] = a < 0 ? 0 : a;
      pair[1] = b < 0 ? 0 : b;
      if (pair[1] > tx.alleles[k])
        return tx_fail(tx, TX_EDATA, "Error in record %d,reset allele number (or <=0 for missing alleles)\n",
                       kept + 1);
      rec.geno[k] = tx_a2g(pair[0], pair[1]);
    }
    if (tx.sel[k] && pair[0] <= 0)
      missing++;
  }
  return TX_OK;
}

void listrecord(const trelix_t &tx, const precord_t &rec)
{
  fprintf(tx.listing, "%5s %3d", rec.id.c_str(), rec.label);
  for (int j = 0; j <= tx.selected; j++)
    fprintf(tx.listing, " %6d", rec.geno[tx.selidx[j]]);
  fprintf(tx.listing, "\n");
}

// Reads the records into the list, head first (see tx_read_data).
int readrecs(trelix_t &tx, datfile_t &d, int &kept, int &skipped)
{
  bool listing = tx.iogenotype && tx.listing;
  if (listing)
    fprintf(tx.listing, "\n   ID  label locus genotype \n\n");

  precord_t rec;
  std::string line;
  std::string id;
  int lineno = 0;
  for (;;) {
    bool got;
    try {
      got = hs_getline(d.f, line);
    } catch (const std::bad_alloc &) {
      return tx_fail(tx, TX_ENOMEM, "Out of memory reading line %d of %s\n", lineno + 1, d.path);
    }
    if (!got)
      break;
    lineno++;
    // A NUL character would hide the rest of the line from the scanning.
    if (line.find('\0') != std::string::npos)
      return tx_fail(tx, TX_EDATA, "Line %d of %s holds a NUL character; a data file must be plain text\n", lineno,
                     d.path);
    const char *s = line.c_str();
    int label;
    if (!scan_word(s, id) || !scan_int(s, label) || !scan_rest(s))
      break;
    rec.id = id;
    rec.label = label;
    int missing;
    if (int code = readloci(tx, rec, s, lineno, d.path, kept, missing))
      return code;
    if (listing)
      listrecord(tx, rec);
    if (missing == tx.selected + 1) {
      skipped++;
      continue;
    }
    if (tx.cc && rec.label == 1)
      tx.cases++;
    else
      rec.label = 0;

    kept++;
    rec_t *node = new (std::nothrow) rec_t;
    if (!node)
      return tx_fail(tx, TX_ENOMEM, "Out of memory for the individual on line %d of %s\n", lineno, d.path);
    node->seq = kept;
    node->label = rec.label;
    for (int k = 0; k < tx.nloci; k++) {
      node->geno[k] = rec.geno[k];
      node->pair[k][0] = rec.pair[k][0];
      node->pair[k][1] = rec.pair[k][1];
    }
    // Head insertion: the list holds the kept records in reverse reading
    // order, which the sort turns into the order its users rely on.
    node->next = tx.list;
    tx.list = node;
  }
  return TX_OK;
}

} // namespace

trelix_t::~trelix_t()
{
  tx_free_data(*this);
}

void tx_free_data(trelix_t &tx)
{
  while (tx.list) {
    rec_t *next = tx.list->next;
    delete tx.list;
    tx.list = next;
  }
  tx.last = nullptr;
}

int tx_read_data(trelix_t &tx, const char *path, int &skipped)
{
  tx.message.clear();
  skipped = 0;
  // A directory opens for reading on Linux and reads as an empty file.
  if (hs_is_directory(path))
    return tx_fail(tx, TX_EIO, "%s " HS_ISDIR_TEXT "\n", path);
  FILE *f = fopen(path, "r");
  if (!f)
    return tx_fail(tx, TX_EIO, "Error opening %s", path);
  tx_free_data(tx);
  int kept = 0;
  tx.cases = 0;
  {
    datfile_t d = {f, path};
    if (int code = readrecs(tx, d, kept, skipped)) {
      tx_free_data(tx);
      tx.sample_size = tx.cases = 0;
      return code;
    }
  }

  tx.sample_size = kept;
  tx.digits = 0;
  for (int k = 0; k < tx.nloci; k++)
    if (tx.sel[k])
      tx.digits++;
  tx.list = tx_sort(tx, tx.list, 0);
  return TX_OK;
}
