// The window of markers: by a list of names, by a range of positions on one
// chromosome, or by a range of indexes in the input's marker order.

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "genotypes.h"

// Chromosome names as PLINK and VCF files spell them differently: "chr1",
// "1"; "X", "23", "chrX". The canonical form drops a "chr" prefix and uses
// the letters for the sex chromosomes and the mitochondrion.
std::string canonical_chrom(const std::string &chrom)
{
  std::string c = chrom;
  if (c.size() > 3 && (c.compare(0, 3, "chr") == 0 || c.compare(0, 3, "CHR") == 0 ||
                       c.compare(0, 3, "Chr") == 0))
    c = c.substr(3);
  for (char &ch : c)
    ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  if (c == "23")
    return "X";
  if (c == "24")
    return "Y";
  if (c == "25")
    return "XY";
  if (c == "26" || c == "M")
    return "MT";
  return c;
}

bool wanted(const selector_t &sel, const marker_t &m)
{
  if (sel.by_names) {
    for (const std::string &n : sel.names)
      if (n == m.name)
        return true;
    return false;
  }
  if (sel.by_region)
    return canonical_chrom(m.chrom) == canonical_chrom(sel.chrom) && m.pos >= sel.from &&
           m.pos <= sel.to;
  if (sel.by_index)
    return m.index >= sel.first && m.index <= sel.last;
  return true;
}

namespace {

// A whole decimal number, nothing else; false for empty text, signs other
// than a leading minus, or overflow.
bool whole_number(const std::string &text, long &value)
{
  if (text.empty())
    return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size())
    return false;
  for (size_t k = i; k < text.size(); k++)
    if (!isdigit(static_cast<unsigned char>(text[k])))
      return false;
  errno = 0;
  value = strtol(text.c_str(), nullptr, 10);
  return errno == 0;
}

} // namespace

// CHR:FROM-TO, positions inclusive; FROM-TO may be written with commas as
// thousands separators (1,200,000). CHR alone is the whole chromosome.
void parse_region(const std::string &text, selector_t &sel)
{
  size_t colon = text.rfind(':');
  std::string bad = "--region " + text + ": expected CHROMOSOME:FROM-TO, as in 6:29900000-30100000, "
                    "or CHROMOSOME alone, as in 22";
  if (colon == std::string::npos && !text.empty() &&
      text.find_first_of(" \t,") == std::string::npos) {
    sel.chrom = text;
    sel.from = LONG_MIN;
    sel.to = LONG_MAX;
    sel.by_region = true;
    return;
  }
  if (colon == std::string::npos || colon == 0)
    throw input_error(bad);
  std::string range;
  for (char ch : text.substr(colon + 1))
    if (ch != ',')
      range += ch;
  size_t dash = range.find('-', 1);
  long from, to;
  if (dash == std::string::npos || !whole_number(range.substr(0, dash), from) ||
      !whole_number(range.substr(dash + 1), to))
    throw input_error(bad);
  if (from > to)
    throw input_error("--region " + text + ": the first position is after the last");
  sel.chrom = text.substr(0, colon);
  sel.from = from;
  sel.to = to;
  sel.by_region = true;
}

// FIRST-LAST, 1-based and inclusive, in the order of the markers in the input.
void parse_index_range(const std::string &text, selector_t &sel)
{
  size_t dash = text.find('-');
  long first, last;
  if (dash == std::string::npos || !whole_number(text.substr(0, dash), first) ||
      !whole_number(text.substr(dash + 1), last))
    throw input_error("--index " + text + ": expected FIRST-LAST, as in 11-15");
  if (first < 1 || last < first || last > INT_MAX)
    throw input_error("--index " + text +
                       ": the first index must be 1 or more and not after the last");
  sel.first = static_cast<int>(first);
  sel.last = static_cast<int>(last);
  sel.by_index = true;
}

// Marker names separated by white space or line ends; '#' starts a comment.
void read_name_list(const std::string &path, selector_t &sel)
{
  std::ifstream in(path);
  if (!in)
    throw input_error(path + ": cannot open the marker name list");
  std::set<std::string> seen;
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    lineno++;
    size_t hash = line.find('#');
    if (hash != std::string::npos)
      line.erase(hash);
    for (const std::string &name : split_words(line)) {
      if (!seen.insert(name).second)
        throw input_error(path + ", line " + std::to_string(lineno) + ": marker " + name +
                           " is listed twice");
      sel.names.push_back(name);
    }
  }
  if (sel.names.empty())
    throw input_error(path + ": the marker name list names no marker");
  sel.by_names = true;
}

// Every listed name must have been found: a misspelt name would otherwise
// silently shrink the window.
std::string check_names_found(const selector_t &sel, const std::vector<marker_t> &kept,
                              const std::string &input)
{
  if (!sel.by_names)
    return "";
  std::set<std::string> found;
  for (const marker_t &m : kept)
    if (!found.insert(m.name).second)
      throw input_error(input + ": marker " + m.name + " appears more than once");
  std::string missing;
  int n = 0;
  for (const std::string &name : sel.names)
    if (!found.count(name)) {
      if (n < 5)
        missing += (n ? ", " : "") + name;
      n++;
    }
  if (!n)
    return "";
  std::string text = input + ": " + std::to_string(n) + " listed marker" + (n > 1 ? "s" : "") +
                     " not found: " + missing + (n > 5 ? ", ..." : "");
  if (!sel.allow_missing)
    throw input_error(text);
  return text + " (left out: --allow-missing-markers)";
}

// Windows, legends and tables name markers by their names: markers that
// share one cannot be told apart there. At most five names are listed.
std::string duplicate_names(const std::vector<marker_t> &kept, const std::string &input)
{
  std::map<std::string, std::vector<int>> where;
  std::vector<std::string> order;  // names borne twice or more, by first repeat
  for (const marker_t &m : kept) {
    std::vector<int> &at = where[m.name];
    at.push_back(m.index);
    if (at.size() == 2)
      order.push_back(m.name);
  }
  if (order.empty())
    return "";
  std::string list;
  for (size_t k = 0; k < order.size() && k < 5; k++) {
    const std::vector<int> &at = where[order[k]];
    list += (k ? ", " : "") + order[k] + " (markers ";
    for (size_t j = 0; j < at.size() && j < 4; j++)
      list += (j == 0 ? "" : j + 1 == at.size() ? " and " : ", ") + std::to_string(at[j]);
    list += std::string(at.size() > 4 ? ", ..." : "") + ")";
  }
  size_t n = order.size();
  return input + ": " + std::to_string(n) + " marker name" + (n == 1 ? " is" : "s are") +
         " borne by more than one marker, which windows and legends then cannot tell apart: " +
         list + (n > 5 ? ", ..." : "");
}
