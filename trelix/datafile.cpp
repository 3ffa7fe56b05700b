// The TRELIX data file: one individual per line, an identifier, an affection
// label and a genotype at every locus, either two allele numbers (0 or less
// for a missing allele) or one genotype code (0 for missing). The first line
// without an identifier, a label and further text ends the data.

#include <cstdio>
#include <new>

#include "fatal.h"
#include "isdir.h"
#include "lines.h"
#include "tokens.h"
#include "trelix.h"

precord_t p_t;
rec_t *r;
int sample_size;
int cases;
int digits;
rec_t *Last;

namespace {

void fewvalues(int lineno, const char *path, int got)
{
  if (isgenotype)
    hs_fatal(1, "Line %d of %s has %d genotype codes; %d loci need %d\n", lineno, path, got,
             nloci, nloci);
  hs_fatal(1, "Line %d of %s has %d allele numbers; %d loci need %d\n", lineno, path, got,
           nloci, 2 * nloci);
}

// Reads the genotypes of all loci from s into p_t; kept is the number of
// records kept so far. Returns the number of selected loci that are missing.
int readloci(const char *s, int lineno, const char *path, int kept)
{
  int missing = 0;
  for (int k = 0; k < nloci; k++) {
    int *pair = p_t.pair[k];
    if (isgenotype) {
      int g;
      if (!scan_int(s, g))
        fewvalues(lineno, path, k);
      // Codes are not checked against the locus's allele count, only
      // against the range of the coding.
      if (g < 0 || g > TX_MAXCODE)
        hs_fatal(1, "Line %d of %s has genotype code %d at locus %d; codes run from 0 to %d\n",
                 lineno, path, g, k + 1, TX_MAXCODE);
      p_t.geno[k] = g;
      g2a(g, &pair[0], &pair[1]);
    } else {
      int a, b;
      if (!scan_int(s, a))
        fewvalues(lineno, path, 2 * k);
      if (!scan_int(s, b))
        fewvalues(lineno, path, 2 * k + 1);
      if (b < a)
        swap_pair(&a, &b);
      // Any allele number of 0 or less marks a missing allele.
      pair[0] = a < 0 ? 0 : a;
      pair[1] = b < 0 ? 0 : b;
      if (pair[1] > alleles[k])
        hs_fatal(1, "Error in record %d,reset allele number (or <=0 for missing alleles)\n",
                 kept + 1);
      p_t.geno[k] = a2g(pair[0], pair[1]);
    }
    if (sel[k] && pair[0] <= 0)
      missing++;
  }
  return missing;
}

void listrecord()
{
  printf("%5s %3d", p_t.id.c_str(), p_t.label);
  for (int j = 0; j <= selected; j++)
    printf(" %6d", p_t.geno[selidx[j]]);
  printf("\n");
}

} // namespace

void freerecs()
{
  while (r) {
    rec_t *next = r->next;
    delete r;
    r = next;
  }
  Last = nullptr;
}

int readrecs(const char *path, int &skipped)
{
  // A directory opens for reading on Linux and reads as an empty file.
  if (hs_is_directory(path))
    hs_fatal(1, "%s " HS_ISDIR_TEXT "\n", path);
  FILE *f = fopen(path, "r");
  if (!f)
    hs_fatal(1, "Error opening %s", path);
  freerecs();
  int kept = 0;
  skipped = 0;
  cases = 0;
  if (iogenotype)
    printf("\n   ID  label locus genotype \n\n");

  std::string line;
  std::string id;
  int lineno = 0;
  for (;;) {
    bool got;
    try {
      got = hs_getline(f, line);
    } catch (const std::bad_alloc &) {
      hs_fatal(1, "Out of memory reading line %d of %s\n", lineno + 1, path);
    }
    if (!got)
      break;
    lineno++;
    // A NUL character would hide the rest of the line from the scanning.
    if (line.find('\0') != std::string::npos)
      hs_fatal(1, "Line %d of %s holds a NUL character; a data file must be plain text\n", lineno, path);
    const char *s = line.c_str();
    int label;
    if (!scan_word(s, id) || !scan_int(s, label) || !scan_rest(s))
      break;
    p_t.id = id;
    p_t.label = label;
    int missing = readloci(s, lineno, path, kept);
    if (iogenotype)
      listrecord();
    if (missing == selected + 1) {
      skipped++;
      continue;
    }
    if (cc && p_t.label == 1)
      cases++;
    else
      p_t.label = 0;

    kept++;
    rec_t *node = new (std::nothrow) rec_t;
    if (!node)
      hs_fatal(1, "Out of memory for the individual on line %d of %s\n", lineno, path);
    node->seq = kept;
    node->label = p_t.label;
    for (int k = 0; k < nloci; k++) {
      node->geno[k] = p_t.geno[k];
      node->pair[k][0] = p_t.pair[k][0];
      node->pair[k][1] = p_t.pair[k][1];
    }
    // Head insertion: the list holds the kept records in reverse reading
    // order, which the sort turns into the order its users rely on.
    node->next = r;
    r = node;
  }
  fclose(f);

  sample_size = kept;
  digits = 0;
  for (int k = 0; k < nloci; k++)
    if (sel[k])
      digits++;
  r = sortrecs(r, 0);
  return 0;
}

int noid_new(const char *path)
{
  int skipped;
  return readrecs(path, skipped);
}
