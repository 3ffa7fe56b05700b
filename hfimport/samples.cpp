// Phenotype and sex tables: a header line naming the columns, then one line
// per sample. The sample is found by the IID column (also accepted: ID,
// SAMPLE), together with the FID column when the table has one and the
// input is a PLINK file.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>

#include "hfimport.h"

namespace {

std::string upper(std::string s)
{
  for (char &c : s)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

bool missing_code(const std::string &v)
{
  std::string u = upper(v);
  return v == "0" || v == "-9" || u == "NA" || v == "." || u == "NAN" || v.empty();
}

int status_value(const std::string &v, const std::string &at)
{
  if (v == "2")
    return STATUS_CASE;
  if (v == "1")
    return STATUS_CONTROL;
  if (missing_code(v))
    return STATUS_UNKNOWN;
  throw import_error(at + "status " + v + " is neither 2 (case), 1 (control) nor a missing "
                     "value (0, -9, NA, .)");
}

int sex_value(const std::string &v, const std::string &at)
{
  std::string u = upper(v);
  if (u == "1" || u == "M" || u == "MALE")
    return SEX_MALE;
  if (u == "2" || u == "F" || u == "FEMALE")
    return SEX_FEMALE;
  if (missing_code(v) || u == "U" || u == "UNKNOWN")
    return SEX_UNKNOWN;
  throw import_error(at + "sex " + v + " is neither 1 or M (male), 2 or F (female) nor a "
                     "missing value (0, -9, NA, .)");
}

// Reads the table and sets field(sample) from the named column through
// convert; returns nothing, the samples not listed get unknown.
template <typename Convert, typename Field>
void apply_table(const std::string &path, const std::string &column, std::vector<sample_t> &samples,
                 bool match_fid, const char *what, Convert convert, Field field)
{
  std::ifstream in(path);
  if (!in)
    throw import_error(path + ": cannot open the " + std::string(what) + " file");
  std::string line;
  int lineno = 0;
  std::vector<std::string> header;
  while (header.empty() && std::getline(in, line)) {
    lineno++;
    header = split_words(line);
  }
  int fid = -1, iid = -1, col = -1;
  for (size_t k = 0; k < header.size(); k++) {
    std::string h = upper(header[k]);
    if (!h.empty() && h[0] == '#')
      h.erase(0, 1);
    if (h == "FID" && fid < 0)
      fid = static_cast<int>(k);
    else if ((h == "IID" || h == "ID" || h == "SAMPLE") && iid < 0)
      iid = static_cast<int>(k);
    if (header[k] == column || upper(header[k]) == upper(column))
      col = static_cast<int>(k);
  }
  std::string head = path + ", line " + std::to_string(lineno) + ": ";
  if (iid < 0)
    throw import_error(head + "the header line names no sample column (IID, ID or SAMPLE)");
  if (col < 0)
    throw import_error(head + "the header line has no column named " + column);
  bool by_fid = match_fid && fid >= 0;

  // Where each sample stands in the window, by its key.
  std::map<std::string, int> index;
  for (size_t i = 0; i < samples.size(); i++) {
    const sample_t &s = samples[i];
    std::string key = by_fid ? s.fid + '\n' + s.iid : s.iid;
    if (!index.emplace(key, static_cast<int>(i)).second)
      index[key] = -1;  // the same IID in two families: ambiguous without FID
  }
  for (sample_t &s : samples)
    field(s) = 0;
  std::map<int, int> line_of;
  size_t need = static_cast<size_t>(std::max(std::max(fid, iid), col)) + 1;
  while (std::getline(in, line)) {
    lineno++;
    std::vector<std::string> f = split_words(line);
    if (f.empty())
      continue;
    std::string at = path + ", line " + std::to_string(lineno) + ": ";
    if (f.size() < need || (by_fid && f.size() <= static_cast<size_t>(fid)))
      throw import_error(at + "expected " + std::to_string(header.size()) + " fields as in the "
                         "header, found " + std::to_string(f.size()));
    std::string key = by_fid ? f[fid] + '\n' + f[iid] : f[iid];
    int value = convert(f[col], at);
    auto it = index.find(key);
    if (it == index.end())
      continue;  // a sample the genotype file does not have
    if (it->second < 0)
      throw import_error(at + "sample " + f[iid] + " belongs to several families of the "
                         "genotype file; add an FID column to tell them apart");
    auto [prev, fresh] = line_of.emplace(it->second, lineno);
    if (!fresh)
      throw import_error(at + "sample " + f[iid] + " is listed again (first on line " +
                         std::to_string(prev->second) + ")");
    field(samples[it->second]) = value;
  }
}

} // namespace

void apply_status_table(const std::string &path, const std::string &column,
                        std::vector<sample_t> &samples, bool match_fid)
{
  apply_table(path, column, samples, match_fid, "phenotype", status_value,
              [](sample_t &s) -> int & { return s.status; });
}

void apply_sex_table(const std::string &path, const std::string &column,
                     std::vector<sample_t> &samples, bool match_fid)
{
  apply_table(path, column, samples, match_fid, "sex", sex_value,
              [](sample_t &s) -> int & { return s.sex; });
}

void apply_status_table(const std::string &path, const std::string &column, window_t &w,
                        bool match_fid)
{
  apply_status_table(path, column, w.samples, match_fid);
}

void apply_sex_table(const std::string &path, const std::string &column, window_t &w,
                     bool match_fid)
{
  apply_sex_table(path, column, w.samples, match_fid);
}
