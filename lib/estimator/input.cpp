// Reading the estimator's input file: a header line with the number of
// alleles at each locus, then one genotype record per line.

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "hf.h"
#include "lines.h"

namespace {

// White space as isspace knows it in the C locale.
inline bool blank(char c)
{
  return c == ' ' || (c >= '\t' && c <= '\r');
}

const char *skipws(const char *s)
{
  while (blank(*s))
    s++;
  return s;
}

// The number of instances, as strtod reads it. A plain count of a few
// digits, the usual case, is read here; anything else goes to strtod.
double scancount(const char *s, char **end)
{
  const char *p = skipws(s);
  double v = 0;
  int n = 0;
  for (; p[n] >= '0' && p[n] <= '9' && n < 15; n++)
    v = v * 10 + (p[n] - '0');
  char next = p[n];
  if (n > 0 && !(next >= '0' && next <= '9') && next != '.' && next != 'e' && next != 'E' && next != 'x' &&
      next != 'X') {
    *end = const_cast<char *>(p + n);
    return v;
  }
  return strtod(s, end);
}

// A decimal integer after optional white space, as %d reads it (strtol in
// base 10, in the C locale): a sign, then digits; beyond the range of long
// the value is the nearest bound.
bool scanlong(const char *&s, long &value)
{
  const char *p = skipws(s);
  bool negative = *p == '-';
  if (*p == '-' || *p == '+')
    p++;
  if (*p < '0' || *p > '9')
    return false;
  // Eighteen digits cannot pass the range of long; longer numbers are
  // checked digit by digit.
  unsigned long acc = 0;
  int n = 0;
  for (; p[n] >= '0' && p[n] <= '9' && n < 18; n++)
    acc = acc * 10 + static_cast<unsigned>(p[n] - '0');
  p += n;
  unsigned long limit = negative ? 0UL - static_cast<unsigned long>(LONG_MIN) : static_cast<unsigned long>(LONG_MAX);
  bool over = false;
  for (; *p >= '0' && *p <= '9'; p++) {
    unsigned d = static_cast<unsigned>(*p - '0');
    if (over || acc > (limit - d) / 10)
      over = true;
    else
      acc = acc * 10 + d;
  }
  if (over)
    value = negative ? LONG_MIN : LONG_MAX;
  else
    value = negative ? static_cast<long>(0UL - acc) : static_cast<long>(acc);
  s = p;
  return true;
}

// A 16-bit allele number, as %hd reads it. A number outside the 16-bit
// range is no allele of any locus, so it is kept as 0: missing.
bool scanallele(const char *&s, int16_t &allele)
{
  long v;
  if (!scanlong(s, v))
    return false;
  allele = (v < INT16_MIN || v > INT16_MAX) ? 0 : static_cast<int16_t>(v);
  return true;
}

// A genotype: "%hd/%hd", or where blank allows it "%hd %hd" when the slash
// form fails. Returns the number of alleles read (0, 1 or 2). Both forms
// read the first allele alike, so it is read once.
int scanpair(const char *&s, int16_t &a, int16_t &b, bool blank)
{
  if (!scanallele(s, a))
    return 0;
  if (*s == '/') {
    s++;
    return scanallele(s, b) ? 2 : 1;
  }
  if (!blank)
    return 1;
  return scanallele(s, b) ? 2 : 1;
}

// Largest total of instances: far beyond any sample, and small enough that
// the counts stay finite in the estimation and the counts of one-allele
// records fit the integer totals of the report.
const double MAXTOTAL = 1e9;

bool missingallele(const hfstate_t &s, int a, int l)
{
  return a < 1 || a > s.loci[l];
}

// The next line of the input. A line too long for the memory left throws
// std::bad_alloc, which the interface turns into its code.
bool readline(FILE *f, std::string &line)
{
  return hs_getline(f, line);
}

// A NUL character hides the rest of its line from the scanning, so a damaged
// or binary file could otherwise be read as a shorter, valid one.
bool plaintext(hfstate_t &s, const std::string &line, int lineno, const char *name)
{
  if (line.find('\0') == std::string::npos)
    return true;
  hf_fail(s, HF_EDATA, "Line %d of %s holds a NUL character; the input must be plain text\n", lineno, name);
  return false;
}

} // namespace

void hilo(int16_t *a, int16_t *b)
{
  int16_t t = *a;
  *a = *b;
  *b = t;
}

int readheader(hfstate_t &st, FILE *f, const char *name)
{
  std::string line;
  st.nloci = 0;
  if (!readline(f, line)) {
    return hf_fail(st, HF_EDATA, "Line 1 of %s: no allele counts; the first line must give the number of alleles at each locus\n", name);
  }
  if (!plaintext(st, line, 1, name))
    return HF_EDATA;
  const char *s = skipws(line.c_str());
  while (*s) {
    const char *start = s;
    long v = 0;
    bool ok = scanlong(s, v);
    if (!ok || (*s && !isspace(static_cast<unsigned char>(*s)))) {
      const char *stop = start;
      while (*stop && !isspace(static_cast<unsigned char>(*stop)))
        stop++;
      return hf_fail(st, HF_EDATA, "Line 1 of %s: \"%.*s\" is not a whole number of alleles\n", name,
              static_cast<int>(stop - start), start);
    }
    if (st.nloci == HF_MAXLOCI) {
      return hf_fail(st, HF_EDATA, "Line 1 of %s: more than %d loci; at most %d are allowed\n", name, HF_MAXLOCI,
              HF_MAXLOCI);
    }
    if (v < 1 || v > HF_MAXALLELES) {
      return hf_fail(st, HF_EDATA, "Line 1 of %s: locus %d has %ld alleles; allele counts must lie in 1..%d\n", name,
              st.nloci + 1, v, HF_MAXALLELES);
    }
    st.loci[st.nloci++] = static_cast<int>(v);
    s = skipws(s);
  }
  if (st.nloci == 0) {
    return hf_fail(st, HF_EDATA, "Line 1 of %s: no allele counts; the first line must give the number of alleles at each locus\n", name);
  }
  long long product = 1;
  st.nalleles = 1;
  for (int l = 0; l < st.nloci; l++) {
    product *= st.loci[l];
    if (product > INT_MAX) {
      return hf_fail(st, HF_EDATA, "Line 1 of %s: these %d loci have more than %d possible haplotypes\n", name, st.nloci,
              INT_MAX);
    }
    if (st.loci[l] > st.nalleles)
      st.nalleles = st.loci[l];
  }
  st.hapall = static_cast<int>(product);
  return HF_OK;
}

int readrecords(hfstate_t &st, FILE *f, const char *name, std::vector<geno_t> &list)
{
  std::string line;
  geno_t rec;
  memset(&rec, 0, sizeof rec);
  int accepted = 0;
  double total = 0;
  int lineno = 1;
  int extra = 0, extraline = 0;
  st.ndiploid = st.nhaploid = 0;
  st.warnings.clear();
  while (readline(f, line)) {
    lineno++;
    if (!plaintext(st, line, lineno, name))
      return HF_EDATA;
    const char *s = line.c_str();
    long id;
    if (!scanlong(s, id))
      break;
    char *end;
    double instances = scancount(s, &end);
    if (end == s)
      break;
    const char *numtext = s;
    s = skipws(end);
    if (*s == '\0')
      break;
    if (id < INT32_MIN || id > INT32_MAX) {
      return hf_fail(st, HF_EDATA, "Line %d of %s: the identifier does not fit in 32 bits\n", lineno, name);
    }
    if (!std::isfinite(instances) || instances < 0) {
      numtext = skipws(numtext);
      return hf_fail(st, HF_EDATA, "Line %d of %s: the number of instances must be a finite number of 0 or more, not \"%.*s\"\n",
              lineno, name, static_cast<int>(end - numtext), numtext);
    }
    rec.id = static_cast<int32_t>(id);
    rec.instances = instances;
    if (st.xdata) {
      long sex;
      if (!scanlong(s, sex)) {
        return hf_fail(st, HF_EDATA, "Line %d of %s: the sex value (0 for one allele per locus, 1 for two) is missing\n",
                lineno, name);
      }
      if (sex != 0 && sex != 1) {
        return hf_fail(st, HF_EDATA, "Line %d of %s: sex value %ld; it must be 0 (one allele per locus) or 1 (two)\n", lineno,
                name, sex);
      }
      rec.sex = static_cast<int16_t>(sex);
    }
    bool twoalleles = !st.xdata || rec.sex != 0;
    int typed = 0;
    for (int l = 0; l < st.nloci; l++) {
      if (twoalleles) {
        int16_t a = 0, b = 0;
        const char *t = s;
        int n = scanpair(t, a, b, st.xdata == 0);
        if (n < 2) {
          return hf_fail(st, HF_EDATA, st.xdata ? "There isn't enough x data at line %d\n" : "There isn't enough data at line %d\n",
                  accepted + 1);
        }
        s = skipws(t);
        if (a > b)
          hilo(&a, &b);
        rec.allele[2 * l] = a;
        rec.allele[2 * l + 1] = b;
        if (!missingallele(st, a, l) && !missingallele(st, b, l))
          typed++;
      } else {
        int16_t a = 0;
        const char *t = s;
        if (!scanallele(t, a)) {
          return hf_fail(st, HF_EDATA, "There isn't enough x data at line %d\n", accepted + 1);
        }
        s = skipws(t);
        rec.allele[l] = a;
        if (!missingallele(st, a, l))
          typed++;
      }
    }
    // The header rules the number of loci; a record with more genotypes is
    // read up to it, which the user should hear of. Other text after the
    // last locus is ignored, as it always was.
    if (*s != '\0') {
      int16_t a = 0, b = 0;
      const char *t = s;
      bool more = twoalleles ? scanpair(t, a, b, st.xdata == 0) == 2 : scanallele(t, a);
      if (more && extra++ == 0)
        extraline = lineno;
    }
    rec.y = 0;
    if (typed > 0) {
      total += rec.instances;
      if (total > MAXTOTAL) {
        return hf_fail(st, HF_EDATA, "Line %d of %s: the instances add up to more than %.0e individuals; no sample is that large\n",
                lineno, name, MAXTOTAL);
      }
      if (st.xdata) {
        if (rec.sex == 0)
          st.nhaploid++;
        else
          st.ndiploid++;
      }
      list.push_back(rec);
      accepted++;
    }
  }
  if (extra > 0) {
    char count[40] = "";
    if (extra > 1)
      snprintf(count, sizeof count, " (%d lines)", extra);
    char text[700];
    snprintf(text, sizeof text,
             "Warning: line %d of %.400s holds more genotypes than the %d %s of line 1; the rest of %s is "
             "ignored%s\n",
             extraline, name, st.nloci, st.nloci == 1 ? "locus" : "loci", extra == 1 ? "that line" : "such lines",
             count);
    st.warnings.push_back(text);
  }
  return HF_OK;
}

void listrecords(const hfstate_t &s, const geno_t *table, FILE *f)
{
  for (int i = 0; i < s.obscom; i++) {
    const geno_t &r = table[i];
    fprintf(f, "%5d %.0f %hd", r.id, r.instances, r.sex);
    for (int l = 0; l < s.nloci; l++) {
      if (s.xdata && r.sex == 0)
        fprintf(f, " %2d", r.allele[l]);
      else
        fprintf(f, " %2d/%2d", r.allele[2 * l], r.allele[2 * l + 1]);
    }
    fprintf(f, "\n");
  }
}
