// Reading the estimator's input file: a header line with the number of
// alleles at each locus, then one genotype record per line.

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "hf.h"
#include "lines.h"

namespace {

const char *skipws(const char *s)
{
  while (isspace(static_cast<unsigned char>(*s)))
    s++;
  return s;
}

// A decimal integer after optional white space, as %d reads it.
bool scanlong(const char *&s, long &value)
{
  char *end;
  errno = 0;
  long v = strtol(s, &end, 10);
  if (end == s)
    return false;
  if (errno == ERANGE)
    v = v < 0 ? LONG_MIN : LONG_MAX;
  value = v;
  s = end;
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

// "%hd/%hd": returns the number of alleles read (0, 1 or 2).
int scanslashpair(const char *&s, int16_t &a, int16_t &b)
{
  if (!scanallele(s, a))
    return 0;
  if (*s != '/')
    return 1;
  s++;
  return scanallele(s, b) ? 2 : 1;
}

// "%hd %hd": returns the number of alleles read.
int scanblankpair(const char *&s, int16_t &a, int16_t &b)
{
  if (!scanallele(s, a))
    return 0;
  return scanallele(s, b) ? 2 : 1;
}

// Largest total of instances: far beyond any sample, and small enough that
// the counts stay finite in the estimation and the counts of one-allele
// records fit the integer totals of the report.
const double MAXTOTAL = 1e9;

bool missingallele(int a, int l)
{
  return a < 1 || a > loci[l];
}

// The next line of the input. A line too long for the memory left ends the
// program like every other allocation of the estimator.
bool readline(FILE *f, std::string &line)
{
  try {
    return hs_getline(f, line);
  } catch (const std::bad_alloc &) {
    nomemory();
  }
}

// A NUL character hides the rest of its line from the scanning, so a damaged
// or binary file could otherwise be read as a shorter, valid one.
bool plaintext(const std::string &line, int lineno, const char *name)
{
  if (line.find('\0') == std::string::npos)
    return true;
  fprintf(stderr, "Line %d of %s holds a NUL character; the input must be plain text\n", lineno, name);
  return false;
}

} // namespace

void hilo(int16_t *a, int16_t *b)
{
  int16_t t = *a;
  *a = *b;
  *b = t;
}

void pilink(std::vector<geno_t> &list, const geno_t &rec)
{
  try {
    list.push_back(rec);
  } catch (const std::bad_alloc &) {
    nomemory();
  }
}

int readheader(FILE *f, const char *name)
{
  std::string line;
  nloci = 0;
  if (!readline(f, line)) {
    fprintf(stderr, "Line 1 of %s: no allele counts; the first line must give the number of alleles at each locus\n", name);
    return 1;
  }
  if (!plaintext(line, 1, name))
    return 1;
  const char *s = skipws(line.c_str());
  while (*s) {
    const char *start = s;
    long v = 0;
    bool ok = scanlong(s, v);
    if (!ok || (*s && !isspace(static_cast<unsigned char>(*s)))) {
      const char *stop = start;
      while (*stop && !isspace(static_cast<unsigned char>(*stop)))
        stop++;
      fprintf(stderr, "Line 1 of %s: \"%.*s\" is not a whole number of alleles\n", name,
              static_cast<int>(stop - start), start);
      return 1;
    }
    if (nloci == HF_MAXLOCI) {
      fprintf(stderr, "Line 1 of %s: more than %d loci; at most %d are allowed\n", name, HF_MAXLOCI,
              HF_MAXLOCI);
      return 1;
    }
    if (v < 1 || v > HF_MAXALLELES) {
      fprintf(stderr, "Line 1 of %s: locus %d has %ld alleles; allele counts must lie in 1..%d\n", name,
              nloci + 1, v, HF_MAXALLELES);
      return 1;
    }
    loci[nloci++] = static_cast<int>(v);
    s = skipws(s);
  }
  if (nloci == 0) {
    fprintf(stderr, "Line 1 of %s: no allele counts; the first line must give the number of alleles at each locus\n", name);
    return 1;
  }
  long long product = 1;
  nalleles = 1;
  for (int l = 0; l < nloci; l++) {
    product *= loci[l];
    if (product > INT_MAX) {
      fprintf(stderr, "Line 1 of %s: these %d loci have more than %d possible haplotypes\n", name, nloci,
              INT_MAX);
      return 1;
    }
    if (loci[l] > nalleles)
      nalleles = loci[l];
  }
  hapall = static_cast<int>(product);
  return 0;
}

int readrecords(FILE *f, const char *name, std::vector<geno_t> &list)
{
  std::string line;
  geno_t rec;
  memset(&rec, 0, sizeof rec);
  int accepted = 0;
  double total = 0;
  int lineno = 1;
  ndiploid = nhaploid = 0;
  while (readline(f, line)) {
    lineno++;
    if (!plaintext(line, lineno, name))
      return 1;
    const char *s = line.c_str();
    long id;
    if (!scanlong(s, id))
      break;
    char *end;
    double instances = strtod(s, &end);
    if (end == s)
      break;
    const char *numtext = s;
    s = skipws(end);
    if (*s == '\0')
      break;
    if (id < INT32_MIN || id > INT32_MAX) {
      fprintf(stderr, "Line %d of %s: the identifier does not fit in 32 bits\n", lineno, name);
      return 1;
    }
    if (!std::isfinite(instances) || instances < 0) {
      numtext = skipws(numtext);
      fprintf(stderr, "Line %d of %s: the number of instances must be a finite number of 0 or more, not \"%.*s\"\n",
              lineno, name, static_cast<int>(end - numtext), numtext);
      return 1;
    }
    rec.id = static_cast<int32_t>(id);
    rec.instances = instances;
    if (xdata) {
      long sex;
      if (!scanlong(s, sex)) {
        fprintf(stderr, "Line %d of %s: the sex value (0 for one allele per locus, 1 for two) is missing\n",
                lineno, name);
        return 1;
      }
      if (sex != 0 && sex != 1) {
        fprintf(stderr, "Line %d of %s: sex value %ld; it must be 0 (one allele per locus) or 1 (two)\n", lineno,
                name, sex);
        return 1;
      }
      rec.sex = static_cast<int16_t>(sex);
    }
    bool twoalleles = !xdata || rec.sex != 0;
    int typed = 0;
    for (int l = 0; l < nloci; l++) {
      if (twoalleles) {
        int16_t a = 0, b = 0;
        const char *t = s;
        int n = scanslashpair(t, a, b);
        if (n < 2 && !xdata) {
          t = s;
          n = scanblankpair(t, a, b);
        }
        if (n < 2) {
          fprintf(stderr, xdata ? "There isn't enough x data at line %d\n" : "There isn't enough data at line %d\n",
                  accepted + 1);
          return 1;
        }
        s = skipws(t);
        if (a > b)
          hilo(&a, &b);
        rec.allele[2 * l] = a;
        rec.allele[2 * l + 1] = b;
        if (!missingallele(a, l) && !missingallele(b, l))
          typed++;
      } else {
        int16_t a = 0;
        const char *t = s;
        if (!scanallele(t, a)) {
          fprintf(stderr, "There isn't enough x data at line %d\n", accepted + 1);
          return 1;
        }
        s = skipws(t);
        rec.allele[l] = a;
        if (!missingallele(a, l))
          typed++;
      }
    }
    rec.y = 0;
    if (typed > 0) {
      total += rec.instances;
      if (total > MAXTOTAL) {
        fprintf(stderr, "Line %d of %s: the instances add up to more than %.0e individuals; no sample is that large\n",
                lineno, name, MAXTOTAL);
        return 1;
      }
      if (xdata) {
        if (rec.sex == 0)
          nhaploid++;
        else
          ndiploid++;
      }
      pilink(list, rec);
      accepted++;
    }
  }
  return 0;
}

void listrecords(const geno_t *table)
{
  for (int i = 0; i < obscom; i++) {
    const geno_t &r = table[i];
    printf("%5d %.0f %hd", r.id, r.instances, r.sex);
    for (int l = 0; l < nloci; l++) {
      if (xdata && r.sex == 0)
        printf(" %2d", r.allele[l]);
      else
        printf(" %2d/%2d", r.allele[2 * l], r.allele[2 * l + 1]);
    }
    printf("\n");
  }
}
