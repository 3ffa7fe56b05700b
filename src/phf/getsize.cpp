// Collapsing the sorted individual list into counted genotype records.

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fail.h"
#include "phf.h"

namespace {

// Same codes at every selected locus; unselected loci are not compared.
bool samecodes(const trelix_t &tx, const rec_t *p, const rec_t *q)
{
  for (int j = 0; j <= tx.selected; j++)
    if (p->geno[tx.selidx[j]] != q->geno[tx.selidx[j]])
      return false;
  return true;
}

void writegroup(const trelix_t &tx, FILE *out, int number, const grp_t &g)
{
  fprintf(out, "%5d %5d", number, g.count);
  if (tx.cc) {
    // The case column follows the total without a blank; a count too wide
    // for five columns with a leading blank gets one of its own.
    if (g.ncase <= 9999)
      fprintf(out, "%5d %5d", g.ncase, g.nctrl);
    else
      fprintf(out, " %d %5d", g.ncase, g.nctrl);
  }
  for (int j = 0; j <= tx.selected; j++) {
    const int *pair = g.pair[tx.selidx[j]];
    fprintf(out, " %2d %2d", pair[0], pair[1]);
  }
  fprintf(out, "\n");
}

} // namespace

int phf_collapse(trelix_t &tx, FILE *out, int &ngroups)
{
  ngroups = 0;
  const rec_t *r = tx.list;
  if (!r)
    return TX_OK;
  // There are never more groups than individuals.
  grp_t *table = static_cast<grp_t *>(malloc(static_cast<size_t>(tx.sample_size) * sizeof(grp_t)));
  if (!table)
    return tx_fail(tx, TX_ENOMEM, "error allocating memory in getsize(): %s\n", strerror(errno));

  int n = 0;
  int ncase = r->label == 1;
  int nctrl = r->label == 0;
  for (const rec_t *p = r; p; p = p->next) {
    grp_t &g = table[n];
    for (int k = 0; k < tx.nloci; k++) {
      g.pair[k][0] = p->pair[k][0];
      g.pair[k][1] = p->pair[k][1];
    }
    const rec_t *q = p->next;
    if (q && samecodes(tx, p, q)) {
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
    writegroup(tx, out, i + 1, table[i]);
  free(table);
  ngroups = n;
  return TX_OK;
}
