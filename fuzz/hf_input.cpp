// Fuzz target: the estimator's input reader (header line and genotype
// records), built twice: with HF_XDATA=0 for the data of hf and with
// HF_XDATA=1 for those of hfx. Besides the sanitizers' checks it asserts
// what the later stages of the estimator rely on after a successful read.

#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

#include "harness.h"
#include "hf.h"

namespace {

void checkheader(const hfstate_t &s)
{
  fuzz_check(s.nloci >= 1 && s.nloci <= HF_MAXLOCI, "number of s.loci within the tables");
  long long product = 1;
  int largest = 1;
  for (int l = 0; l < s.nloci; l++) {
    fuzz_check(s.loci[l] >= 1 && s.loci[l] <= HF_MAXALLELES, "allele count within the tables");
    product *= s.loci[l];
    if (s.loci[l] > largest)
      largest = s.loci[l];
  }
  fuzz_check(product <= INT_MAX && product == s.hapall, "hapall is the product of the allele counts");
  fuzz_check(s.nalleles == largest, "nalleles is the largest allele count");
}

void checkrecords(const hfstate_t &s, const geno_t *table, int n)
{
  int haploid = 0;
  double total = 0;
  for (int i = 0; i < n; i++) {
    const geno_t &g = table[i];
    fuzz_check(std::isfinite(g.instances) && g.instances >= 0, "instances finite and not negative");
    fuzz_check(g.sex == 0 || (s.xdata && g.sex == 1), "sex value 0 or 1, and 1 only in hfx");
    fuzz_check(g.y == 0, "response value 0");
    bool one = s.xdata && g.sex == 0;
    haploid += one;
    int typed = 0;
    for (int l = 0; l < s.nloci; l++) {
      if (one) {
        int a = g.allele[l];
        typed += a >= 1 && a <= s.loci[l];
      } else {
        int a = g.allele[2 * l], b = g.allele[2 * l + 1];
        fuzz_check(a <= b, "two alleles stored smaller first");
        typed += a >= 1 && b <= s.loci[l];
      }
    }
    fuzz_check(typed > 0, "an accepted record is typed at one locus at least");
    total += g.instances;
  }
  fuzz_check(total <= 1e9, "the instances add up to a size a sample can have");
  if (s.xdata)
    fuzz_check(haploid == s.nhaploid && n - haploid == s.ndiploid, "one- and two-allele record counts");
  else
    fuzz_check(s.nhaploid == 0 && s.ndiploid == 0, "no one-allele records in hf");
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
  {
    hfstate_t *s = hf_new(HF_XDATA);
    fuzz_check(s != nullptr, "a state can be made");
    int code = hf_read_file(s, name);
    fuzz_check(code == HF_OK || *hf_message(s) != '\0', "a refused input comes with a message");
    if (code == HF_OK) {
      checkheader(*s);
      checkrecords(*s, s->records.data(), s->obscom);
      fuzz_check(s->obscom > 0, "an accepted input holds a record");
      listrecords(*s, s->records.data(), stdout);
    }
    hf_free(s);
  }
  return 0;
}
