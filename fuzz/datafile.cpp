// Fuzz target: the TRELIX data file reader readrecs (noid_new in hfp), and
// the collapsing of its sorted list that phf writes. FORM 0 builds the
// target for allele pairs, FORM 1 for genotype codes.
//
// The first bytes of an input choose the parameter file, which the real
// getloci reads first; the rest is the data file:
//   byte 0        number of loci, 1 + byte % 30
//   byte 1        bit 0 case-control data, bit 1 record listing on
//   next nloci    per locus: allele count 1 + (byte & 63) % 50, selected
//                 when bit 6 is clear, in Block 1 when bit 7 is set
// Missing bytes take 0.

#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"
#include "phf.h"

#ifndef FORM
#error "FORM must be 0 (allele pairs) or 1 (genotype codes)"
#endif

namespace {

std::string parameters(const uint8_t *&data, size_t &size)
{
  auto take = [&]() -> int {
    if (size == 0)
      return 0;
    size--;
    return *data++;
  };
  int n = 1 + take() % TX_MAXLOCI;
  int flags = take();
  std::string counts, sels, perms;
  for (int i = 0; i < n; i++) {
    int b = take();
    counts += std::to_string(1 + (b & 63) % TX_MAXALLELES) + " ";
    sels += (b & 64) ? "0 " : "1 ";
    perms += (b & 128) ? "1 " : "0 ";
  }
  return std::to_string(n) + " " + std::to_string(flags & 1) + " 0 10\n" + counts + "\n" +
         std::to_string(FORM) + " " + std::to_string((flags >> 1) & 1) + "\n" + sels + "\n" + perms +
         "\n0.1 0.1 0.5 0.9\n";
}

void checklist()
{
  int n = 0, ncases = 0;
  std::vector<bool> seen(sample_size + 1, false);
  const rec_t *prev = nullptr;
  for (const rec_t *p = r; p; p = p->next, n++) {
    fuzz_check(p->seq >= 1 && p->seq <= sample_size && !seen[p->seq], "ordinals 1 .. sample size, once each");
    seen[p->seq] = true;
    fuzz_check(p->label == 0 || (cc && p->label == 1), "labels 1 for cases, 0 otherwise");
    ncases += p->label;
    for (int k = 0; k < nloci; k++) {
      int g = p->geno[k], a = p->pair[k][0], b = p->pair[k][1];
      fuzz_check(g >= 0 && g <= TX_MAXCODE, "genotype code within the bucket table");
      fuzz_check(a >= 0 && a <= b, "pair stored smaller first, missing as 0");
      if (FORM == 0) {
        fuzz_check(b <= alleles[k], "allele within the locus's count");
        fuzz_check(g == a2g(a, b), "code of the pair");
      } else {
        int x, y;
        g2a(g, &x, &y);
        fuzz_check(x == a && y == b, "pair of the code");
      }
    }
    if (prev) {
      // Ascending codes at the selected loci, first selected locus first.
      int cmp = 0;
      for (int j = 0; j <= selected && cmp == 0; j++)
        cmp = (prev->geno[selidx[j]] > p->geno[selidx[j]]) - (prev->geno[selidx[j]] < p->geno[selidx[j]]);
      fuzz_check(cmp <= 0, "list sorted on the selected loci");
    }
    bool typed = false;
    for (int j = 0; j <= selected; j++)
      typed |= p->pair[selidx[j]][0] > 0;
    fuzz_check(typed, "a kept record is typed at a selected locus");
    prev = p;
  }
  fuzz_check(n == sample_size, "sample size is the length of the list");
  fuzz_check(ncases == cases, "cases counted");
  fuzz_check(n == 0 || Last == prev, "Last is the final node");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const char *par = fuzz_file("study.par", parameters(data, size));
  const char *dat = fuzz_file("study.dat", data, size);
  int status = guarded([&] { getloci(par); });
  fuzz_check(status == NOEXIT, "the generated parameter file is accepted");
  status = guarded([&] {
    int skipped;
    fuzz_check(readrecs(dat, skipped) == 0, "readrecs returns 0");
    fuzz_check(skipped >= 0, "skipped records counted");
    checklist();
    FILE *out = fopen("out.hf", "w");
    fuzz_check(out != nullptr, "output opens");
    int groups = getsize(out);
    fuzz_check(groups >= 0 && groups <= sample_size && (groups > 0) == (sample_size > 0),
               "one group per distinct genotype");
    fclose(out);
  });
  if (status != NOEXIT)
    fuzz_check(status == 1, "a refused data file ends the program with status 1");
  freerecs();
  return 0;
}
