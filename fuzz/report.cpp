// Fuzz target: hfp's reader of the estimator's reports (the values after
// their markers and the haplotype tables, folded as the observed pass and
// as a permuted pass), for block data and for case-control data.
//
// Byte 0 of an input chooses the run: bit 0 case-control data, bits 1-2 the
// number of selected loci minus one (each of two alleles). The rest is the
// report; for case-control data a form feed splits it into the cases'
// report and the controls', and without one both get the whole text.
//
// The reader fails with an hfpabort (status 1 for a report it cannot read,
// -1 for exhausted memory), never ends the process.

#include <cstdio>
#include <string>

#include "harness.h"
#include "hfp.h"

namespace {

const char *CMD = "hf.sun temp.hf temp.hfo>hf.tmp";

void setup(hfp_t &s, int mode)
{
  s.cc = mode & 1;
  s.selected = (mode >> 1) & 3;
  s.nloci = s.selected + 1;
  for (int i = 0; i <= s.selected; i++) {
    s.alleles[i] = 2;
    s.sel[i] = 1;
    s.selp[i] = 1;
    s.selidx[i] = i;
  }
  s.nalleles.assign(static_cast<size_t>(s.nloci), 1);
  s.hap.assign(static_cast<size_t>(s.nloci), 0);
  for (int k = s.selected - 1; k >= 0; k--)
    s.nalleles[k] = s.nalleles[k + 1] * s.alleles[k + 1];
}

// The values and, with table, the table of a report text, read from a
// file as hfp reads the estimator's reports.
void readreport(const hfp_t &s, const std::string &text, bool wantx2, hapreport_t *table)
{
  FILE *f = fopen(fuzz_file("temp.hfo", text), "re");
  fuzz_check(f != nullptr, "the report file opens");
  runread_t v;
  try {
    readvalues(f, "temp.hfo", CMD, wantx2, v);
    if (table != nullptr)
      readtable(f, "temp.hfo", s.selected, *table);
  } catch (...) {
    fclose(f);
    throw;
  }
  fclose(f);
}

void pooled(hfp_t &s, const std::string &text)
{
  hapreport_t t;
  readreport(s, text, false, nullptr);
  readreport(s, text, true, &t);
  foldpooled(s, t, 0);
  fuzz_check(s.nhaps0 >= 0, "observed table size");
  for (int i = 0; i < s.nhaps0; i++) {
    fuzz_check(s.ftp[i] == 0, "no permuted pass counted after the observed one");
    revhapid(s, s.hidobs[i], s.hap.data());
  }
  foldpooled(s, t, 1);
  for (int i = 0; i < s.nhaps0; i++)
    fuzz_check(s.ftp[i] == 0 || s.ftp[i] == 1, "one permuted pass counts at most once");
}

void casecontrol(hfp_t &s, const std::string &cases, const std::string &controls)
{
  hapreport_t a, b;
  readreport(s, cases, false, &a);
  readreport(s, controls, false, &b);
  foldcasecontrol(s, a, b, 0);
  fuzz_check(s.nhaps0 == s.nhapcas0 + s.nhapcon0 && s.nhapcas0 >= 0 && s.nhapcon0 >= 0, "observed table sizes");
  for (int i = 0; i < s.nhaps0; i++) {
    fuzz_check(s.ftpcc[i] == 0, "no permuted pass counted after the observed one");
    if (s.scoredobs[i])
      revhapid(s, s.fticcobs[i], s.hap.data());
  }
  foldcasecontrol(s, a, b, 1);
  for (int i = 0; i < s.nhaps0; i++)
    fuzz_check(s.ftpcc[i] == 0 || s.ftpcc[i] == 1, "one permuted pass counts at most once");
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
  hfp_t s;
  setup(s, data[0]);
  std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  int status = 0;
  try {
    if (s.cc == 0) {
      pooled(s, text);
    } else {
      size_t ff = text.find('\f');
      casecontrol(s, text.substr(0, ff), ff == std::string::npos ? text : text.substr(ff + 1));
    }
  } catch (const hfpabort &e) {
    status = e.status;
    fuzz_check(!e.interrupted && *e.what() != '\0', "a refusal carries its message");
  }
  // A report that cannot be read fails with status 1; only exhausted
  // memory may fail with -1.
  fuzz_check(status == 0 || status == 1 || status == -1, "refusal status");
  return 0;
}
