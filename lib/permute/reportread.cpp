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

// A list of frequencies and identifiers with the end marker after its
// last row.
void endmarked(const std::vector<double> &freq, const std::vector<double> &id, std::vector<double> &f,
               std::vector<double> &i)
{
  f = freq;
  i = id;
  f.push_back(ENDFREQ);
  i.push_back(ENDID);
}

[[noreturn]] void incomplete(const char *path, const char *what)
{
  hfpfail("The estimator's report %s is incomplete: %s\n", path, what);
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

void readtable(FILE *f, const char *path, int selected, hapreport_t &t)
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
               double epsh, mergerow_t *out)
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

void foldpooled(hfp_t &s, const hapreport_t &t, int pass)
{
  if (pass == 0) {
    s.nhaps0 = t.nhaps;
    s.fobs0 = t.full;
    s.pobs0 = t.partial;
    s.h1 = t.h1;
    s.h0 = t.h0;
    s.ftobs = t.ft;
    s.hidobs = t.id;
    s.ftp.assign(static_cast<size_t>(s.nhaps0), 0);
    return;
  }
  for (int i = 0; i < s.nhaps0; i++)
    for (int j = 0; j < t.nhaps; j++)
      if (t.id[j] == s.hidobs[i]) {
        if (fabs(t.ft[j]) >= fabs(s.ftobs[i]))
          s.ftp[i]++;
        break;
      }
}

void foldcasecontrol(hfp_t &s, const hapreport_t &cases, const hapreport_t &controls, int pass)
{
  int nhaps = cases.nhaps + controls.nhaps;
  size_t rows = static_cast<size_t>(nhaps);
  std::vector<double> h1cas, hidca, h1con, hidco;
  endmarked(cases.h1, cases.id, h1cas, hidca);
  endmarked(controls.h1, controls.id, h1con, hidco);
  if (pass == 0) {
    s.nhaps0 = nhaps;
    s.nhapcas0 = cases.nhaps;
    s.nhapcon0 = controls.nhaps;
    s.fobsca0 = cases.full;
    s.pobsca0 = cases.partial;
    s.fobsco0 = controls.full;
    s.pobsco0 = controls.partial;
    s.h1caobs = h1cas;
    s.hidcaobs = hidca;
    s.h1coobs = h1con;
    s.hidcoobs = hidco;
    s.ftccobs.assign(rows, 0);
    s.fticcobs.assign(rows, 0);
    s.ftssobs.assign(rows, 0);
    s.ftpcc.assign(rows, 0);
    s.scoredobs.assign(rows, 0);
  }
  std::vector<double> ftcc(rows), fticc(rows), ftss(rows);
  std::vector<int> scored(rows);
  double nca = cases.full + cases.partial, nco = controls.full + controls.partial;

  std::vector<mergerow_t> merged(rows);
  mergerows(h1cas.data(), hidca.data(), h1con.data(), hidco.data(), nhaps, s.epsh, merged.data());
  for (int i = 0; i < nhaps; i++) {
    scored[i] = merged[i].scored;
    if (!merged[i].scored)
      continue;
    double hca = merged[i].hca, hco = merged[i].hco;
    // Both groups at the same frequency of 0 or 1: no difference to test.
    double z = 0;
    hs_casecontrol_z(hca, hco, nca, nco, &z);
    ftcc[i] = z;
    fticc[i] = merged[i].id;
    ftss[i] = merged[i].code;
    if (pass == 0) {
      s.ftccobs[i] = z;
      s.fticcobs[i] = merged[i].id;
      s.ftssobs[i] = merged[i].code;
      s.scoredobs[i] = 1;
    }
  }

  if (pass > 0)
    for (int k = 0; k < s.nhaps0; k++) {
      if (!s.scoredobs[k])
        continue;
      for (int l = 0; l < nhaps; l++)
        if (scored[l] && fticc[l] == s.fticcobs[k] && ftss[l] == s.ftssobs[k]) {
          if (fabs(ftcc[l]) >= fabs(s.ftccobs[k]))
            s.ftpcc[k]++;
          break;
        }
    }
}

void revhapid(const hfp_t &s, double id, int *out)
{
  long c = static_cast<long>(id) - 1;
  for (int i = 0; i <= s.selected; i++) {
    if (i == s.selected) {
      out[i] = static_cast<int>(c + 1);
    } else {
      out[i] = static_cast<int>(c / s.nalleles[i] + 1);
      c = c % s.nalleles[i];
    }
  }
}
