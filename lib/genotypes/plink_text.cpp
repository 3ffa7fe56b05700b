// PLINK text files: the .map (one line per marker) and the .ped (one line
// per individual: family, individual, father, mother, sex, phenotype, then
// two alleles per marker).

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string_view>

#include "genotypes.h"

namespace {

// The words of line as views into it, split at blanks, tabs and carriage returns.
void split_views(const std::string &line, std::vector<std::string_view> &words)
{
  words.clear();
  const char *p = line.data();
  size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && (p[i] == ' ' || p[i] == '\t' || p[i] == '\r'))
      i++;
    size_t start = i;
    while (i < n && p[i] != ' ' && p[i] != '\t' && p[i] != '\r')
      i++;
    if (i > start)
      words.emplace_back(p + start, i - start);
  }
}

} // namespace

std::vector<std::string> split_words(const std::string &line)
{
  std::vector<std::string_view> views;
  split_views(line, views);
  return std::vector<std::string>(views.begin(), views.end());
}

namespace {

// The sex and phenotype columns hold numbers, or NA or . for a missing
// value. A word there means the line is not an individual: most often a
// header line, which PLINK files do not have and which would otherwise shift
// every allele number by adding its column names as alleles.
void check_code(const std::string &code, const char *field, const std::string &at)
{
  if (code == "NA" || code == ".")
    return;
  char *end = nullptr;
  strtod(code.c_str(), &end);
  if (end == code.c_str() || *end != '\0')
    throw input_error(at + "the " + field + " field is \"" + code + "\", not a number; " +
                       "a line holds family, individual, father, mother, sex, phenotype and " +
                       "the alleles, and the file has no header line");
}

} // namespace

// 1 male, 2 female; any other number unknown, as PLINK reads the sex column.
int plink_sex(const std::string &code, const std::string &at)
{
  check_code(code, "sex", at);
  if (code == "1")
    return SEX_MALE;
  if (code == "2")
    return SEX_FEMALE;
  return SEX_UNKNOWN;
}

// 2 case, 1 control; 0, -9, NA and every other number (a quantitative
// trait) leave the status unknown.
int plink_status(const std::string &code, const std::string &at)
{
  check_code(code, "phenotype", at);
  if (code == "2")
    return STATUS_CASE;
  if (code == "1")
    return STATUS_CONTROL;
  return STATUS_UNKNOWN;
}

namespace {

std::string where(const std::string &path, int lineno)
{
  return path + ", line " + std::to_string(lineno) + ": ";
}

bool blank(const std::string &line)
{
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

} // namespace

// Chromosome, name, genetic distance and base-pair position; the three-column
// form without the genetic distance is accepted as well.
std::vector<marker_t> read_map(const std::string &path)
{
  std::ifstream in(path);
  if (!in)
    throw input_error(path + ": cannot open the marker map");
  std::vector<marker_t> markers;
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    lineno++;
    if (blank(line))
      continue;
    std::vector<std::string> w = split_words(line);
    if (w.size() != 3 && w.size() != 4)
      throw input_error(where(path, lineno) + "expected chromosome, marker name, "
                         "genetic distance and position, found " + std::to_string(w.size()) +
                         " fields");
    const std::string &pos = w.back();
    char *end = nullptr;
    errno = 0;
    long p = strtol(pos.c_str(), &end, 10);
    if (pos.empty() || *end != '\0' || errno != 0)
      throw input_error(where(path, lineno) + "position " + pos + " is not a whole number");
    marker_t m;
    m.chrom = w[0];
    m.name = w[1];
    m.pos = p;
    m.index = static_cast<int>(markers.size()) + 1;
    markers.push_back(m);
  }
  if (markers.empty())
    throw input_error(path + ": no marker in the map");
  return markers;
}

// A sample's family and individual identifiers must be unique: phenotype and
// sex tables find samples by them.
void add_sample(std::vector<sample_t> &samples, std::set<std::string> &seen, const sample_t &s,
                const std::string &at)
{
  if (!seen.insert(s.fid + '\n' + s.iid).second)
    throw input_error(at + "individual " + s.fid + " " + s.iid + " appears twice");
  samples.push_back(s);
}

namespace {

// One kept marker's calls of the whole .ped, as indexes into its spellings:
// one byte per allele while the marker has at most 255 spellings, four
// beyond (a column of free text can spell anything).
struct ped_column_t {
  std::vector<std::string> spellings;
  std::vector<uint8_t> a8, b8;   // 255: missing
  std::vector<int32_t> a32, b32; // -1: missing; used once wide
  bool wide = false;

  int32_t code(std::string_view spelling)
  {
    for (size_t k = 0; k < spellings.size(); k++)
      if (spellings[k] == spelling)
        return static_cast<int32_t>(k);
    spellings.emplace_back(spelling);
    if (spellings.size() > 255 && !wide) {
      wide = true;
      for (uint8_t x : a8)
        a32.push_back(x == 255 ? -1 : x);
      for (uint8_t x : b8)
        b32.push_back(x == 255 ? -1 : x);
      a8 = {};
      b8 = {};
    }
    return static_cast<int32_t>(spellings.size() - 1);
  }
  void add(int32_t x, int32_t y)
  {
    if (wide) {
      a32.push_back(x);
      b32.push_back(y);
    } else {
      a8.push_back(x < 0 ? 255 : static_cast<uint8_t>(x));
      b8.push_back(y < 0 ? 255 : static_cast<uint8_t>(y));
    }
  }
};

class ped_source_t : public marker_source_t {
 public:
  std::vector<ped_column_t> columns;  // [kept marker]
  size_t at = 0;

  bool next(marker_calls_t &out) override
  {
    if (at >= columns.size())
      return false;
    const ped_column_t &c = columns[at];
    out.marker = markers[at];
    out.spellings = c.spellings;
    size_t n = samples.size();
    out.a.resize(n);
    out.b.resize(n);
    for (size_t i = 0; i < n; i++) {
      if (c.wide) {
        out.a[i] = c.a32[i];
        out.b[i] = c.b32[i];
      } else {
        out.a[i] = c.a8[i] == 255 ? -1 : c.a8[i];
        out.b[i] = c.b8[i] == 255 ? -1 : c.b8[i];
      }
    }
    at++;
    return true;
  }
  void skip_to(size_t j) override { at = j; }
};

} // namespace

std::unique_ptr<marker_source_t> open_ped(const std::string &ped, const std::string &map,
                                          const selector_t &sel)
{
  std::vector<marker_t> all = read_map(map);
  std::vector<int> keep;  // input indexes of the kept markers
  auto src = std::make_unique<ped_source_t>();
  src->input_markers = all.size();
  for (size_t k = 0; k < all.size(); k++)
    if (wanted(sel, all[k])) {
      keep.push_back(static_cast<int>(k));
      src->markers.push_back(all[k]);
    }
  std::string missing = check_names_found(sel, src->markers, map);
  if (!missing.empty())
    src->warnings.push_back(missing);
  std::string repeated = duplicate_names(src->markers, map);
  if (!repeated.empty())
    src->warnings.push_back(repeated);
  src->columns.resize(keep.size());

  std::ifstream in(ped);
  if (!in)
    throw input_error(ped + ": cannot open the genotype file");
  std::set<std::string> seen;
  std::string line;
  int lineno = 0;
  const size_t expected = 6 + 2 * all.size();
  std::vector<std::string_view> f;  // the line's fields, views into line
  while (std::getline(in, line)) {
    lineno++;
    if (blank(line))
      continue;
    split_views(line, f);
    const std::string at = where(ped, lineno);
    if (f.size() != expected)
      throw input_error(at + "expected " + std::to_string(expected) +
                         " fields (6 for the individual and 2 alleles for each of the " +
                         std::to_string(all.size()) + " markers of " + map + "), found " +
                         std::to_string(f.size()));
    sample_t s;
    s.fid = std::string(f[0]);
    s.iid = std::string(f[1]);
    s.sex = plink_sex(std::string(f[4]), at);
    s.pheno = std::string(f[5]);
    s.status = plink_status(s.pheno, at);
    s.line = lineno;
    add_sample(src->samples, seen, s, at);
    for (size_t j = 0; j < keep.size(); j++) {
      const std::string_view a = f[6 + 2 * keep[j]], b = f[7 + 2 * keep[j]];
      ped_column_t &c = src->columns[j];
      // A call with one allele missing is missing as a whole.
      if (a != "0" && b != "0") {
        int32_t x = c.code(a);
        c.add(x, c.code(b));
      } else
        c.add(-1, -1);
    }
  }
  if (src->samples.empty())
    throw input_error(ped + ": no individual in the file");
  return src;
}

window_t read_ped(const std::string &ped, const std::string &map, const selector_t &sel)
{
  return read_window(*open_ped(ped, map, sel));
}
