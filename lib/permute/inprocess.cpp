// The estimator in process (--in-process): each worker owns one state of
// the estimator library and runs it on the records that temp.hf would
// hold. The figures come from the library's results; those that hfp reads
// from a report pass through the report's printed rounding (its fixed
// formats, parsed back as the report readers parse them), so every figure
// comes out the same as in a run of the estimator program.

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hfp.h"

namespace {

// The estimator's report lists the haplotypes above this frequency (its
// floor epsh) in its table.
const double REPORTFLOOR = 1e-6;

bool written(const hfp_t &s, int locus, int kind)
{
  if (!s.sel[locus])
    return false;
  return kind == 0 || (kind == 1) == (s.selp[locus] != 0);
}

// v as the report prints it with prec decimals ("%.*f"), nul-terminated.
struct printed_t {
  char text[400];
  printed_t(double v, int prec)
  {
    std::to_chars_result r = std::to_chars(text, text + sizeof text - 1, v, std::chars_format::fixed, prec);
    *r.ptr = '\0';
  }
};

// The printed value read back as readvalues reads it (scanf's %f into a
// float) and as readtable reads it (%lf into a double).
float asfloat(double v, int prec)
{
  return strtof(printed_t(v, prec).text, nullptr);
}

double asdouble(double v, int prec)
{
  return strtod(printed_t(v, prec).text, nullptr);
}

int asint(double v)
{
  return static_cast<int>(strtol(printed_t(v, 0).text, nullptr, 10));
}

// The F/P counts and the table of nonzero haplotypes as readtable takes
// them from the report: h1 with 12 decimals, h0 with 6, the Freeman-Tukey
// deviate FT = sqrt(h1 n) + sqrt(h1 n + 1) - sqrt(4 h0 n + 1) with 2.
void tableof(const hfstate_t *state, const hf_result_t &res, hapreport_t &t)
{
  t.full = asint(res.full);
  t.partial = asint(res.partial);
  const int *number;
  const double *h1, *h0;
  size_t n = hf_haplotypes(state, &number, &h1, &h0);
  t.h1.clear();
  t.h0.clear();
  t.ft.clear();
  t.id.clear();
  double copies = res.nhap;
  for (size_t i = 0; i < n; i++) {
    if (!(h1[i] > REPORTFLOOR))
      continue;
    double ft = sqrt(h1[i] * copies) + sqrt(h1[i] * copies + 1) - sqrt(4 * h0[i] * copies + 1);
    t.h1.push_back(asdouble(h1[i], 12));
    t.h0.push_back(asdouble(h0[i], 6));
    t.ft.push_back(asdouble(ft, 2));
    t.id.push_back(number[i]);
  }
  t.nhaps = static_cast<int>(t.id.size());
}

} // namespace

hfp_t::~hfp_t()
{
  stopworkers(*this);
  freeinprocess(*this);
}

void initinprocess(hfp_t &s, int workers)
{
  s.engines = std::vector<hfpengine_t>(static_cast<size_t>(workers));
  for (hfpengine_t &e : s.engines) {
    e.state = hf_new(0);
    if (e.state == nullptr)
      throw hfpabort(HFP_NOMEMORY, -1);
  }
}

void freeinprocess(hfp_t &s)
{
  for (hfpengine_t &e : s.engines)
    hf_free(e.state);
  s.engines.clear();
}

runread_t estimateinprocess(hfp_t &s, int worker, const indiv_t *people, int kind, int filter,
                            const char *command, hapreport_t *table)
{
  if (runsabandoned(s))
    throw hfpabort("", 0, true);
  hfpengine_t &e = s.engines[static_cast<size_t>(worker)];
  int loci[TX_MAXLOCI], cols[TX_MAXLOCI], n = 0;
  for (int l = 0; l < s.nloci; l++)
    if (written(s, l, kind)) {
      loci[n] = s.alleles[l];
      cols[n++] = l;
    }
  // The records as the estimator reads them from temp.hf: identifier,
  // one instance, each pair smaller allele first, everything else 0. The
  // table is zeroed once; columns a run leaves unused are zeroed again.
  if (e.records.size() < static_cast<size_t>(s.sample_size)) {
    geno_t zero;
    memset(&zero, 0, sizeof zero);
    e.records.assign(static_cast<size_t>(s.sample_size), zero);
    e.columns = 0;
  }
  size_t count = 0;
  for (int i = 0; i < s.sample_size; i++) {
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
  if (rc == HF_ENOMEM)
    throw hfpabort(HFP_NOMEMORY, -1);
  if (rc != HF_OK)
    hfpfail("%sThe estimator run \"%s\" failed in process; it has no report\n", hf_message(e.state), command);

  // The report prints both log-likelihoods and the chi-square 2 (ll1 - ll0)
  // with two decimals.
  const hf_result_t &res = *hf_result(e.state);
  runread_t v;
  v.ll = asfloat(res.ll1, 2);
  v.x2 = asfloat(res.chi2, 2);
  v.capped = res.capped != 0;
  if (table != nullptr)
    tableof(e.state, res, *table);
  return v;
}
