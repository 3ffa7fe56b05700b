// Fuzz target: the TRELIX parameter file reader getloci, as hfp and phf
// call it at start-up. A refusal must end the program with status 1; a file
// that is accepted must leave locus tables the data reader can rely on.

#include <cstdio>

#include "harness.h"
#include "trelix.h"

namespace {

// The reader keeps the values of fields a file leaves out: start every
// input from the program's initial state.
void programstart()
{
  nloci = cc = permute = npermute = isgenotype = iogenotype = 0;
  for (int i = 0; i < TX_MAXLOCI; i++)
    alleles[i] = sel[i] = selp[i] = selidx[i] = 0;
  freq = pen0 = pen1 = pen2 = 0;
  selected = selectp = selectn = 0;
}

void checkloci()
{
  fuzz_check(nloci >= 0 && nloci <= TX_MAXLOCI, "number of loci within the tables");
  int nsel = 0, np = 0;
  for (int i = 0; i < nloci; i++) {
    fuzz_check(alleles[i] >= 1 && alleles[i] <= TX_MAXALLELES, "allele count within the coding");
    if (sel[i]) {
      fuzz_check(selidx[nsel] == i, "selected loci listed in ascending order");
      nsel++;
      np += selp[i] != 0;
    }
  }
  fuzz_check(selected == nsel - 1, "selected is the count of selected loci minus one");
  fuzz_check(selectp == np - 1 && selectn == nsel - np - 1, "block counts");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  programstart();
  const char *path = fuzz_file("study.par", data, size);
  int status = guarded([&] { fuzz_check(getloci(path) == 0, "getloci returns 0"); });
  if (status == NOEXIT)
    checkloci();
  else
    fuzz_check(status == 1, "a refused parameter file ends the program with status 1");
  return 0;
}
