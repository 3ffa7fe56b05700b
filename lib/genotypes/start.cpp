#include "start.h"

run_start_t start_run(const input_options_t &in, const std::string &input, run_log_t &log,
                      const std::function<void(const std::string &)> &tell,
                      const std::string &sex_prefix, const std::string &none_kept)
{
  bool plink = true;
  std::unique_ptr<marker_source_t> opened = open_input(input, in.sel, true, plink);
  run_start_t r(std::move(opened), plink);
  for (const std::string &w : r.src->warnings)
    tell("warning: " + w);
  if (!in.sex_file.empty()) {
    std::string note = table_note(in.sex_file, apply_sex_table(in.sex_file, "sex", r.samples, r.plink));
    if (!note.empty())
      tell(sex_prefix + note);
  }
  std::string kept = std::to_string(r.src->markers.size()) + " kept";
  if (!in.window_options.empty())
    kept += ", " + std::to_string(r.src->input_markers - r.src->markers.size()) + " left out by " +
            in.window_options[0];
  log.field("Markers", std::to_string(r.src->input_markers) + " in the input; " + kept);
  if (r.src->markers.empty())
    throw input_error(input + ": no marker of the input " + none_kept);
  return r;
}
