// What every genotype reader (.ped, .bed, VCF) must hand on after a
// successful read, checked by their fuzz targets, and the marker selection
// that a fuzz input chooses with its first byte.
#pragma once

#include <cstdint>

#include "genotypes.h"

// 0: every marker; 1: an index range; 2: a region on the first marker's
// chromosome. The other bits of the byte place the range.
selector_t fuzz_selector(uint8_t control, const char *first_chrom);

// The window's shape (one call per marker and sample, a call is missing as
// a whole or has two spellings, markers in input order, unique samples),
// then the allele numbering the scan and the writers run on it.
void fuzz_check_window(const window_t &w, const selector_t &sel);
