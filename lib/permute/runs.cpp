// The estimator runs of one pass: the input temp.hf written from the
// pass's arrangement of individuals, the estimator run (as a program or in
// process), and the values read back from its report.

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "hfp.h"

namespace {

const char TEMPIN[] = "temp.hf";

// Which loci a run writes: kind 0 all selected, 1 Block 1, 2 Block 2.
bool written(const hfp_t &s, int locus, int kind)
{
  if (!s.sel[locus])
    return false;
  if (kind == 0)
    return true;
  if (kind == 1)
    return s.selp[locus] != 0;
  return s.selp[locus] == 0;
}

// One estimator run of a pass: the individuals that pass the filter, the
// loci of kind, the command line whose report it reads; the table too when
// table is non-null.
runread_t estimate(hfp_t &s, int worker, const indiv_t *people, int kind, int filter, const char *command,
                   const char *report, bool wantx2, hapreport_t *table, passresult_t &r)
{
  runread_t v;
  if (s.inprocess) {
    v = estimateinprocess(s, worker, people, kind, filter, command, table);
  } else {
    const std::string &dir = s.workdirs[static_cast<size_t>(worker)];
    writetemp(s, (dir + TEMPIN).c_str(), people, kind, filter);
    bool capped = runestimator(s, worker, command, report);
    std::string path = dir + report;
    FILE *f = fopen(path.c_str(), "re");
    if (f == nullptr)
      hfpfail("The estimator (\"%s\") left no report %s\n", command, path.c_str());
    try {
      readvalues(f, path.c_str(), command, wantx2, v);
      if (table != nullptr)
        readtable(f, path.c_str(), s.selected, *table);
    } catch (...) {
      fclose(f);
      throw;
    }
    fclose(f);
    v.capped = capped;
  }
  r.runs++;
  if (v.capped)
    r.capped++;
  return v;
}

} // namespace

void writetemp(const hfp_t &s, const char *path, const indiv_t *people, int kind, int filter)
{
  // Formatted by hand into one buffer, byte for byte what "%2d ", "%d 1"
  // and " %d %d" would give: the file is written once per estimator run.
  std::string text;
  char digits[16];
  auto number = [&](int v) {
    std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, v);
    text.append(digits, r.ptr);
  };
  int cols[TX_MAXLOCI], ncols = 0;
  for (int l = 0; l < s.nloci; l++)
    if (written(s, l, kind)) {
      cols[ncols++] = l;
      if (s.alleles[l] >= 0 && s.alleles[l] < 10)
        text += ' ';
      number(s.alleles[l]);
      text += ' ';
    }
  text += '\n';
  text.reserve(text.size() + static_cast<size_t>(s.sample_size) * (12 + 6 * static_cast<size_t>(ncols)));
  for (int i = 0; i < s.sample_size; i++) {
    const indiv_t &ind = people[i];
    if (filter == 1 && ind.label != 1)
      continue;
    if (filter == 0 && ind.label == 1)
      continue;
    number(ind.seq);
    text += " 1";
    for (int c = 0; c < ncols; c++) {
      text += ' ';
      number(ind.pair[cols[c]][0]);
      text += ' ';
      number(ind.pair[cols[c]][1]);
    }
    text += '\n';
  }
  // A fresh file rather than a truncated one (unlink leaves a directory of
  // that name alone, for the message below): ext4 starts writing a file
  // back to disk when it is closed after truncation, and this one lives
  // for milliseconds.
  unlink(path);
  FILE *f = fopen(path, "we");
  if (f == nullptr)
    hfpfail("I can't open file %s for output...exit (%s)\n", path, strerror(errno));
  bool failed = fwrite(text.data(), 1, text.size(), f) != text.size() || ferror(f) != 0;
  if (fclose(f) != 0 || failed)
    hfpfail("Error writing %s: %s\n", path, strerror(errno));
}

void computepass(hfp_t &s, int worker, const indiv_t *people, int pass, passresult_t &r)
{
  if (s.cc) {
    // The pooled sample, the cases, the controls.
    float pooled = estimate(s, worker, people, 0, -1, HFOMCMD, "temp.hfo", false, nullptr, r).ll;
    float casesll = estimate(s, worker, people, 0, 1, HFASCMD, "temp1.hfo", false, s.hapwise ? &r.cases : nullptr, r).ll;
    float controlsll =
        estimate(s, worker, people, 0, 0, HFONCMD, "temp2.hfo", false, s.hapwise ? &r.controls : nullptr, r).ll;
    r.x2 = 2 * (casesll + controlsll - pooled);
    return;
  }
  // All selected loci; Block 1; Block 2, whose genotypes are never
  // permuted, in the observed pass only. Only the run over all selected
  // loci feeds the per-haplotype analysis.
  runread_t v = estimate(s, worker, people, 0, -1, HFOMCMD, "temp.hfo", true, s.hapwise ? &r.pooled : nullptr, r);
  r.chi0 = v.x2;
  r.ll0 = v.ll;
  if (s.selectp >= 0) {
    v = estimate(s, worker, people, 1, -1, HFOMCMD, "temp.hfo", true, nullptr, r);
    r.chi1 = v.x2;
    r.ll1 = v.ll;
  }
  if (pass == 0 && s.selectn >= 0) {
    v = estimate(s, worker, people, 2, -1, HFOMCMD, "temp.hfo", true, nullptr, r);
    r.chi2 = v.x2;
    r.ll2 = v.ll;
  }
}

void shuffle(const hfp_t &s, int *perm, int *work, int n, int locus)
{
  for (int k = 0; k < n; k++) {
    work[k] = k;
    perm[k] = k;
  }
  int m = 0;
  for (int j = 0; j < n; j++)
    if (s.individuals[j].pair[locus][0] != 0 && s.individuals[j].pair[locus][1] != 0)
      work[m++] = j;
  while (m >= 2) {
    m--;
    int g = rand() % m;
    int t = work[g];
    work[g] = work[m];
    work[m] = t;
  }
  int next = 0;
  for (int k = 0; k < n; k++)
    if (s.individuals[k].pair[locus][0] != 0 && s.individuals[k].pair[locus][1] != 0)
      perm[k] = work[next++];
}
