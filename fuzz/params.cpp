// Fuzz target: the TRELIX parameter file reader tx_read_params, as hfp and
// phf call it at start-up. A refusal must return TX_EDATA with a message; a
// file that is accepted must leave locus tables the data reader can rely
// on. The reader returns on every input: an exit is a finding.

#include <cstdio>

#include "harness.h"
#include "txlib.h"

namespace {

void checkloci(const trelix_t &tx)
{
  fuzz_check(tx.nloci >= 0 && tx.nloci <= TX_MAXLOCI, "number of loci within the tables");
  int nsel = 0, np = 0;
  for (int i = 0; i < tx.nloci; i++) {
    fuzz_check(tx.alleles[i] >= 1 && tx.alleles[i] <= TX_MAXALLELES, "allele count within the coding");
    if (tx.sel[i]) {
      fuzz_check(tx.selidx[nsel] == i, "selected loci listed in ascending order");
      nsel++;
      np += tx.selp[i] != 0;
    }
  }
  fuzz_check(tx.selected == nsel - 1, "selected is the count of selected loci minus one");
  fuzz_check(tx.selectp == np - 1 && tx.selectn == nsel - np - 1, "block counts");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  // A fresh state: the reader keeps the values of fields a file leaves out.
  trelix_t tx;
  const char *path = fuzz_file("study.par", data, size);
  int code = tx_read_params(tx, path);
  if (code == TX_OK) {
    fuzz_check(tx.message.empty(), "no message after an accepted file");
    checkloci(tx);
    tx_echo(tx, stdout);
  } else {
    fuzz_check(code == TX_EDATA || code == TX_ENOMEM, "a refused parameter file is bad data");
    fuzz_check(!tx.message.empty(), "a refusal says why");
  }
  return 0;
}
