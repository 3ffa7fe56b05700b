// The report's first two sections, and the report calls of the interface.

#include <cmath>
#include <memory>
#include <new>

#include "possible.h"
#include "report.h"

void countsreport(const hfstate_t &s, repout_t &o)
{
  for (int l = 0; l < s.nloci; l++) {
    o.text("locus ");
    o.integer(l + 1, 3);
    o.text(" # individuals = ");
    o.fixed(s.dtally[l] + s.htally[l], 0);
    o.ch('\n');
  }
  o.ch('\n');
  o.fixed(s.h_sample + s.fulld, 0);
  o.ch('/');
  o.fixed(s.h_msample + s.d_msample, 0);
  o.text(" individuals with F/P information\n\n");

  o.text("\nMarker allele frequencies:\n\nMarker\\Allele number\n\n");
  o.text("   ");
  for (int a = 1; a <= s.nalleles; a++)
    o.integer(a, 9);
  o.text("\n\n");
  for (int l = 0; l < s.nloci; l++) {
    o.integer(l + 1, 2);
    o.ch(' ');
    for (int a = 0; a < s.loci[l]; a++) {
      if (s.p[l][a] < s.precis) {
        o.text("         ");
      } else {
        o.ch(' ');
        o.fixed(s.p[l][a], 6);
      }
    }
    o.ch('\n');
  }

  if (s.debug) {
    o.text("\nHaplotype frequencies under linkage equilibrium\n\n");
    int16_t a[HF_MAXLOCI];
    for (int k = 1; k <= s.hapall; k++) {
      hapalleles(s, k, a);
      double e = equilibrium(s, a);
      o.fixed(e, 6);
      o.text(" [");
      o.fixed(e, 12);
      o.ch(']');
      for (int l = 0; l < s.nloci; l++) {
        o.ch(' ');
        o.integer(a[l], 3);
      }
      o.ch(' ');
      o.integer(k);
      o.ch('\n');
    }
  }
}

void emreport(const hfstate_t &s, repout_t &o)
{
  o.text("\nlog-likelihood assuming linkage equilibrium ");
  o.fixed(s.l0, 2);
  o.text("\n# parameters ");
  o.integer(s.eqseen);
  o.text(" (");
  o.integer(s.eqspec);
  o.text(", by # of specified alleles)\n\n");
  for (size_t i = 0; i < s.steps.size(); i++) {
    o.text("Iteration ");
    o.integer(static_cast<long>(i + 1), 3);
    o.text(", log-likelihood=");
    o.fixed(s.steps[i], 2);
    o.ch('\n');
  }
  o.text("\nlog-likelihood assuming linkage disequilibrium =");
  o.fixed(s.l1, 2);
  o.text("\n# parameters ");
  o.integer(s.disseen);
  o.text(" (");
  o.integer(s.dispec);
  o.text(", by # of specified alleles)\n");
  o.text("\nTest of marker-marker disequilibrium, chi-square=");
  o.fixed(2 * (s.l1 - s.l0), 2);
  o.text("\ndegree(s) of freedom = ");
  o.integer(s.disseen - s.eqseen);
  o.text(" (");
  o.integer(s.dispec - s.eqspec);
  o.text(", by # of specified alleles) \n");

  double n = 2 * (s.d_sample + s.d_msample) + (s.h_sample + s.h_msample);
  o.text("\nHaplotype frequency estimates and Freeman-Tukey statistic (FT)\n\n");
  o.text(" n = number of haplotypes (");
  o.fixed(n, 0);
  o.text(") in the sample\n");
  o.text("h1 = frequencies under linkage disequilibrium (>");
  o.fixed(s.epsh, 6);
  o.text(")\n");
  o.text("h0 = frequencies under linkage equilibrium\n");
  o.text("FT = sqrt(h1*n)+sqrt(h1*n+1)-sqrt(4*h0+1)\n");
  o.text("\n       h1             h1       h0     FT  haplotype/id\n\n");

  // Haplotypes that no record can carry have frequency 0 after the first
  // step, so the table walks the possible ones in number order.
  long rows = 0;
  int16_t a[HF_MAXLOCI];
  for (size_t i = 0; i < s.hapk.size(); i++) {
    double h1 = s.h[i];
    if (h1 > s.epsh) {
      double e0 = s.h0[i];
      double ft = sqrt(h1 * n) + sqrt(h1 * n + 1) - sqrt(4 * e0 * n + 1);
      o.ch(' ');
      o.fixed(h1, 6);
      o.ch(' ');
      o.fixed(h1, 12);
      o.ch(' ');
      o.fixed(e0, 6);
      o.ch(' ');
      o.fixed(ft, 2, 6);
      hapalleles(s, s.hapk[i], a);
      for (int l = 0; l < s.nloci; l++)
        o.integer(a[l], 3);
      o.ch(' ');
      o.integer(s.hapk[i]);
      o.ch('\n');
      rows++;
    }
  }
  o.text("\nNumber of nonzero haplotypes = ");
  o.integer(rows);
  o.text("\n\n");
}

namespace {

void sections(hfstate_t &s, int which, repout_t &o)
{
  if (which & HF_REPORT_COUNTS)
    countsreport(s, o);
  if (which & HF_REPORT_EM)
    emreport(s, o);
  if (which & HF_REPORT_SORTED)
    sortedreport(s, o);
  if (which & HF_REPORT_ASSIGN) {
    hrtree(s.hrt);
    s.hrt = nullptr;
    ch(s, s.records.data(), o);
    if (s.debug) {
      int counter = 0;
      o.text("\nFrequencies of possible haplotypes\n\n");
      hptree(s, s.hrt, &counter, o);
      o.text("\nPossible haplotypes excluding missing loci = ");
      o.integer(counter);
      o.ch('\n');
    }
    hrtree(s.hrt);
    s.hrt = nullptr;
  }
}

} // namespace

int hf_report_string(hfstate_t *s, int which, std::string &out)
{
  if (!s->estimated)
    return hf_fail(*s, HF_EUSAGE, "the report needs a completed estimation\n");
  try {
    std::unique_ptr<repout_t> o(new repout_t(out));
    sections(*s, which, *o);
    o->flush();
  } catch (const std::bad_alloc &) {
    return hf_nomemory(*s);
  }
  return HF_OK;
}

int hf_report(hfstate_t *s, int which, FILE *f)
{
  if (!s->estimated)
    return hf_fail(*s, HF_EUSAGE, "the report needs a completed estimation\n");
  // The writer's buffer is large; it lives on the heap, not the stack.
  std::unique_ptr<repout_t> o(new (std::nothrow) repout_t(f));
  if (!o)
    return hf_nomemory(*s);
  int status = HF_OK;
  try {
    sections(*s, which, *o);
  } catch (const std::bad_alloc &) {
    status = hf_nomemory(*s);
  }
  // What was written before memory ran out stays in the report.
  if (!o->flush() && status == HF_OK)
    status = hf_fail(*s, HF_EIO, "the report could not be written\n");
  return status;
}
