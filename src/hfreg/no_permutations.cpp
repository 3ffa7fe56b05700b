// hfreg fits the GLM of its region and runs no score test, so the score
// test's permutations (lib/scan/maxt.cpp, with the BLAS behind them) are
// not linked; this stands in for their entry point and is never reached.

#include <stdexcept>

#include "scan.h"

void score_permutations(scan_perm_scratch_t &, const scan_settings_t &, uint64_t,
                        const assoc_null_t &, const assoc_dosage_t &, const std::vector<int> &,
                        const assoc_test_t &, const std::vector<size_t> &,
                        const std::vector<uint32_t> &, const std::vector<size_t> &, scan_row_t &)
{
  throw std::logic_error("hfreg: the score test's permutations are not part of this program");
}
