// Fuzz target: the PLINK text reader, a .ped with its .map. The input is a
// selection byte, the .map, then the .ped (see parts.h).

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
  std::vector<std::string> p = fuzz_parts(data + 1, size - 1, 2);
  selector_t sel = fuzz_selector(data[0], p[0].substr(0, p[0].find_first_of(" \t")).c_str());
  const char *map = fuzz_file("in.map", p[0]);
  const char *ped = fuzz_file("in.ped", p[1]);
  try {
    window_t w = read_ped(ped, map, sel);
    fuzz_check_window(w, sel);
  } catch (const input_error &) {
  }
  return 0;
}
