// Windows along the kept markers, and the parts of a scan for job arrays.

#include "hs_limits.h"
#include <algorithm>
#include <climits>
#include <cstddef>
#include <utility>

#include "scan.h"

bool x_chromosome(const std::string &chrom)
{
  return canonical_chrom(chrom) == "X";
}

std::vector<size_t> window_starts(const std::vector<marker_t> &markers, int window, int step,
                                  size_t &short_markers)
{
  std::vector<size_t> starts;
  short_markers = 0;
  const size_t k = static_cast<size_t>(window);
  size_t run = 0;  // first marker of the current chromosome stretch
  for (size_t i = 1; i <= markers.size(); i++) {
    if (i < markers.size() &&
        canonical_chrom(markers[i].chrom) == canonical_chrom(markers[run].chrom))
      continue;
    // markers[run .. i) lie on one chromosome.
    if (i - run < k)
      short_markers += i - run;
    for (size_t s = run; s + k <= i; s += static_cast<size_t>(step))
      starts.push_back(s);
    run = i;
  }
  return starts;
}

// Part k takes windows floor((k-1) total / n) .. floor(k total / n) - 1: the
// parts are contiguous, cover every window once, and differ in size by at
// most one.
void chunk_range(size_t total, int k, int n, size_t &lo, size_t &hi)
{
  unsigned long long t = total;
  lo = static_cast<size_t>(t * static_cast<unsigned>(k - 1) / static_cast<unsigned>(n));
  hi = static_cast<size_t>(t * static_cast<unsigned>(k) / static_cast<unsigned>(n));
}

std::shared_ptr<scan_marker_t> number_marker(const marker_calls_t &mc)
{
  auto sm = std::make_shared<scan_marker_t>();
  sm->m = mc.marker;
  size_t n = mc.a.size();
  // Flags of a byte each, set by plain stores (bits would be read, changed
  // and written back, each waiting on the last); a missing call marks the
  // spare flag at the end.
  const size_t nspell = mc.spellings.size();
  std::vector<char> flag(nspell + 1, 0);
  char *marks = flag.data();
  for (size_t i = 0; i < n; i++) {
    const bool typed = mc.a[i] >= 0;
    marks[typed ? static_cast<size_t>(mc.a[i]) : nspell] = 1;
    marks[typed ? static_cast<size_t>(mc.b[i]) : nspell] = 1;
  }
  std::vector<bool> called(flag.begin(), flag.begin() + static_cast<std::ptrdiff_t>(nspell));
  std::vector<int> number;
  int count = number_spellings(mc.spellings, called, sm->m.alleles, number);
  if (count == 0) {
    sm->problem = "untyped marker " + sm->m.name;
    return sm;
  }
  if (count > HF_MAXALLELES) {
    sm->problem = sm->m.name + " has " + std::to_string(count) + " alleles, more than " +
                  std::to_string(HF_MAXALLELES);
    return sm;
  }
  const bool coded = count <= 15;
  const int digit = count + 1;
  if (coded) {
    while ((1 << sm->code_bits) < digit * digit)
      sm->code_bits++;
    sm->code.resize(n);
  } else {
    sm->a.resize(n);
    sm->b.resize(n);
  }
  int16_t *a = sm->a.data(), *b = sm->b.data();
  uint8_t *code = coded ? sm->code.data() : nullptr;
  for (size_t i = 0; i < n; i++) {
    int x = 0, y = 0;
    if (mc.a[i] >= 0) {
      const int u = number[mc.a[i]], v = number[mc.b[i]];
      x = std::min(u, v);
      y = std::max(u, v);
    }
    if (coded) {
      code[i] = static_cast<uint8_t>(x * digit + y);
    } else {
      a[i] = static_cast<int16_t>(x);
      b[i] = static_cast<int16_t>(y);
    }
  }
  return sm;
}

int largest_snp_window()
{
  int k = 0;
  for (long long haplotypes = 2; haplotypes <= INT_MAX; haplotypes *= 2)
    k++;
  return k;
}

// A two-allele genotype has, over the completions of its missing loci,
// O ordered pairs of haplotypes (a factor 2 for each heterozygous locus,
// n^2 for each missing locus of n alleles) of which H are homozygous (a
// factor 0, 1 and n); its unordered pairs number (O + H) / 2. A one-allele
// record has one haplotype for each completion.
double window_pairs(const std::vector<geno_t> &genotypes, const std::vector<int> &alleles, int xdata)
{
  const size_t nloci = alleles.size();
  double total = 0;
  for (const geno_t &r : genotypes) {
    bool one = xdata && r.sex == 0;
    double ordered = 1, homozygous = 1;
    for (size_t l = 0; l < nloci; l++) {
      double n = alleles[l];
      if (one) {
        int a = r.allele[l];
        ordered *= a >= 1 && a <= alleles[l] ? 1 : n;
        continue;
      }
      int a = r.allele[2 * l], b = r.allele[2 * l + 1];
      bool typed = a >= 1 && a <= alleles[l] && b >= 1 && b <= alleles[l];
      if (!typed) {
        ordered *= n * n;
        homozygous *= n;
      } else if (a != b) {
        ordered *= 2;
        homozygous = 0;
      }
    }
    total += one ? ordered : (ordered + homozygous) / 2;
  }
  return total;
}
