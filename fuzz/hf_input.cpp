// Fuzz target: the estimator's input reader (header line and genotype
// records), built twice like the estimator itself: with HF_XDATA=0 as in hf
// and with HF_XDATA=1 as in hfx. Besides the sanitizers' checks it asserts
// what the later stages of the estimator rely on after a successful read.

#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

#include "harness.h"
#include "hf.h"

namespace {

void checkheader()
{
  fuzz_check(nloci >= 1 && nloci <= HF_MAXLOCI, "number of loci within the tables");
  long long product = 1;
  int largest = 1;
  for (int l = 0; l < nloci; l++) {
    fuzz_check(loci[l] >= 1 && loci[l] <= HF_MAXALLELES, "allele count within the tables");
    product *= loci[l];
    if (loci[l] > largest)
      largest = loci[l];
  }
  fuzz_check(product <= INT_MAX && product == hapall, "hapall is the product of the allele counts");
  fuzz_check(nalleles == largest, "nalleles is the largest allele count");
}

void checkrecords(const geno_t *table, int n)
{
  int haploid = 0;
  double total = 0;
  for (int i = 0; i < n; i++) {
    const geno_t &g = table[i];
    fuzz_check(std::isfinite(g.instances) && g.instances >= 0, "instances finite and not negative");
    fuzz_check(g.sex == 0 || (xdata && g.sex == 1), "sex value 0 or 1, and 1 only in hfx");
    fuzz_check(g.y == 0, "response value 0");
    bool one = xdata && g.sex == 0;
    haploid += one;
    int typed = 0;
    for (int l = 0; l < nloci; l++) {
      if (one) {
        int a = g.allele[l];
        typed += a >= 1 && a <= loci[l];
      } else {
        int a = g.allele[2 * l], b = g.allele[2 * l + 1];
        fuzz_check(a <= b, "two alleles stored smaller first");
        typed += a >= 1 && b <= loci[l];
      }
    }
    fuzz_check(typed > 0, "an accepted record is typed at one locus at least");
    total += g.instances;
  }
  fuzz_check(total <= 1e9, "the instances add up to a size a sample can have");
  if (xdata)
    fuzz_check(haploid == nhaploid && n - haploid == ndiploid, "one- and two-allele record counts");
  else
    fuzz_check(nhaploid == 0 && ndiploid == 0, "no one-allele records in hf");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const char *name = fuzz_file("input.txt", data, size);
  int status = guarded([&] {
    FILE *f = fopen(name, "r");
    fuzz_check(f != nullptr, "input file opens");
    if (readheader(f, name) != 0) {
      fclose(f);
      return;
    }
    checkheader();
    std::vector<geno_t> list;
    int s = readrecords(f, name, list);
    fclose(f);
    if (s != 0)
      return;
    obscom = static_cast<int>(list.size());
    checkrecords(list.data(), obscom);
    listrecords(list.data());
  });
  // The reader reports bad input by its return value; only xmalloc ends
  // the program, with status -1, when memory runs out.
  fuzz_check(status == NOEXIT || status == -1, "the reader ends the program only when memory runs out");
  return 0;
}
