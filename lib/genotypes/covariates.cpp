// PLINK's covariate file (a header line FID IID NAME..., one line per
// sample) and cluster file (FID IID CLUSTER per line, no header), for the
// association tests of hfscan.

#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "tables.h"

namespace {

const double NA = std::numeric_limits<double>::quiet_NaN();

// A covariate value that is missing: NA, NaN, '.', or -9 (as text, or as
// the number in a numeric column).
bool missing_covariate(const std::string &v)
{
  return v.empty() || v == "-9" || missing_word(v);
}

} // namespace

covariates_t read_covariates(const std::string &path, const std::vector<std::string> &names,
                             const std::vector<sample_t> &samples, bool match_fid)
{
  table_lines_t in(path, "covariate");
  std::vector<std::string> header;
  if (!in.next(header))
    throw input_error(path + ": empty; expected a header line FID IID and the covariate names");
  if (header.size() < 2 || header_name(header[0]) != "FID" || header_name(header[1]) != "IID")
    throw input_error(in.at() + "expected a header line beginning FID IID, found \"" +
                       header[0] + (header.size() > 1 ? " " + header[1] : "") + "\"");
  const int header_line = in.line();
  const std::string header_at = in.at();
  std::map<std::string, size_t> column_of;
  for (size_t k = 2; k < header.size(); k++)
    if (!column_of.emplace(header[k], k).second)
      throw input_error(header_at + "the column " + header[k] + " appears twice");
  // The columns used, in the order asked (or the file's order).
  std::vector<size_t> cols;
  std::vector<std::string> used;
  if (names.empty()) {
    for (size_t k = 2; k < header.size(); k++) {
      cols.push_back(k);
      used.push_back(header[k]);
    }
  } else {
    std::set<std::string> seen;
    for (const std::string &n : names) {
      if (!seen.insert(n).second)
        continue;
      auto it = column_of.find(n);
      if (it == column_of.end())
        throw input_error(header_at + "the header has no covariate named " + n);
      cols.push_back(it->second);
      used.push_back(n);
    }
  }
  if (cols.empty())
    throw input_error(header_at + "the header names no covariate after FID IID");

  // The values of the samples of the input, as written: [sample][column].
  sample_matcher_t matcher(samples, match_fid, true);
  std::vector<std::vector<std::string>> text(samples.size());
  std::vector<std::string> f;
  while (in.next(f)) {
    if (f.size() != header.size())
      throw input_error(in.at() + "expected " + std::to_string(header.size()) +
                         " fields as in the header, found " + std::to_string(f.size()));
    int i = matcher.match(f[0], f[1], in.line(), in.at());
    if (i < 0)
      continue;
    std::vector<std::string> &row = text[static_cast<size_t>(i)];
    for (size_t c : cols)
      row.push_back(f[c]);
  }
  covariates_t cov;
  static_cast<table_match_t &>(cov) = matcher.result(path);

  // Each column numeric or categorical, then its design columns.
  const size_t n = samples.size();
  cov.x.assign(n, {});
  for (size_t c = 0; c < cols.size(); c++) {
    // Numeric when every value present is a number; then -9 is missing too.
    bool numeric = true;
    for (size_t i = 0; i < n && numeric; i++) {
      double v;
      numeric = text[i].empty() || missing_covariate(text[i][c]) || decimal_number(text[i][c], v);
    }
    std::set<std::string> levels;
    std::vector<double> value(n, NA);
    bool any = false;
    for (size_t i = 0; i < n; i++) {
      if (text[i].empty() || missing_covariate(text[i][c]))
        continue;
      double v;
      if (!numeric)
        levels.insert(text[i][c]);
      else if (decimal_number(text[i][c], v) && v != -9)
        value[i] = v;
      else
        continue;
      any = true;
    }
    if (!any)
      throw input_error(path + ", line " + std::to_string(header_line) + ": the covariate " +
                         used[c] + " has no value for any sample of the input");
    if (numeric) {
      cov.names.push_back(used[c]);
      for (size_t i = 0; i < n; i++)
        cov.x[i].push_back(value[i]);
      continue;
    }
    // Dummies for every level but the first (the reference), sorted by
    // bytes; a sample with a missing value is missing in all of them.
    std::vector<std::string> level(levels.begin(), levels.end());
    for (size_t l = 1; l < level.size(); l++)
      cov.names.push_back(used[c] + "=" + level[l]);
    for (size_t i = 0; i < n; i++) {
      bool miss = text[i].empty() || missing_covariate(text[i][c]);
      for (size_t l = 1; l < level.size(); l++)
        cov.x[i].push_back(miss ? NA : text[i][c] == level[l] ? 1.0 : 0.0);
    }
  }
  return cov;
}

clusters_t read_clusters(const std::string &path, const std::vector<sample_t> &samples,
                         bool match_fid)
{
  table_lines_t in(path, "cluster");
  sample_matcher_t matcher(samples, match_fid, true);
  clusters_t cl;
  cl.cluster.assign(samples.size(), -1);
  std::map<std::string, int> number;
  std::vector<std::string> f;
  while (in.next(f)) {
    if (f.size() != 3)
      throw input_error(in.at() + "expected 3 fields (FID, IID and the cluster), found " +
                         std::to_string(f.size()));
    int i = matcher.match(f[0], f[1], in.line(), in.at());
    if (i < 0)
      continue;
    auto [it, fresh] = number.emplace(f[2], static_cast<int>(cl.names.size()));
    if (fresh)
      cl.names.push_back(f[2]);
    cl.cluster[static_cast<size_t>(i)] = it->second;
  }
  static_cast<table_match_t &>(cl) = matcher.result(path);
  return cl;
}
