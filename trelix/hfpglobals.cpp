#include <cstdio>
#include <cstdlib>

#include "trelix.h"

namespace {

// Never destroyed: the list lives until the process ends, as it always did,
// whatever hfp's threads are doing when it exits.
trelix_t &hfp = *new trelix_t;

[[noreturn]] void fail(const trelix_t &tx)
{
  fflush(stdout);
  fputs(tx.message.c_str(), stderr);
  exit(1);
}

} // namespace

int &nloci = hfp.nloci;
int &cc = hfp.cc;
int &npermute = hfp.npermute;
int (&alleles)[TX_MAXLOCI] = hfp.alleles;
int (&sel)[TX_MAXLOCI] = hfp.sel;
int (&selp)[TX_MAXLOCI] = hfp.selp;
int (&selidx)[TX_MAXLOCI] = hfp.selidx;
int &selected = hfp.selected;
int &selectp = hfp.selectp;
int &selectn = hfp.selectn;
rec_t *&r = hfp.list;
int &sample_size = hfp.sample_size;
int &cases = hfp.cases;

int getloci(const char *path)
{
  int code = tx_read_params(hfp, path);
  for (const tx_warning_t &w : hfp.warnings) {
    if (w.after_screen)
      fflush(stdout);
    fputs(w.text.c_str(), stderr);
  }
  if (code != TX_OK)
    fail(hfp);
  tx_echo(hfp, stdout);
  return 0;
}

int noid_new(const char *path)
{
  hfp.listing = stdout;
  int skipped;
  if (tx_read_data(hfp, path, skipped) != TX_OK)
    fail(hfp);
  return 0;
}
