// Phenotype and sex tables: a header line naming the columns, then one line
// per sample. The sample is found by the IID column (also accepted: ID,
// SAMPLE), together with the FID column when the table has one and the
// input is a PLINK file; a VCF sample name by the IID or by FID_IID.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "lines.h"
#include "tables.h"

namespace {

std::string count_of(size_t n, const char *one, const char *many)
{
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

// ---------------------------------------------------------------- lines

table_lines_t::table_lines_t(const std::string &path, const char *what) : path_(path)
{
  f_ = fopen(path.c_str(), "rb");
  if (!f_)
    throw input_error(path + ": cannot open the " + what + " file: " + strerror(errno));
}

table_lines_t::~table_lines_t()
{
  if (f_)
    fclose(f_);
}

bool table_lines_t::next(std::vector<std::string> &words)
{
  for (;;) {
    bool any = hs_getline(f_, text_);
    if (ferror(f_))
      throw input_error(path_ + ": cannot read: " + strerror(errno));
    if (!any)
      return false;
    line_++;
    if (line_ == 1 && text_.compare(0, 3, "\xEF\xBB\xBF") == 0)
      text_.erase(0, 3);  // a byte-order mark, as some editors write
    if (text_.find('\0') != std::string::npos)
      throw input_error(at() + "a NUL byte: not a text file");
    words = split_words(text_);
    if (!words.empty())
      return true;
  }
}

std::string table_lines_t::at() const
{
  return path_ + ", line " + std::to_string(line_) + ": ";
}

// ---------------------------------------------------------------- matching

sample_matcher_t::sample_matcher_t(const std::vector<sample_t> &samples, bool match_fid,
                                   bool table_has_fid)
    : samples_(samples), by_pair_(match_fid && table_has_fid),
      joined_(!match_fid && table_has_fid), line_of_(samples.size(), 0)
{
  if (by_pair_)
    m_.by = "FID and IID";
  else
    m_.by = "IID";
  for (size_t i = 0; i < samples.size(); i++) {
    const sample_t &s = samples[i];
    std::string key = by_pair_ ? s.fid + '\n' + s.iid : s.iid;
    if (!index_.emplace(key, static_cast<int>(i)).second)
      index_[key] = -1;  // the same IID in two families: ambiguous without FID
  }
}

int sample_matcher_t::lookup(const std::string &key) const
{
  auto it = index_.find(key);
  return it == index_.end() ? -2 : it->second;
}

int sample_matcher_t::match(const std::string &fid, const std::string &iid, int line,
                            const std::string &at)
{
  if (m_.rows++ == 0) {
    first_fid_ = fid;
    first_iid_ = iid;
  }
  int i;
  if (by_pair_) {
    i = lookup(fid + '\n' + iid);
  } else {
    i = lookup(iid);
    if (i == -1)
      throw input_error(at + "sample " + iid + " belongs to several families of the "
                         "genotype file; add an FID column to tell them apart");
    int j = joined_ ? lookup(fid + '_' + iid) : -2;
    if (i >= 0 && j >= 0 && i != j)
      throw input_error(at + "family " + fid + ", individual " + iid + " names two samples of "
                         "the input: " + iid + " by IID and " + fid + "_" + iid + " by FID_IID");
    if (i >= 0)
      by_iid_++;
    else if (j >= 0) {
      i = j;
      by_joined_++;
    }
  }
  if (i < 0) {
    m_.unknown++;
    return -1;
  }
  int &first = line_of_[static_cast<size_t>(i)];
  if (first)
    throw input_error(at + "sample " + iid + " is listed again (first on line " +
                       std::to_string(first) + ")");
  first = line;
  m_.matched++;
  return i;
}

table_match_t sample_matcher_t::result(const std::string &path) const
{
  table_match_t m = m_;
  if (by_joined_ && by_iid_)
    m.by = "IID (" + count_of(by_iid_, "row", "rows") + ") and FID_IID (" +
           count_of(by_joined_, "row", "rows") + ")";
  else if (by_joined_)
    m.by = "FID_IID";
  if (m.matched)
    return m;
  std::string tried = by_pair_ ? "FID and IID" : joined_ ? "IID or FID_IID" : "IID";
  std::string msg = path + ": no row names a sample of the input (" + std::to_string(m.rows) +
                    " row" + (m.rows == 1 ? "" : "s") + " read, matched by " + tried + ")";
  if (m.rows && !samples_.empty()) {
    const sample_t &s = samples_[0];
    msg += "; the first row names " + (by_pair_ || joined_ ? first_fid_ + " " : "") +
           first_iid_ + ", the input's first sample is " +
           (by_pair_ ? s.fid + " " + s.iid : s.iid);
  }
  throw input_error(msg);
}

std::string table_note(const std::string &path, const table_match_t &m)
{
  bool joined = m.by.find("FID_IID") != std::string::npos;
  if (!m.unknown && !joined)
    return "";
  std::string note = path + ": " +
                     (m.unknown ? std::to_string(m.matched) + " of " : "every one of ") +
                     count_of(m.rows, "row", "rows") + " matched a sample of the input by " + m.by;
  if (m.unknown)
    note += "; " + std::to_string(m.unknown) + (m.unknown == 1 ? " names" : " name") +
            " no sample and " + (m.unknown == 1 ? "is" : "are") + " left out";
  return note;
}

// ---------------------------------------------------------------- words

std::string header_name(const std::string &word)
{
  std::string h = word;
  if (!h.empty() && h[0] == '#')
    h.erase(0, 1);
  for (char &c : h)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return h;
}

bool decimal_number(const std::string &text, double &v)
{
  size_t i = 0, n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-'))
    i++;
  size_t digits = 0;
  while (i < n && isdigit(static_cast<unsigned char>(text[i])))
    i++, digits++;
  if (i < n && text[i] == '.') {
    i++;
    while (i < n && isdigit(static_cast<unsigned char>(text[i])))
      i++, digits++;
  }
  if (!digits)
    return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    i++;
    if (i < n && (text[i] == '+' || text[i] == '-'))
      i++;
    size_t exp = 0;
    while (i < n && isdigit(static_cast<unsigned char>(text[i])))
      i++, exp++;
    if (!exp)
      return false;
  }
  if (i != n)
    return false;
  v = strtod(text.c_str(), nullptr);
  return std::isfinite(v);
}

bool missing_word(const std::string &text)
{
  if (text == ".")
    return true;
  if (text.size() != 2 && text.size() != 3)
    return false;
  std::string u = header_name(text);
  return u == "NA" || u == "NAN";
}

namespace {

bool missing_code(const std::string &v)
{
  return v == "0" || v == "-9" || v.empty() || missing_word(v);
}

int status_value(const std::string &v, const std::string &at)
{
  if (v == "2")
    return STATUS_CASE;
  if (v == "1")
    return STATUS_CONTROL;
  if (missing_code(v))
    return STATUS_UNKNOWN;
  throw input_error(at + "status " + v + " is neither 2 (case), 1 (control) nor a missing "
                     "value (0, -9, NA, .)");
}

int sex_value(const std::string &v, const std::string &at)
{
  std::string u = header_name(v);
  if (u == "1" || u == "M" || u == "MALE")
    return SEX_MALE;
  if (u == "2" || u == "F" || u == "FEMALE")
    return SEX_FEMALE;
  if (missing_code(v) || u == "U" || u == "UNKNOWN")
    return SEX_UNKNOWN;
  throw input_error(at + "sex " + v + " is neither 1 or M (male), 2 or F (female) nor a "
                     "missing value (0, -9, NA, .)");
}

// The columns of a phenotype or sex table's header: the sample columns and
// the named one (an empty name takes the first column that is neither).
struct header_t {
  int fid = -1, iid = -1, col = -1;
  size_t fields = 0, need = 0;
  std::string name;  // the column's name as the header writes it
};

header_t read_header(table_lines_t &in, const std::string &column)
{
  std::vector<std::string> words;
  header_t h;
  if (!in.next(words))
    throw input_error(in.path() + ": empty; expected a header line naming the columns");
  h.fields = words.size();
  for (size_t k = 0; k < words.size(); k++) {
    std::string name = header_name(words[k]);
    if (name == "FID" && h.fid < 0)
      h.fid = static_cast<int>(k);
    else if ((name == "IID" || name == "ID" || name == "SAMPLE") && h.iid < 0)
      h.iid = static_cast<int>(k);
    else if (column.empty() && h.col < 0)
      h.col = static_cast<int>(k);
    if (!column.empty() && (words[k] == column || header_name(words[k]) == header_name(column)))
      h.col = static_cast<int>(k);
  }
  if (h.iid < 0)
    throw input_error(in.at() + "the header line names no sample column (IID, ID or SAMPLE)");
  if (h.col < 0)
    throw input_error(in.at() + "the header line has no column " +
                       (column.empty() ? std::string("besides the sample columns")
                                       : "named " + column));
  h.need = static_cast<size_t>(std::max(std::max(h.fid, h.iid), h.col)) + 1;
  h.name = words[static_cast<size_t>(h.col)];
  return h;
}

} // namespace

std::string phenotype_column(const std::string &path, const std::string &value, bool by_number)
{
  table_lines_t in(path, "phenotype");
  std::vector<std::string> words;
  if (!in.next(words))
    throw input_error(path + ": empty; expected a header line naming the columns");
  bool digits = !value.empty() && value.size() <= 9 &&
                value.find_first_not_of("0123456789") == std::string::npos;
  if (!by_number) {
    for (const std::string &w : words)
      if (w == value || header_name(w) == header_name(value))
        return value;
    if (!digits)
      return value;  // the reader names the column that is missing
  }
  size_t k = digits ? static_cast<size_t>(atol(value.c_str())) : 0;
  if (k < 1 || k > words.size())
    throw input_error(in.at() + "no column " + value + (by_number ? "" : " by name or number") +
                       ": the header line has " + count_of(words.size(), "column", "columns"));
  int fid = -1, iid = -1;
  for (size_t j = 0; j < words.size(); j++) {
    std::string name = header_name(words[j]);
    if (name == "FID" && fid < 0)
      fid = static_cast<int>(j);
    else if ((name == "IID" || name == "ID" || name == "SAMPLE") && iid < 0)
      iid = static_cast<int>(j);
  }
  const std::string &name = words[k - 1];
  if (static_cast<int>(k - 1) == fid || static_cast<int>(k - 1) == iid)
    throw input_error(in.at() + "column " + value + " is " + name +
                       ", which names the individuals, not a phenotype");
  for (size_t j = 0; j < words.size(); j++)
    if (j != k - 1 && header_name(words[j]) == header_name(name))
      throw input_error(in.at() + "column " + value + " is " + name + ", a name that column " +
                         std::to_string(j + 1) + " bears too");
  return name;
}

namespace {

// Reads the table and hands each row that names a sample to take(sample,
// value, line); every row's value goes through check(value, at) first, so a
// bad value is refused wherever it stands. name receives the column's name.
template <typename Check, typename Take>
table_match_t read_column(const std::string &path, const std::string &column,
                          const std::vector<sample_t> &samples, bool match_fid, const char *what,
                          std::string &name, Check check, Take take)
{
  table_lines_t in(path, what);
  header_t h = read_header(in, column);
  name = h.name;
  sample_matcher_t matcher(samples, match_fid, h.fid >= 0);
  std::vector<std::string> f;
  const std::string none;
  while (in.next(f)) {
    std::string at = in.at();
    if (f.size() < h.need)
      throw input_error(at + "expected " + std::to_string(h.fields) + " fields as in the "
                         "header, found " + std::to_string(f.size()));
    check(f[h.col], at);
    int i = matcher.match(h.fid >= 0 ? f[h.fid] : none, f[h.iid], in.line(), at);
    if (i >= 0)
      take(static_cast<size_t>(i), f[h.col], in.line());
  }
  return matcher.result(path);
}

template <typename Convert, typename Field>
table_match_t apply_table(const std::string &path, const std::string &column,
                          std::vector<sample_t> &samples, bool match_fid, const char *what,
                          Convert convert, Field field)
{
  // Read into a copy: a refused table leaves the samples as they were.
  std::vector<int> value(samples.size(), 0);
  std::string name;
  table_match_t m = read_column(
      path, column, samples, match_fid, what, name,
      [&](const std::string &v, const std::string &at) { convert(v, at); },
      [&](size_t i, const std::string &v, int) { value[i] = convert(v, ""); });
  for (size_t i = 0; i < samples.size(); i++)
    field(samples[i]) = value[i];
  return m;
}

} // namespace

table_match_t apply_status_table(const std::string &path, const std::string &column,
                                 std::vector<sample_t> &samples, bool match_fid)
{
  return apply_table(path, column, samples, match_fid, "phenotype", status_value,
                     [](sample_t &s) -> int & { return s.status; });
}

table_match_t apply_sex_table(const std::string &path, const std::string &column,
                              std::vector<sample_t> &samples, bool match_fid)
{
  return apply_table(path, column, samples, match_fid, "sex", sex_value,
                     [](sample_t &s) -> int & { return s.sex; });
}

table_match_t apply_status_table(const std::string &path, const std::string &column,
                                 window_t &w, bool match_fid)
{
  return apply_status_table(path, column, w.samples, match_fid);
}

table_match_t apply_sex_table(const std::string &path, const std::string &column, window_t &w,
                              bool match_fid)
{
  return apply_sex_table(path, column, w.samples, match_fid);
}

// ---------------------------------------------------------------- trait

namespace {

// One sample's value as written, and where it was read for a message.
struct raw_value_t {
  std::string text;  // empty: the sample has none
  int line = 0;
};

const double NA = std::numeric_limits<double>::quiet_NaN();

} // namespace

trait_t read_trait(const std::vector<sample_t> &samples, const std::string &pheno_path,
                   const std::string &column, trait_kind_t kind, bool match_fid)
{
  trait_t t;
  std::vector<raw_value_t> raw(samples.size());
  std::string from;
  if (!pheno_path.empty()) {
    std::string name;
    static_cast<table_match_t &>(t) = read_column(
        pheno_path, column, samples, match_fid, "phenotype", name,
        [](const std::string &, const std::string &) {},
        [&](size_t i, const std::string &v, int line) { raw[i] = {v, line}; });
    from = "column " + name + " of " + pheno_path;
  } else {
    for (size_t i = 0; i < samples.size(); i++)
      raw[i] = {samples[i].pheno, samples[i].line};
    from = "the phenotype column of the .ped/.fam";
  }
  // Where a value was read, for a message.
  auto at = [&](size_t i) {
    if (!pheno_path.empty())
      return pheno_path + ", line " + std::to_string(raw[i].line) + ": ";
    return "the .ped/.fam, line " + std::to_string(raw[i].line) + " (individual " +
           samples[i].fid + " " + samples[i].iid + "): ";
  };

  // Binary unless a value other than 1, 2 and the missing codes is found.
  t.binary = kind != TRAIT_QUANTITATIVE;
  size_t other = samples.size();  // the first value that is not binary
  for (size_t i = 0; i < samples.size() && other == samples.size(); i++) {
    const std::string &v = raw[i].text;
    double x;
    if (v.empty() || missing_word(v))
      continue;
    if (!decimal_number(v, x) || (x != 1 && x != 2 && x != 0 && x != -9))
      other = i;
  }
  if (other < samples.size()) {
    if (kind == TRAIT_BINARY)
      throw input_error(at(other) + "phenotype " + raw[other].text + " is neither 2 (case), "
                         "1 (control) nor a missing value (0, -9, NA, .) of a binary trait");
    t.binary = false;
  }

  t.y.assign(samples.size(), NA);
  size_t cases = 0, controls = 0, values = 0;
  for (size_t i = 0; i < samples.size(); i++) {
    const std::string &v = raw[i].text;
    double x;
    if (v.empty() || missing_word(v))
      continue;
    if (!decimal_number(v, x))
      throw input_error(at(i) + "phenotype " + v + " is not a number (a quantitative trait "
                         "takes numbers, and NA, . or -9 for a missing value)");
    if (x == -9 || (t.binary && x == 0))
      continue;
    t.y[i] = t.binary ? x - 1 : x;
    values++;
    cases += t.binary && x == 2;
    controls += t.binary && x == 1;
  }
  size_t missing = samples.size() - values;
  if (t.binary)
    t.how = "binary trait from " + from + ": " + count_of(cases, "case", "cases") + ", " +
            count_of(controls, "control", "controls") + ", " + std::to_string(missing) +
            " missing; " +
            (kind == TRAIT_BINARY ? "binary as asked"
                                  : "every value is 1, 2 or a missing code (0, -9, NA, .)");
  else if (kind == TRAIT_QUANTITATIVE)
    t.how = "quantitative trait from " + from + ": " + count_of(values, "value", "values") +
            ", " + std::to_string(missing) + " missing; quantitative as asked";
  else {
    std::string where = at(other);
    where.resize(where.size() - 2);  // without ": "
    t.how = "quantitative trait from " + from + ": " + count_of(values, "value", "values") +
            ", " + std::to_string(missing) + " missing; the value " + raw[other].text + " (" +
            where + ") is not 1, 2 or a missing code, so 0 is a value and -9, NA and . are "
            "missing";
  }
  return t;
}
