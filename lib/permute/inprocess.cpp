// The estimator in process (--in-process): each worker owns one state of
// the estimator library and runs it on the records that temp.hf would
// hold. The values hfp needs are taken from the library's own report text
// of the sections that hold them and read back with the same readers as a
// report file, so every figure passes through the same formats and comes
// out the same as in a run of the estimator program.

#include <cstring>
#include <string>

#include "hflib.h"
#include "hfp.h"

bool inprocess = false;

namespace {

struct engine_t {
  hfstate_t *state = nullptr;
  std::vector<geno_t> records;
  int columns = 0; // loci columns that may hold alleles of an earlier run
  std::string report;
};
std::vector<engine_t> engines;

const char INPROCESS[] = "(in process)";

bool written(int locus, int kind)
{
  if (!sel[locus])
    return false;
  return kind == 0 || (kind == 1) == (selp[locus] != 0);
}

} // namespace

void initinprocess(int workers)
{
  engines = std::vector<engine_t>(static_cast<size_t>(workers));
  for (engine_t &e : engines) {
    e.state = hf_new(0);
    if (e.state == nullptr)
      xmalloc(SIZE_MAX); // ends the run as memory exhaustion does
  }
}

void freeinprocess()
{
  for (engine_t &e : engines)
    hf_free(e.state);
  engines.clear();
}

runread_t estimateinprocess(int worker, const indiv_t *people, int kind, int filter, const char *command,
                            bool wantx2, hapreport_t *table)
{
  if (runsabandoned())
    throw hfpabort("", 0, true);
  engine_t &e = engines[static_cast<size_t>(worker)];
  int loci[TX_MAXLOCI], cols[TX_MAXLOCI], n = 0;
  for (int l = 0; l < nloci; l++)
    if (written(l, kind)) {
      loci[n] = alleles[l];
      cols[n++] = l;
    }
  // The records as the estimator reads them from temp.hf: identifier,
  // one instance, each pair smaller allele first, everything else 0. The
  // table is zeroed once; columns a run leaves unused are zeroed again.
  if (e.records.size() < static_cast<size_t>(sample_size)) {
    geno_t zero;
    memset(&zero, 0, sizeof zero);
    e.records.assign(static_cast<size_t>(sample_size), zero);
    e.columns = 0;
  }
  size_t count = 0;
  for (int i = 0; i < sample_size; i++) {
    const indiv_t &ind = people[i];
    if ((filter == 1 && ind.label != 1) || (filter == 0 && ind.label == 1))
      continue;
    geno_t &g = e.records[count++];
    g.id = ind.seq;
    g.instances = 1;
    g.gprob = 0;
    for (int c = 0; c < n; c++) {
      int a = ind.pair[cols[c]][0], b = ind.pair[cols[c]][1];
      g.allele[2 * c] = static_cast<int16_t>(a < b ? a : b);
      g.allele[2 * c + 1] = static_cast<int16_t>(a < b ? b : a);
    }
    for (int c = n; c < e.columns; c++)
      g.allele[2 * c] = g.allele[2 * c + 1] = 0;
  }
  if (n > e.columns)
    e.columns = n;
  int rc = hf_set_data(e.state, loci, n, e.records.data(), count);
  if (rc == HF_OK)
    rc = hf_estimate(e.state);
  e.report.clear();
  if (rc == HF_OK)
    rc = hf_report_string(e.state, table ? HF_REPORT_COUNTS | HF_REPORT_EM : HF_REPORT_EM, e.report);
  if (rc == HF_ENOMEM)
    throw hfpabort("Sorry, but I cannot allocate memory\n", -1);
  if (rc != HF_OK)
    hfpfail("%sThe estimator run \"%s\" failed in process; it has no report\n", hf_message(e.state), command);

  FILE *f = fmemopen(&e.report[0], e.report.size(), "r");
  if (f == nullptr)
    throw hfpabort("Sorry, but I cannot allocate memory\n", -1);
  runread_t v;
  readvalues(f, INPROCESS, command, wantx2, v);
  if (table != nullptr)
    readtable(f, INPROCESS, *table);
  fclose(f);
  v.capped = hf_result(e.state)->capped != 0;
  return v;
}
