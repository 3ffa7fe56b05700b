// Fuzz target: the TRELIX data file reader tx_read_data (as hfp and phf
// call it), and the collapsing of its sorted list that phf writes. FORM 0
// builds the target for allele pairs, FORM 1 for genotype codes. The
// readers return on every input: an exit is a finding.
//
// The first bytes of an input choose the parameter file, which the real
// tx_read_params reads first; the rest is the data file:
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

void checklist(const trelix_t &tx)
{
  int n = 0, ncases = 0;
  std::vector<bool> seen(tx.sample_size + 1, false);
  const rec_t *prev = nullptr;
  for (const rec_t *p = tx.list; p; p = p->next, n++) {
    fuzz_check(p->seq >= 1 && p->seq <= tx.sample_size && !seen[p->seq], "ordinals 1 .. sample size, once each");
    seen[p->seq] = true;
    fuzz_check(p->label == 0 || (tx.cc && p->label == 1), "labels 1 for cases, 0 otherwise");
    ncases += p->label;
    for (int k = 0; k < tx.nloci; k++) {
      int g = p->geno[k], a = p->pair[k][0], b = p->pair[k][1];
      fuzz_check(g >= 0 && g <= TX_MAXCODE, "genotype code within the bucket table");
      fuzz_check(a >= 0 && a <= b, "pair stored smaller first, missing as 0");
      if (FORM == 0) {
        fuzz_check(b <= tx.alleles[k], "allele within the locus's count");
        fuzz_check(g == tx_a2g(a, b), "code of the pair");
      } else {
        int x, y;
        tx_g2a(g, &x, &y);
        fuzz_check(x == a && y == b, "pair of the code");
      }
    }
    if (prev) {
      // Ascending codes at the selected loci, first selected locus first.
      int cmp = 0;
      for (int j = 0; j <= tx.selected && cmp == 0; j++)
        cmp = (prev->geno[tx.selidx[j]] > p->geno[tx.selidx[j]]) - (prev->geno[tx.selidx[j]] < p->geno[tx.selidx[j]]);
      fuzz_check(cmp <= 0, "list sorted on the selected loci");
    }
    bool typed = false;
    for (int j = 0; j <= tx.selected; j++)
      typed |= p->pair[tx.selidx[j]][0] > 0;
    fuzz_check(typed, "a kept record is typed at a selected locus");
    prev = p;
  }
  fuzz_check(n == tx.sample_size, "sample size is the length of the list");
  fuzz_check(ncases == tx.cases, "cases counted");
  fuzz_check(n == 0 || tx.last == prev, "Last is the final node");
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
  trelix_t tx;
  fuzz_check(tx_read_params(tx, par) == TX_OK, "the generated parameter file is accepted");
  tx.listing = stdout;
  int skipped;
  int code = tx_read_data(tx, dat, skipped);
  if (code == TX_OK) {
    fuzz_check(skipped >= 0, "skipped records counted");
    checklist(tx);
    FILE *out = fopen("out.hf", "w");
    fuzz_check(out != nullptr, "output opens");
    int groups;
    fuzz_check(phf_collapse(tx, out, groups) == TX_OK, "the list collapses");
    fuzz_check(groups >= 0 && groups <= tx.sample_size && (groups > 0) == (tx.sample_size > 0),
               "one group per distinct genotype");
    fclose(out);
  } else {
    fuzz_check(code == TX_EDATA || code == TX_ENOMEM, "a refused data file is bad data");
    fuzz_check(!tx.message.empty() && tx.list == nullptr, "a refusal says why and keeps no list");
  }
  return 0;
}
