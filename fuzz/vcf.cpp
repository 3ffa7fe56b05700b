// Fuzz target: VCF text through htslib. The input is a selection byte, then
// the file. htslib itself is not instrumented; the target follows the
// reader's handling of what htslib hands back.

#include "genotype_fuzz.h"
#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1)
    return 0;
  selector_t sel = fuzz_selector(data[0], "6");
  const char *vcf = fuzz_file("in.vcf", data + 1, size - 1);
  try {
    window_t w = read_vcf(vcf, sel);
    if (!w.samples.empty())
      fuzz_check_window(w, sel);
  } catch (const input_error &) {
  }
  return 0;
}
