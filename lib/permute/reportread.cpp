// Reading the estimator's report back: the log-likelihood under linkage
// disequilibrium, the disequilibrium chi-square, the F/P counts and the table
// of nonzero haplotypes. Per-haplotype counts compare every permuted pass
// with the observed one.

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hfp.h"
#include "lines.h"

int nhaps0, fobs0, pobs0;
double *h0, *h1, *ftobs, *hidobs, *ftp;
int nhapcas0, nhapcon0, fobsca0, pobsca0, fobsco0, pobsco0;
double *h1caobs, *hidcaobs, *h1coobs, *hidcoobs;
double *ftccobs, *fticcobs, *ftssobs, *ftpcc;
int *scoredobs;

namespace {

const char LDMARK[] = "assuming linkage disequilibrium =";
const char X2MARK[] = "chi-square=";
const double ENDID = 4294967295.0; // above every haplotype identifier
const double ENDFREQ = 10;

// The value scanned with %f right after the marker in line, if any.
bool valueafter(const std::string &line, const char *marker, float *value)
{
  size_t at = line.find(marker);
  if (at == std::string::npos)
    return false;
  return sscanf(line.c_str() + at + strlen(marker), "%f", value) == 1;
}

double *table(int n)
{
  return static_cast<double *>(xmalloc(sizeof(double) * static_cast<size_t>(n > 0 ? n : 1)));
}

// A list of frequencies and identifiers with the end marker after its
// last row.
void endmarked(const std::vector<double> &freq, const std::vector<double> &id, double **f, double **i)
{
  size_t n = freq.size();
  *f = table(static_cast<int>(n + 1));
  *i = table(static_cast<int>(n + 1));
  for (size_t k = 0; k < n; k++) {
    (*f)[k] = freq[k];
    (*i)[k] = id[k];
  }
  (*f)[n] = ENDFREQ;
  (*i)[n] = ENDID;
}

[[noreturn]] void incomplete(const char *path, const char *what)
{
  hfpfail("The estimator's report %s is incomplete: %s\n", path, what);
}

FILE *openreport(const char *path, const char *command)
{
  FILE *f = fopen(path, "re");
  if (f == nullptr)
    hfpfail("The estimator (\"%s\") left no report %s\n", command, path);
  return f;
}

} // namespace

void readvalues(FILE *f, const char *path, const char *command, bool wantx2, runread_t &out)
{
  std::string line;
  float value = 0;
  bool haveln = false, havex2 = false;
  while (!(haveln && (!wantx2 || havex2)) && hs_getline(f, line)) {
    if (valueafter(line, LDMARK, &value)) {
      out.ll = value;
      haveln = true;
    }
    if (wantx2 && haveln && valueafter(line, X2MARK, &value)) {
      out.x2 = value;
      havex2 = true;
    }
  }
  if (!haveln)
    hfpfail("The report %s of \"%s\" has no log-likelihood under linkage disequilibrium\n", path, command);
  if (wantx2 && !havex2)
    hfpfail("The report %s of \"%s\" has no disequilibrium chi-square\n", path, command);
}

float getln(const char *path, const char *command)
{
  FILE *f = openreport(path, command);
  runread_t v;
  readvalues(f, path, command, false, v);
  fclose(f);
  return v.ll;
}

float getx2ln(float *out, const char *command)
{
  const char *path = "temp.hfo";
  FILE *f = openreport(path, command);
  runread_t v;
  readvalues(f, path, command, true, v);
  fclose(f);
  *out = v.ll;
  return v.x2;
}

void readtable(FILE *f, const char *path, hapreport_t &t)
{
  rewind(f);
  std::string line;
  bool counts = false, rows = false;
  while (!rows && hs_getline(f, line)) {
    if (line.find("with F/P") != std::string::npos)
      counts = sscanf(line.c_str(), "%d/%d", &t.full, &t.partial) == 2;
    size_t at = line.find("nonzero haplotypes =");
    if (at != std::string::npos)
      rows = sscanf(line.c_str() + at + strlen("nonzero haplotypes ="), "%d", &t.nhaps) == 1;
  }
  if (!counts)
    incomplete(path, "no F/P line");
  if (!rows || t.nhaps < 0)
    incomplete(path, "no count of nonzero haplotypes");
  rewind(f);
  bool head = false;
  while (!head && hs_getline(f, line))
    head = line.find("FT = sqrt") != std::string::npos;
  for (int i = 0; head && i < 3; i++)
    head = hs_getline(f, line);
  if (!head)
    incomplete(path, "no haplotype table");
  // The table is sized from the count line: rows beyond it are refused
  // before they are stored, so that a damaged count can neither ask for
  // memory the rows do not need nor leave rows unread.
  t.h1.clear();
  t.h0.clear();
  t.ft.clear();
  t.id.clear();
  while (hs_getline(f, line) && line.size() > 1) {
    if (static_cast<int>(t.id.size()) == t.nhaps)
      incomplete(path, "more table rows than nonzero haplotypes");
    double freq1, freq0, dev;
    int n = 0;
    const char *s = line.c_str();
    if (sscanf(s, "%*f %lf %lf %lf %n", &freq1, &freq0, &dev, &n) < 3 || n == 0)
      incomplete(path, "a haplotype row cannot be read");
    s += n;
    for (int l = 0; l <= selected; l++) {
      int allele;
      if (sscanf(s, "%d %n", &allele, &n) < 1)
        incomplete(path, "a haplotype row has too few alleles");
      s += n;
    }
    int id;
    if (sscanf(s, "%d", &id) != 1)
      incomplete(path, "a haplotype row has no identifier");
    t.h1.push_back(freq1);
    t.h0.push_back(freq0);
    t.ft.push_back(dev);
    t.id.push_back(id);
  }
  if (static_cast<int>(t.id.size()) < t.nhaps)
    incomplete(path, "fewer table rows than nonzero haplotypes");
}

void mergerows(const double *hca, const double *idca, const double *hco, const double *idco, int rows,
               mergerow_t *out)
{
  int ica = 0, ico = 0;
  double previd = 0;
  mergerow_t row = {0, 0, 0, 0, 0};
  for (int i = 0; i < rows; i++) {
    if (idca[ica] != ENDID || idco[ico] != ENDID) {
      if (idca[ica] < idco[ico]) {
        row = {idca[ica], hca[ica], 0, 1, 0};
        ica++;
      } else if (idca[ica] > idco[ico]) {
        row = {idco[ico], 0, hco[ico], 0, 0};
        ico++;
      } else {
        row = {idca[ica], hca[ica], hco[ico], 2, 0};
        ica++;
        ico++;
      }
    }
    row.scored = (row.hca > epsh || row.hco > epsh) && (row.hca < 10 || row.hco < 10) && row.id != previd;
    previd = row.id;
    out[i] = row;
  }
}

void foldpooled(const hapreport_t &t, int pass)
{
  if (pass == 0) {
    nhaps0 = t.nhaps;
    fobs0 = t.full;
    pobs0 = t.partial;
    for (double *old : {h0, h1, hidobs, ftobs, ftp})
      free(old);
    h0 = table(nhaps0);
    h1 = table(nhaps0);
    hidobs = table(nhaps0);
    ftobs = table(nhaps0);
    ftp = table(nhaps0);
    for (int i = 0; i < nhaps0; i++) {
      h1[i] = t.h1[i];
      h0[i] = t.h0[i];
      ftobs[i] = t.ft[i];
      hidobs[i] = t.id[i];
      ftp[i] = 0;
    }
    return;
  }
  for (int i = 0; i < nhaps0; i++)
    for (int j = 0; j < t.nhaps; j++)
      if (t.id[j] == hidobs[i]) {
        if (fabs(t.ft[j]) >= fabs(ftobs[i]))
          ftp[i]++;
        break;
      }
}

void foldcasecontrol(const hapreport_t &cases, const hapreport_t &controls, int pass)
{
  int nhaps = cases.nhaps + controls.nhaps;
  double *h1cas, *hidca, *h1con, *hidco;
  endmarked(cases.h1, cases.id, &h1cas, &hidca);
  endmarked(controls.h1, controls.id, &h1con, &hidco);
  if (pass == 0) {
    nhaps0 = nhaps;
    nhapcas0 = cases.nhaps;
    nhapcon0 = controls.nhaps;
    fobsca0 = cases.full;
    pobsca0 = cases.partial;
    fobsco0 = controls.full;
    pobsco0 = controls.partial;
    for (double *old : {h1caobs, hidcaobs, h1coobs, hidcoobs, ftccobs, fticcobs, ftpcc, ftssobs})
      free(old);
    free(scoredobs);
    endmarked(cases.h1, cases.id, &h1caobs, &hidcaobs);
    endmarked(controls.h1, controls.id, &h1coobs, &hidcoobs);
    ftccobs = table(nhaps);
    fticcobs = table(nhaps);
    ftpcc = table(nhaps);
    ftssobs = table(nhaps);
    scoredobs = static_cast<int *>(xmalloc(sizeof(int) * static_cast<size_t>(nhaps > 0 ? nhaps : 1)));
    for (int i = 0; i < nhaps; i++) {
      ftpcc[i] = 0;
      scoredobs[i] = 0;
    }
  }
  double *ftcc = table(nhaps), *fticc = table(nhaps), *ftss = table(nhaps);
  int *scored = static_cast<int *>(xmalloc(sizeof(int) * static_cast<size_t>(nhaps > 0 ? nhaps : 1)));
  double nca = cases.full + cases.partial, nco = controls.full + controls.partial;

  mergerow_t *rows = static_cast<mergerow_t *>(xmalloc(sizeof(mergerow_t) * static_cast<size_t>(nhaps > 0 ? nhaps : 1)));
  mergerows(h1cas, hidca, h1con, hidco, nhaps, rows);
  for (int i = 0; i < nhaps; i++) {
    scored[i] = rows[i].scored;
    if (!rows[i].scored)
      continue;
    double hca = rows[i].hca, hco = rows[i].hco;
    double m = (nca * hca + nco * hco) / (nca + nco);
    double var = m * (1 - m) * (0.5 / nca + 0.5 / nco);
    // Both groups at the same frequency of 0 or 1: no difference to test.
    double z = var > 0 ? (hca - hco) / sqrt(var) : 0;
    ftcc[i] = z;
    fticc[i] = rows[i].id;
    ftss[i] = rows[i].code;
    if (pass == 0) {
      ftccobs[i] = z;
      fticcobs[i] = rows[i].id;
      ftssobs[i] = rows[i].code;
      scoredobs[i] = 1;
    }
  }
  free(rows);

  if (pass > 0)
    for (int k = 0; k < nhaps0; k++) {
      if (!scoredobs[k])
        continue;
      for (int l = 0; l < nhaps; l++)
        if (scored[l] && fticc[l] == fticcobs[k] && ftss[l] == ftssobs[k]) {
          if (fabs(ftcc[l]) >= fabs(ftccobs[k]))
            ftpcc[k]++;
          break;
        }
    }
  for (double *done : {h1cas, hidca, h1con, hidco, ftcc, fticc, ftss})
    free(done);
  free(scored);
}

int gethappy(int kind, int a)
{
  (void)kind;
  auto tableof = [](const char *path, hapreport_t &t) {
    FILE *f = fopen(path, "re");
    if (f == nullptr)
      hfpfail("no file %s: %s\n", path, strerror(errno));
    readtable(f, path, t);
    fclose(f);
  };
  if (cc == 0) {
    hapreport_t t;
    tableof("temp.hfo", t);
    foldpooled(t, a);
  } else if (cc == 1) {
    hapreport_t cases, controls;
    tableof("temp1.hfo", cases);
    tableof("temp2.hfo", controls);
    foldcasecontrol(cases, controls, a);
  }
  return 0;
}

int revhapid(double id, int *out)
{
  long c = static_cast<long>(id) - 1;
  for (int i = 0; i <= selected; i++) {
    if (i == selected) {
      out[i] = static_cast<int>(c + 1);
    } else {
      out[i] = static_cast<int>(c / nalleles[i] + 1);
      c = c % nalleles[i];
    }
  }
  return 0;
}
