// Fuzz target: the PLINK binary reader, .bed with its .bim and .fam. The
// input is a selection byte, the .bim, the .fam, then the .bed (see parts.h).

#include "genotype_fuzz.h"
#include "harness.h"
#include "parts.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1)
    return 0;
  std::vector<std::string> p = fuzz_parts(data + 1, size - 1, 3);
  selector_t sel = fuzz_selector(data[0], p[0].substr(0, p[0].find_first_of(" \t")).c_str());
  const char *bim = fuzz_file("in.bim", p[0]);
  const char *fam = fuzz_file("in.fam", p[1]);
  const char *bed = fuzz_file("in.bed", p[2]);
  try {
    window_t w = read_bed(bed, bim, fam, sel);
    fuzz_check_window(w, sel);
  } catch (const input_error &) {
  }
  return 0;
}
