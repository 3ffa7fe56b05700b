// Reading the estimator's report back: the log-likelihood under linkage
// disequilibrium, the disequilibrium chi-square, the F/P counts and the table
// of nonzero haplotypes. Per-haplotype counts compare every permuted pass
// with the observed one.

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hfp.h"
#include "lines.h"

int nhaps, fobs, pobs, nhaps0, fobs0, pobs0;
double *h0, *h1, *ftobs, *hidobs, *ftp, *ft, *hid;
int nhapcas, nhapcon, fobsca, pobsca, fobsco, pobsco;
int nhapcas0, nhapcon0, fobsca0, pobsca0, fobsco0, pobsco0;
double *h1cas, *hidca, *h1con, *hidco;
double *h1caobs, *hidcaobs, *h1coobs, *hidcoobs;
double *ftcc, *fticc, *ftss, *ftccobs, *fticcobs, *ftssobs, *ftpcc;
int *scored, *scoredobs;

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

// A list of n haplotype frequencies and identifiers with the end marker
// after its last row.
void endmarked(int n, double **freq, double **id)
{
  *freq = table(n + 1);
  *id = table(n + 1);
  (*freq)[n] = ENDFREQ;
  (*id)[n] = ENDID;
}

[[noreturn]] void incomplete(const char *path, const char *what)
{
  hfpfail("The estimator's report %s is incomplete: %s\n", path, what);
}

} // namespace

float getln(const char *path, const char *command)
{
  FILE *f = fopen(path, "r");
  if (f == nullptr)
    hfpfail("The estimator (\"%s\") left no report %s\n", command, path);
  std::string line;
  float value = 0;
  bool found = false;
  while (!found && hs_getline(f, line))
    found = valueafter(line, LDMARK, &value);
  fclose(f);
  if (!found)
    hfpfail("The report %s of \"%s\" has no log-likelihood under linkage disequilibrium\n", path, command);
  return value;
}

float getx2ln(float *out, const char *command)
{
  const char *path = "temp.hfo";
  FILE *f = fopen(path, "r");
  if (f == nullptr)
    hfpfail("The estimator (\"%s\") left no report %s\n", command, path);
  std::string line;
  float value = 0;
  bool haveln = false, havex2 = false;
  while (!havex2 && hs_getline(f, line)) {
    if (valueafter(line, LDMARK, &value)) {
      *out = value;
      haveln = true;
    }
    if (haveln && valueafter(line, X2MARK, &value))
      havex2 = true;
  }
  fclose(f);
  if (!haveln)
    hfpfail("The report %s of \"%s\" has no log-likelihood under linkage disequilibrium\n", path, command);
  if (!havex2)
    hfpfail("The report %s of \"%s\" has no disequilibrium chi-square\n", path, command);
  return value;
}

void getnhaps(FILE *f, const char *path, int *full, int *partial)
{
  std::string line;
  bool counts = false, rows = false;
  while (!rows && hs_getline(f, line)) {
    if (line.find("with F/P") != std::string::npos)
      counts = sscanf(line.c_str(), "%d/%d", full, partial) == 2;
    size_t at = line.find("nonzero haplotypes =");
    if (at != std::string::npos)
      rows = sscanf(line.c_str() + at + strlen("nonzero haplotypes ="), "%d", &nhaps) == 1;
  }
  if (!counts)
    incomplete(path, "no F/P line");
  if (!rows || nhaps < 0)
    incomplete(path, "no count of nonzero haplotypes");
  rewind(f);
  bool head = false;
  while (!head && hs_getline(f, line))
    head = line.find("FT = sqrt") != std::string::npos;
  for (int i = 0; head && i < 3; i++)
    head = hs_getline(f, line);
  if (!head)
    incomplete(path, "no haplotype table");
  // The tables are sized from the count line: hold it against the rows
  // present before any table is allocated, so that a damaged count can
  // neither ask for memory the rows do not need nor leave rows unread.
  long first = ftell(f);
  int present = 0;
  while (present <= nhaps && hs_getline(f, line) && line.size() > 1)
    present++;
  if (present > nhaps)
    incomplete(path, "more table rows than nonzero haplotypes");
  if (present < nhaps)
    incomplete(path, "fewer table rows than nonzero haplotypes");
  if (first < 0 || fseek(f, first, SEEK_SET) != 0)
    incomplete(path, "the haplotype table cannot be read twice");
}

void geth(FILE *f, const char *path, int kind, int a)
{
  if (a == 0) {
    if (kind == 0) {
      endmarked(nhaps, &h1coobs, &hidcoobs);
    } else if (kind == 1) {
      endmarked(nhaps, &h1caobs, &hidcaobs);
    } else {
      h0 = table(nhaps);
      h1 = table(nhaps);
      hidobs = table(nhaps);
      ftobs = table(nhaps);
      ftp = table(nhaps);
      for (int i = 0; i < nhaps; i++)
        ftp[i] = 0;
    }
  }
  if (kind == 0) {
    endmarked(nhaps, &h1con, &hidco);
  } else if (kind == 1) {
    endmarked(nhaps, &h1cas, &hidca);
  } else {
    ft = table(nhaps);
    hid = table(nhaps);
  }

  std::string line;
  int row = 0;
  while (hs_getline(f, line) && line.size() > 1) {
    if (row == nhaps)
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
    if (kind == 0) {
      h1con[row] = freq1;
      hidco[row] = id;
      if (a == 0) {
        h1coobs[row] = freq1;
        hidcoobs[row] = id;
      }
    } else if (kind == 1) {
      h1cas[row] = freq1;
      hidca[row] = id;
      if (a == 0) {
        h1caobs[row] = freq1;
        hidcaobs[row] = id;
      }
    } else {
      ft[row] = dev;
      hid[row] = id;
      if (a == 0) {
        h1[row] = freq1;
        h0[row] = freq0;
        ftobs[row] = dev;
        hidobs[row] = id;
      }
    }
    row++;
  }
  fclose(f);
  if (row < nhaps)
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

int gethappy(int kind, int a)
{
  (void)kind;
  if (cc == 0) {
    FILE *f = fopen("temp.hfo", "r");
    if (f == nullptr)
      hfpfail("no file temp.hfo: %s\n", strerror(errno));
    getnhaps(f, "temp.hfo", &fobs, &pobs);
    if (a == 0) {
      nhaps0 = nhaps;
      fobs0 = fobs;
      pobs0 = pobs;
    }
    geth(f, "temp.hfo", 2, a);
    if (a > 0)
      for (int i = 0; i < nhaps0; i++)
        for (int j = 0; j < nhaps; j++)
          if (hid[j] == hidobs[i]) {
            if (fabs(ft[j]) >= fabs(ftobs[i]))
              ftp[i]++;
            break;
          }
    free(ft);
    free(hid);
    ft = hid = nullptr;
    return 0;
  }
  if (cc != 1)
    return 0;

  FILE *f = fopen("temp1.hfo", "r");
  if (f == nullptr)
    hfpfail("no file temp1.hfo: %s\n", strerror(errno));
  getnhaps(f, "temp1.hfo", &fobsca, &pobsca);
  nhapcas = nhaps;
  geth(f, "temp1.hfo", 1, a);
  f = fopen("temp2.hfo", "r");
  if (f == nullptr)
    hfpfail("no file temp2.hfo: %s\n", strerror(errno));
  getnhaps(f, "temp2.hfo", &fobsco, &pobsco);
  geth(f, "temp2.hfo", 0, a);
  nhapcon = nhaps;
  nhaps = nhapcas + nhapcon;

  if (a == 0) {
    nhaps0 = nhaps;
    nhapcas0 = nhapcas;
    nhapcon0 = nhapcon;
    fobsca0 = fobsca;
    pobsca0 = pobsca;
    fobsco0 = fobsco;
    pobsco0 = pobsco;
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
  ftcc = table(nhaps);
  fticc = table(nhaps);
  ftss = table(nhaps);
  scored = static_cast<int *>(xmalloc(sizeof(int) * static_cast<size_t>(nhaps > 0 ? nhaps : 1)));
  double nca = fobsca + pobsca, nco = fobsco + pobsco;

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
    if (a == 0) {
      ftccobs[i] = z;
      fticcobs[i] = rows[i].id;
      ftssobs[i] = rows[i].code;
      scoredobs[i] = 1;
    }
  }
  free(rows);

  if (a > 0)
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
  free(h1cas);
  free(hidca);
  free(h1con);
  free(hidco);
  free(ftcc);
  free(fticc);
  free(ftss);
  free(scored);
  h1cas = hidca = h1con = hidco = ftcc = fticc = ftss = nullptr;
  scored = nullptr;
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
