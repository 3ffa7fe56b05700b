// The start of a run that streams the markers of one input (hfscan, hfreg):
// the input opened, its warnings told, --sex-file applied, the markers kept
// and left out in the log, and no run without a marker.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "genotypes.h"
#include "run_log.h"

struct run_start_t {
  std::unique_ptr<marker_source_t> src;
  // The input's samples, held once: the source's own, with --sex-file's
  // sexes written into them (the readers use only their count and names).
  std::vector<sample_t> &samples;
  bool plink = true;              // a PLINK input (samples with families)
  run_start_t(std::unique_ptr<marker_source_t> s, bool is_plink)
      : src(std::move(s)), samples(src->samples), plink(is_plink)
  {
  }
};

// tell says a line to the user (and the log, as the program does);
// sex_prefix goes before the --sex-file note; none_kept ends the message
// when no marker is kept, after "INPUT: no marker of the input ". Throws
// input_error.
run_start_t start_run(const input_options_t &in, const std::string &input, run_log_t &log,
                      const std::function<void(const std::string &)> &tell,
                      const std::string &sex_prefix, const std::string &none_kept);
