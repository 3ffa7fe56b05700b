// The interface's calls for data, estimation and results: each catches an
// exhausted memory at the library's door and returns its code.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <sys/stat.h>

#include "isdir.h"
#include "possible.h"
#include "report.h"

namespace {

// Whatever a state held of earlier data and results.
void resetdata(hfstate_t &s)
{
  hrtree(s.hrt);
  s.hrt = nullptr;
  freepossible(s);
  s.records.clear();
  s.member.clear();
  s.members = nullptr;
  s.nmembers = 0;
  s.memberpattern.clear();
  s.obscom = 0;
  s.estimated = 0;
  s.built = 0;
  s.steps.clear();
  s.result = hf_result_t();
  s.warnings.clear();
  s.message.clear();
  s.nomem = 0;
}

int emptylist(hfstate_t &s, const char *name)
{
  return hf_fail(s, HF_EDATA,
                 "Empty list.\n%s has no genotype record typed at any locus; there is nothing to estimate\n", name);
}

int readfrom(hfstate_t &s, FILE *f, const char *name)
{
  resetdata(s);
  int status = readheader(s, f, name);
  if (status != HF_OK)
    return status;
  // The records are read straight into the table; a record line takes at
  // least two characters per locus and six more, which bounds their number.
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    s.records.reserve(std::min<size_t>(static_cast<size_t>(st.st_size) / (2 * s.nloci + 6) + 1, size_t(1) << 20));
  status = readrecords(s, f, name, s.records);
  if (status != HF_OK)
    return status;
  if (ferror(f))
    return hf_fail(s, HF_EIO, "Error reading %s: %s\n", name, strerror(errno ? errno : EIO));
  s.obscom = static_cast<int>(s.records.size());
  if (s.obscom == 0)
    return emptylist(s, name);
  return HF_OK;
}

} // namespace

int hf_read(hfstate_t *s, FILE *f, const char *name)
{
  try {
    return readfrom(*s, f, name);
  } catch (const std::bad_alloc &) {
    return hf_nomemory(*s);
  }
}

FILE *hf_open_input(hfstate_t *s, const char *path)
{
  FILE *f = fopen(path, "r");
  if (f == nullptr) {
    hf_fail(*s, HF_EIO, "Sorry, is there file called %s ?\n", path);
    return nullptr;
  }
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(f);
    hf_fail(*s, HF_EIO, "%s " HS_ISDIR_TEXT "\n", path);
    return nullptr;
  }
  return f;
}

int hf_read_file(hfstate_t *s, const char *path)
{
  resetdata(*s);
  FILE *f = hf_open_input(s, path);
  if (f == nullptr)
    return HF_EIO;
  int status = hf_read(s, f, path);
  fclose(f);
  return status;
}

const std::vector<std::string> &hf_warnings(const hfstate_t *s)
{
  return s->warnings;
}

namespace {

// Forgets the data of an earlier estimate and takes the loci of records set
// from memory; HF_OK or HF_EDATA.
int setloci(hfstate_t &st, const int *alleles, int nloci)
{
  resetdata(st);
  st.nloci = 0;
  if (nloci < 1 || nloci > HF_MAXLOCI)
    return hf_fail(st, HF_EDATA, "%d loci; the estimator takes 1 to %d\n", nloci, HF_MAXLOCI);
  long long product = 1;
  st.nalleles = 1;
  for (int l = 0; l < nloci; l++) {
    if (alleles[l] < 1 || alleles[l] > HF_MAXALLELES)
      return hf_fail(st, HF_EDATA, "locus %d has %d alleles; allele counts must lie in 1..%d\n", l + 1, alleles[l],
                     HF_MAXALLELES);
    st.loci[l] = alleles[l];
    product *= alleles[l];
    if (product > INT_MAX)
      return hf_fail(st, HF_EDATA, "these %d loci have more than %d possible haplotypes\n", nloci, INT_MAX);
    st.nalleles = std::max(st.nalleles, alleles[l]);
  }
  st.nloci = nloci;
  st.hapall = static_cast<int>(product);
  st.ndiploid = st.nhaploid = 0;
  return HF_OK;
}

// Checks record number i (1-based, for messages) and puts its alleles in
// the estimator's order; *typed is false for a record typed at no locus,
// which is dropped. total adds up the instances of the records kept.
int acceptrecord(hfstate_t &st, geno_t &rec, size_t i, double &total, bool *typed)
{
  if (!std::isfinite(rec.instances) || rec.instances < 0)
    return hf_fail(st, HF_EDATA, "record %zu: the number of instances must be a finite number of 0 or more\n", i);
  if (st.xdata && rec.sex != 0 && rec.sex != 1)
    return hf_fail(st, HF_EDATA, "record %zu: sex value %d; it must be 0 (one allele per locus) or 1 (two)\n", i,
                   rec.sex);
  if (!st.xdata)
    rec.sex = 0;
  bool one = hemizygous(st, rec);
  int count = 0;
  for (int l = 0; l < st.nloci; l++) {
    if (one) {
      count += !allelemissing(st, rec.allele[l], l);
      continue;
    }
    int16_t &a = rec.allele[2 * l], &b = rec.allele[2 * l + 1];
    if (a > b)
      hilo(&a, &b);
    count += !allelemissing(st, a, l) && !allelemissing(st, b, l);
  }
  rec.y = 0;
  rec.gprob = 0;
  *typed = count > 0;
  if (!*typed)
    return HF_OK;
  total += rec.instances;
  if (total > 1e9)
    return hf_fail(st, HF_EDATA, "record %zu: the instances add up to more than 1e+09 individuals\n", i);
  return HF_OK;
}

int nothingtyped(hfstate_t &st)
{
  return hf_fail(st, HF_EDATA, "no genotype record is typed at any locus; there is nothing to estimate\n");
}

} // namespace

int hf_set_data(hfstate_t *s, const int *alleles, int nloci, const geno_t *records, size_t n)
{
  hfstate_t &st = *s;
  try {
    int status = setloci(st, alleles, nloci);
    if (status != HF_OK)
      return status;
    double total = 0;
    st.records.reserve(n);
    for (size_t i = 0; i < n; i++) {
      geno_t rec = records[i];
      bool typed;
      if ((status = acceptrecord(st, rec, i + 1, total, &typed)) != HF_OK)
        return status;
      if (!typed)
        continue;
      if (st.xdata)
        (hemizygous(st, rec) ? st.nhaploid : st.ndiploid)++;
      st.records.push_back(rec);
    }
    st.obscom = static_cast<int>(st.records.size());
    if (st.obscom == 0)
      return nothingtyped(st);
    return HF_OK;
  } catch (const std::bad_alloc &) {
    return hf_nomemory(st);
  }
}

int hf_set_classes(hfstate_t *s, const int *alleles, int nloci, const geno_t *classes, size_t nclasses,
                   const int *member, size_t nmember)
{
  hfstate_t &st = *s;
  try {
    int status = setloci(st, alleles, nloci);
    if (status != HF_OK)
      return status;
    // Each class's individuals, and the classes in order of their first
    // individual: the order in which records one per individual would
    // meet them.
    // Whole counts (exact as doubles); the scratch stays with the state.
    std::vector<size_t> &count = st.classcount;
    std::vector<int> &first = st.classfirst, &kept = st.classkept;
    count.assign(nclasses, 0);
    first.resize(nclasses + 1);  // each individual's class written at the next free place
    size_t *counts = count.data(), met = 0;
    int *firsts = first.data();
    for (size_t i = 0; i < nmember; i++) {
      int c = member[i];
      if (c < 0 || static_cast<size_t>(c) >= nclasses)
        return hf_fail(st, HF_EDATA, "individual %zu: class %d, of %zu classes numbered from 0\n", i + 1, c,
                       nclasses);
      firsts[met] = c;
      met += counts[c]++ == 0;
    }
    first.resize(met);
    kept.assign(nclasses, -1);
    double total = 0;
    st.records.reserve(first.size());
    // Classes kept under their own numbers (every class met, in order of
    // its first individual, and typed) leave the members as they are.
    bool same = first.size() == nclasses;
    for (int c : first) {
      st.records.push_back(classes[c]);
      geno_t &rec = st.records.back();
      rec.instances = static_cast<double>(count[c]);
      bool typed;
      if ((status = acceptrecord(st, rec, static_cast<size_t>(c) + 1, total, &typed)) != HF_OK) {
        st.records.pop_back();
        return status;
      }
      if (!typed) {
        st.records.pop_back();
        same = false;
        continue;
      }
      if (st.xdata)
        (hemizygous(st, rec) ? st.nhaploid : st.ndiploid) += static_cast<int>(rec.instances);
      same = same && static_cast<size_t>(c) == st.records.size() - 1;
      kept[c] = static_cast<int>(st.records.size() - 1);
    }
    st.obscom = static_cast<int>(st.records.size());
    if (st.obscom == 0)
      return nothingtyped(st);
    // Classes kept under their own numbers are read where they are.
    if (same) {
      st.members = member;
      st.nmembers = nmember;
      return HF_OK;
    }
    st.member.resize(nmember);
    int *members = st.member.data();
    size_t m = 0;
    for (size_t i = 0; i < nmember; i++) {
      const int k = kept[member[i]];
      members[m] = k;
      m += k >= 0;
    }
    st.member.resize(m);
    st.members = st.member.data();
    st.nmembers = m;
    return HF_OK;
  } catch (const std::bad_alloc &) {
    return hf_nomemory(st);
  }
}

const std::vector<geno_t> &hf_records(const hfstate_t *s)
{
  return s->records;
}

int hf_nloci(const hfstate_t *s)
{
  return s->nloci;
}

const int *hf_loci(const hfstate_t *s)
{
  return s->loci;
}

int hf_estimate(hfstate_t *s)
{
  hfstate_t &st = *s;
  st.estimated = 0;
  if (st.obscom == 0)
    return hf_fail(st, HF_EUSAGE, "there are no records to estimate from\n");
  try {
    if (!st.built) {
      buildpossible(st, st.records.data());
      st.built = 1;
    }
    int status = ehm(st, st.records.data());
    if (status != HF_OK)
      return status;
  } catch (const std::bad_alloc &) {
    return hf_nomemory(st);
  }
  st.estimated = 1;
  return HF_OK;
}

const hf_result_t *hf_result(const hfstate_t *s)
{
  return s->estimated ? &s->result : nullptr;
}

size_t hf_haplotypes(const hfstate_t *s, const int **number, const double **h1, const double **h0)
{
  if (!s->estimated) {
    *number = nullptr;
    *h1 = *h0 = nullptr;
    return 0;
  }
  *number = s->hapk.data();
  *h1 = s->h.data();
  *h0 = s->h0.data();
  return s->hapk.size();
}

void hf_hapalleles(const hfstate_t *s, int number, int16_t *alleles)
{
  hapalleles(*s, number, alleles);
}

size_t hf_patterns(const hfstate_t *s, const int **pattern)
{
  const hfstate_t &st = *s;
  *pattern = nullptr;
  if (!st.estimated)
    return 0;
  if (st.nmembers == 0) {
    *pattern = st.recpattern.data();
    return st.recpattern.size();
  }
  const memberview_t v = patternsof(st);
  *pattern = v.data();
  return v.size();
}

namespace {

int posteriors(hfstate_t *s, hf_posterior_t &out, bool pattern)
{
  hfstate_t &st = *s;
  if (!st.estimated)
    return hf_fail(st, HF_EUSAGE, "the posteriors need an estimate\n");
  try {
    const int *p;
    const size_t n = hf_patterns(s, &p);
    if (pattern)
      out.pattern.assign(p, p + n);
    else
      std::vector<int>().swap(out.pattern);
    out.first.assign(1, 0);
    out.pairs.clear();
    const double *h = st.h.data();
    for (size_t g = 0; g < st.patterns.size(); g++) {
      size_t start = out.pairs.size();
      double sum = 0;
      const bool hemi = st.patterns[g].hemi;
      // The terms are those of the genotype's probability: h(A) for one
      // allele per locus, h(A)^2 for a homozygous pair, 2 h(A) h(B) for a phase.
      forcompletions(st, static_cast<int>(g), [&](const compview_t &v) {
        if (hemi || v.hom) {
          double term = hemi ? h[v.a[0]] : h[v.a[0]] * h[v.a[0]];
          if (term > 0) {
            out.pairs.push_back({v.a[0], hemi ? -1 : v.a[0], term});
            sum += term;
          }
          return;
        }
        for (int t = 0; t < v.n; t++) {
          double term = 2 * h[v.a[t]] * h[v.b[t]];
          if (term > 0) {
            out.pairs.push_back({v.a[t], v.b[t], term});
            sum += term;
          }
        }
      });
      if (sum > 0)
        for (size_t k = start; k < out.pairs.size(); k++)
          out.pairs[k].p = out.pairs[k].p / sum;
      else
        out.pairs.resize(start);
      out.first.push_back(out.pairs.size());
    }
    return HF_OK;
  } catch (const std::bad_alloc &) {
    return hf_nomemory(st);
  }
}

} // namespace

int hf_posteriors(hfstate_t *s, hf_posterior_t &out)
{
  return posteriors(s, out, true);
}

int hf_posterior_pairs(hfstate_t *s, hf_posterior_t &out)
{
  return posteriors(s, out, false);
}
