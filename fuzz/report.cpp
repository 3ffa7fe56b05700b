// Fuzz target: hfp's reader of the estimator's reports (getln, getx2ln and
// the haplotype tables through gethappy, getnhaps and geth), for block data
// and for case-control data, on the observed pass and on a permuted pass.
//
// Byte 0 of an input chooses the run: bit 0 case-control data, bits 1-2 the
// number of selected loci minus one (each of two alleles). The rest is the
// report; for case-control data a form feed splits it into the cases'
// report (temp1.hfo) and the controls' (temp2.hfo), and without one both
// get the whole text.

#include <cstdlib>
#include <string>

#include "harness.h"
#include "hfp.h"

namespace {

const char *CMD = "hf.sun temp.hf temp.hfo>hf.tmp";

template <class T> void release(T *&p)
{
  free(p);
  p = nullptr;
}

// Every table the reader allocates; a refused report leaves some behind,
// which the program's end would reclaim.
void releaseall()
{
  for (double **p : {&h0, &h1, &ftobs, &hidobs, &ftp, &h1caobs, &hidcaobs, &h1coobs, &hidcoobs, &ftccobs,
                     &fticcobs, &ftssobs, &ftpcc})
    release(*p);
  release(scoredobs);
}

void setup(int mode)
{
  cc = mode & 1;
  selected = (mode >> 1) & 3;
  nloci = selected + 1;
  for (int i = 0; i <= selected; i++) {
    alleles[i] = 2;
    sel[i] = 1;
    selp[i] = 1;
    selidx[i] = i;
  }
  static int place[TX_MAXLOCI], decoded[TX_MAXLOCI];
  nalleles = place;
  hap = decoded;
  nalleles[selected] = 1;
  for (int k = selected - 1; k >= 0; k--)
    nalleles[k] = nalleles[k + 1] * alleles[k + 1];
}

void pooled()
{
  getln("temp.hfo", CMD);
  float ll = 0;
  getx2ln(&ll, CMD);
  gethappy(0, 0);
  fuzz_check(nhaps0 >= 0, "observed table size");
  for (int i = 0; i < nhaps0; i++) {
    fuzz_check(ftp[i] == 0, "no permuted pass counted after the observed one");
    revhapid(hidobs[i], hap);
  }
  gethappy(0, 1);
  for (int i = 0; i < nhaps0; i++)
    fuzz_check(ftp[i] == 0 || ftp[i] == 1, "one permuted pass counts at most once");
}

void casecontrol()
{
  getln("temp1.hfo", CMD);
  getln("temp2.hfo", CMD);
  gethappy(0, 0);
  fuzz_check(nhaps0 == nhapcas0 + nhapcon0 && nhapcas0 >= 0 && nhapcon0 >= 0, "observed table sizes");
  for (int i = 0; i < nhaps0; i++) {
    fuzz_check(ftpcc[i] == 0, "no permuted pass counted after the observed one");
    if (scoredobs[i])
      revhapid(fticcobs[i], hap);
  }
  gethappy(0, 1);
  for (int i = 0; i < nhaps0; i++)
    fuzz_check(ftpcc[i] == 0 || ftpcc[i] == 1, "one permuted pass counts at most once");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size == 0)
    return 0;
  setup(data[0]);
  std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  int status;
  if (cc == 0) {
    fuzz_file("temp.hfo", text);
    status = guarded(pooled);
  } else {
    size_t ff = text.find('\f');
    fuzz_file("temp1.hfo", text.substr(0, ff));
    fuzz_file("temp2.hfo", ff == std::string::npos ? text : text.substr(ff + 1));
    status = guarded(casecontrol);
  }
  // A report that cannot be read ends hfp with status 1; only exhausted
  // memory may end it with -1.
  fuzz_check(status == NOEXIT || status == 1 || status == -1, "refusal status");
  releaseall();
  return 0;
}
