// Most-significant-first bucket sort of the individual list on the genotype
// codes of the selected loci.

#include "txlib.h"

rec_t *tx_sort(trelix_t &tx, rec_t *list, int depth)
{
  if (!list)
    return list;
  if (!list->next || depth >= tx.digits) {
    rec_t *p = list;
    while (p->next)
      p = p->next;
    tx.last = p;
    return list;
  }

  // Every code lies in 0 ... TX_MAXCODE (checked when the record was read).
  // Putting each node at the head of its bucket reverses the order of the
  // nodes within one bucket.
  rec_t *bucket[TX_MAXCODE + 1] = {};
  int locus = tx.selidx[depth];
  for (rec_t *p = list, *next; p; p = next) {
    next = p->next;
    int g = p->geno[locus];
    p->next = bucket[g];
    bucket[g] = p;
  }

  rec_t *head = nullptr;
  rec_t *tail = nullptr;
  for (int g = 0; g <= TX_MAXCODE; g++) {
    if (!bucket[g])
      continue;
    rec_t *sub = tx_sort(tx, bucket[g], depth + 1);
    if (tail)
      tail->next = sub;
    else
      head = sub;
    tail = tx.last;
  }
  tx.last = tail;
  return head;
}
