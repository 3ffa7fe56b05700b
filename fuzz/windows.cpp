// Fuzz target: hfscan's window logic over a decoded marker stream. The input
// is three bytes of settings (window size, step, number of parts), then one
// record per marker: a chromosome byte, a byte of spellings count, the
// spellings (one byte each, so spellings repeat) and a byte per sample
// giving its two allele indexes (or missing), as a reader hands them on.
// It checks the windows against a direct count, the parts of a job array,
// and the allele numbering of every marker.

#include <algorithm>
#include <set>

#include "harness.h"
#include "hs_limits.h"
#include "scan.h"

namespace {

const char *CHROMS[] = {"1", "chr1", "2", "X", "23", "chrX", "MT", "Y"};
const size_t SAMPLES = 6;

// Windows by the definition: every start s, s + step, ... of each run of
// markers on one chromosome (in canonical spelling) that leaves a full
// window, and the markers on runs shorter than a window.
std::vector<size_t> expected_starts(const std::vector<marker_t> &m, size_t k, size_t step,
                                    size_t &short_markers)
{
  std::vector<size_t> out;
  short_markers = 0;
  size_t run = 0;
  while (run < m.size()) {
    size_t end = run;
    while (end < m.size() && canonical_chrom(m[end].chrom) == canonical_chrom(m[run].chrom))
      end++;
    if (end - run < k)
      short_markers += end - run;
    for (size_t s = run; s + k <= end; s += step)
      out.push_back(s);
    run = end;
  }
  return out;
}

void check_numbering(const marker_calls_t &mc)
{
  std::shared_ptr<scan_marker_t> sm = number_marker(mc);
  std::set<std::string> used;
  for (size_t i = 0; i < mc.a.size(); i++)
    if (mc.a[i] >= 0) {
      used.insert(mc.spellings[mc.a[i]]);
      used.insert(mc.spellings[mc.b[i]]);
    }
  if (used.empty() || used.size() > HF_MAXALLELES) {
    fuzz_check(!sm->problem.empty(), "an untyped or allele-rich marker has a problem");
    return;
  }
  fuzz_check(sm->problem.empty(), "a usable marker has no problem");
  fuzz_check(std::vector<std::string>(used.begin(), used.end()) == sm->m.alleles,
             "alleles are the called spellings in ascending order");
  fuzz_check(sm->calls() == mc.a.size(), "one call per sample");
  fuzz_check(used.size() <= 15 ? sm->a.empty() && sm->code.size() == mc.a.size() : sm->code.empty(),
             "a code per sample up to 15 alleles, allele numbers beyond");
  for (size_t i = 0; i < mc.a.size(); i++) {
    int x = sm->first(i), y = sm->second(i);
    if (mc.a[i] < 0) {
      fuzz_check(x == 0 && y == 0, "a missing call is 0");
      continue;
    }
    fuzz_check(x >= 1 && x <= y && y <= static_cast<int>(used.size()), "numbers in range, smaller first");
    std::string p = mc.spellings[mc.a[i]], q = mc.spellings[mc.b[i]];
    fuzz_check(sm->m.alleles[x - 1] == std::min(p, q) && sm->m.alleles[y - 1] == std::max(p, q),
               "numbers spell the call");
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 3)
    return 0;
  const int window = 1 + data[0] % 8, step = 1 + data[1] % 4, parts = 1 + data[2] % 9;
  size_t at = 3;
  std::vector<marker_t> markers;
  while (at + 2 <= size) {
    marker_calls_t mc;
    mc.marker.chrom = CHROMS[data[at] % 8];
    mc.marker.name = "m" + std::to_string(markers.size() + 1);
    mc.marker.index = static_cast<int>(markers.size()) + 1;
    size_t n = data[at + 1] % 64;
    at += 2;
    for (size_t k = 0; k < n && at < size; k++)
      mc.spellings.push_back(std::string(1, static_cast<char>(data[at++])));
    for (size_t i = 0; i < SAMPLES; i++) {
      int c = at < size ? data[at++] : 255;
      if (mc.spellings.empty() || c == 255) {
        mc.a.push_back(-1);
        mc.b.push_back(-1);
      } else {
        mc.a.push_back(static_cast<int32_t>((c & 15) % mc.spellings.size()));
        mc.b.push_back(static_cast<int32_t>((c >> 4) % mc.spellings.size()));
      }
    }
    check_numbering(mc);
    markers.push_back(mc.marker);
  }

  size_t short_markers = 0, want_short = 0;
  std::vector<size_t> starts = window_starts(markers, window, step, short_markers);
  fuzz_check(starts == expected_starts(markers, window, step, want_short), "the windows by definition");
  fuzz_check(short_markers == want_short, "markers on stretches shorter than a window");
  for (size_t s : starts)
    fuzz_check(x_chromosome(markers[s].chrom) == x_chromosome(markers[s + window - 1].chrom),
               "a window lies on one kind of chromosome");

  size_t next = 0, smallest = starts.size(), largest = 0;
  for (int k = 1; k <= parts; k++) {
    size_t lo, hi;
    chunk_range(starts.size(), k, parts, lo, hi);
    fuzz_check(lo == next && lo <= hi && hi <= starts.size(), "parts contiguous and in order");
    smallest = std::min(smallest, hi - lo);
    largest = std::max(largest, hi - lo);
    next = hi;
  }
  fuzz_check(next == starts.size(), "the parts cover every window");
  fuzz_check(largest - smallest <= 1, "parts differ in size by one at most");
  return 0;
}
