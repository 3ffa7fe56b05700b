// Reading the data set for phf: the first line of the output and the
// refusal of a data file that would leave it without a record.

#include "fail.h"
#include "phf.h"

void phf_header(const trelix_t &tx, FILE *out)
{
  for (int j = 0; j <= tx.selected; j++)
    fprintf(out, "%2d ", tx.alleles[tx.selidx[j]]);
  fprintf(out, "\n");
}

int phf_read(trelix_t &tx, const char *path, int &skipped)
{
  if (int code = tx_read_data(tx, path, skipped))
    return code;
  // An output without a single genotype record is no input for hf: refuse
  // it rather than report success over an empty file.
  if (tx.sample_size + skipped == 0)
    return tx_fail(tx, TX_EDATA,
                   "%s holds no data record (an identifier, a label and the genotypes of %d loci); "
                   "there is nothing to prepare\n",
                   path, tx.nloci);
  if (tx.sample_size == 0)
    return tx_fail(tx, TX_EDATA, "%s: none of its %d records is typed at a selected locus; there is nothing to "
                                 "prepare\n",
                   path, skipped);
  return TX_OK;
}
