// Collapsing the sorted individual list into counted genotype records.

#include <cstdlib>

#include "fatal.h"
#include "phf.h"

namespace {

// Same codes at every selected locus; unselected loci are not compared.
bool samecodes(const rec_t *p, const rec_t *q)
{
  for (int j = 0; j <= selected; j++)
    if (p->geno[selidx[j]] != q->geno[selidx[j]])
      return false;
  return true;
}

void writegroup(FILE *out, int number, const grp_t &g)
{
  fprintf(out, "%5d %5d", number, g.count);
  if (cc) {
    // The case column follows the total without a blank; a count too wide
    // for five columns with a leading blank gets one of its own.
    if (g.ncase <= 9999)
      fprintf(out, "%5d %5d", g.ncase, g.nctrl);
    else
      fprintf(out, " %d %5d", g.ncase, g.nctrl);
  }
  for (int j = 0; j <= selected; j++) {
    const int *pair = g.pair[selidx[j]];
    fprintf(out, " %2d %2d", pair[0], pair[1]);
  }
  fprintf(out, "\n");
}

} // namespace

int getsize(FILE *out)
{
  if (!r)
    return 0;
  // There are never more groups than individuals.
  grp_t *table = static_cast<grp_t *>(malloc(static_cast<size_t>(sample_size) * sizeof(grp_t)));
  if (!table)
    hs_fatal_perror(1, "error allocating memory in getsize()");

  int n = 0;
  int ncase = r->label == 1;
  int nctrl = r->label == 0;
  for (rec_t *p = r; p; p = p->next) {
    grp_t &g = table[n];
    for (int k = 0; k < nloci; k++) {
      g.pair[k][0] = p->pair[k][0];
      g.pair[k][1] = p->pair[k][1];
    }
    rec_t *q = p->next;
    if (q && samecodes(p, q)) {
      ncase += q->label == 1;
      nctrl += q->label == 0;
      continue;
    }
    g.count = ncase + nctrl;
    g.ncase = ncase;
    g.nctrl = nctrl;
    n++;
    if (q) {
      ncase = q->label == 1;
      nctrl = q->label == 0;
    }
  }

  for (int i = 0; i < n; i++)
    writegroup(out, i + 1, table[i]);
  free(table);
  return n;
}
