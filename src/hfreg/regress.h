// hfreg: haplotype effects of one region by the EM-weighted GLM (glm.h),
// with hfscan's inputs, trait, covariates and window code.
#pragma once

#include <cstdio>
#include <string>

#include "scan.h"

// The request: hfscan's input, trait and covariate options (scan_options_t)
// and the model's own.
struct reg_options_t : scan_options_t {
  glm_effect_t effect = GLM_ADDITIVE;  // --effect
  std::string base;                    // --base, spelled as top_haplotype
  double min_count = 0;                // --min-count
};
reg_options_t reg_parse(int argc, char **argv);
void hfreg_help(FILE *f);

// The table of a fit: header, one row per term, the closing comment line
// (which the program also prints on standard error).
std::string reg_table(const scan_glm_t &g, const scan_settings_t &set);
std::string reg_lrt_line(const scan_row_t &row, const glm_fit_t &fit);

int hfregrun(int argc, char **argv);
