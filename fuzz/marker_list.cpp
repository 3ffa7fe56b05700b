// Fuzz target: the marker name list (--markers), then the check that every
// listed name is among the input's markers. The input is the list; the
// markers are a fixed map, the one of the seeds.

#include <set>

#include "harness.h"
#include "genotypes.h"

namespace {
std::vector<marker_t> markers;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  const char *names[] = {"rs6001", "rs6002", "rs6003", "rs6004", "rs6005", "rsX001", "rs6002"};
  for (const char *n : names) {
    marker_t m;
    m.chrom = "6";
    m.name = n;
    m.index = static_cast<int>(markers.size()) + 1;
    markers.push_back(m);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const char *list = fuzz_file("list.txt", data, size);
  selector_t sel;
  try {
    read_name_list(list, sel);
  } catch (const input_error &) {
    return 0;
  }
  fuzz_check(sel.by_names && !sel.names.empty(), "an accepted list names a marker");
  std::set<std::string> names;
  for (const std::string &n : sel.names) {
    fuzz_check(names.insert(n).second, "names are unique");
    fuzz_check(!n.empty() && n.find_first_of(" \t\r\n#") == std::string::npos,
               "a name is one word without a comment");
  }
  std::vector<marker_t> kept;
  for (const marker_t &m : markers)
    if (wanted(sel, m))
      kept.push_back(m);
  bool complete = true;
  try {
    check_names_found(sel, kept, "in.map");
  } catch (const input_error &) {
    complete = false;
  }
  std::set<std::string> found;
  bool twice = false;
  for (const marker_t &m : kept)
    twice |= !found.insert(m.name).second;
  fuzz_check(complete == (!twice && found.size() == names.size()),
             "the list is accepted exactly when every name is found once");
  return 0;
}
