// The command line of hfimport and the run: read the window of markers,
// number the alleles, check the limits, write the files.

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "genotypes.h"
#include "hs_limits.h"
#include "run_log.h"

namespace {

struct request_t : input_options_t {
  std::string input, prefix;
  output_options_t out;
};

int count_option(const std::string &name, const std::string &value, int least)
{
  char *end = nullptr;
  errno = 0;
  long v = strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || v < least || v > INT_MAX)
    throw input_error(name + " " + value + ": expected a whole number of at least " +
                       std::to_string(least));
  return static_cast<int>(v);
}

request_t parse(int argc, char **argv)
{
  request_t q;
  std::vector<std::string> positional;
  cmdline_t c(argc, argv);
  while (c.next()) {
    const std::string &arg = c.arg();
    bool has_value = c.has_value();
    if (take_input_option(c, q))
      continue;
    if (arg == "--permutations")
      q.out.permutations = count_option(arg, c.take(), 0);
    else if (arg == "--block1")
      q.out.block1 = count_option(arg, c.take(), 0);
    else if (arg == "--no-status" && !has_value)
      q.out.use_status = false;
    else if (arg == "--hf" && !has_value)
      q.out.hf = true;
    else if (arg == "--hfx" && !has_value)
      q.out.hfx = true;
    else if (arg == "--estimator-only" && !has_value)
      q.out.trelix = false;
    else if (arg.size() > 1 && arg[0] == '-')
      throw input_error(std::string(c.typed()) + ": unknown option (hfimport --help lists them)");
    else
      positional.push_back(arg);
  }
  io_names_t io = resolve_io(q, positional,
                             "expected an input file and an output prefix (hfimport --help shows how)");
  q.input = io.input;
  q.prefix = io.output;
  check_input_choice(q, "the window");
  if (!q.out.trelix && !q.out.hf && !q.out.hfx)
    throw input_error("--estimator-only: add --hf or --hfx, or there is nothing to write");
  if (!q.sex_file.empty() && !q.out.hfx)
    throw input_error("--sex-file is used only for the X-chromosome input; add --hfx");
  check_input_tables(q);
  return q;
}

// What the run tells the user goes to the log as well.
void warn(const std::vector<std::string> &warnings, run_log_t &log)
{
  fflush(stdout);
  for (const std::string &w : warnings) {
    fprintf(stderr, "hfimport: warning: %s\n", w.c_str());
    log.line("Warning: " + w);
  }
}

window_t read_input(const request_t &q, bool &plink, run_log_t &log)
{
  std::unique_ptr<marker_source_t> src = open_input(q.input, q.sel, false, plink);
  window_t w = read_window(*src);
  warn(src->warnings, log);
  std::string kept = std::to_string(w.markers.size()) + " kept";
  size_t left = src->input_markers - w.markers.size();
  if (!q.window_options.empty())
    kept += ", " + std::to_string(left) + " left out by " + q.window_options[0];
  log.field("Markers", std::to_string(src->input_markers) + " in the input; " + kept);
  log.field("Individuals", std::to_string(w.samples.size()) + " in the input");
  return w;
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
  char buf[4096];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

void report(const request_t &q, const window_t &w, const write_summary_t &s, run_log_t &log)
{
  std::vector<std::string> lines;
  const char *p = q.prefix.c_str();
  lines.push_back(format("hfimport: %zu marker%s and %zu individual%s read from %s",
                         w.markers.size(), w.markers.size() == 1 ? "" : "s", w.samples.size(),
                         w.samples.size() == 1 ? "" : "s", q.input.c_str()));
  lines.push_back(format("  %s.legend: marker names, allele numbers and individual identifiers", p));
  if (q.out.trelix) {
    std::string line = format("  %s.par, %s.dat: ", p, p);
    if (s.casecontrol)
      line += format("case-control data, %d cases, %d controls", s.cases, s.controls);
    else
      line += format("%zu individuals without case-control status", w.samples.size());
    lines.push_back(line + format(", %d permutations", q.out.permutations));
    if (s.left_out)
      lines.push_back(format("  %d individual%s without case-control status left out of %s.dat",
                             s.left_out, s.left_out == 1 ? "" : "s", p));
  }
  if (q.out.hf)
    lines.push_back(format("  %s.hf: estimator input for hf, %zu individuals", p, w.samples.size()));
  if (q.out.hfx) {
    lines.push_back(format("  %s.hfx: estimator input for hfx, %d males, %d females", p,
                           s.hfx_males, s.hfx_females));
    if (s.hfx_unknown_sex)
      lines.push_back(format("  %d individual%s of unknown sex left out of %s.hfx",
                             s.hfx_unknown_sex, s.hfx_unknown_sex == 1 ? "" : "s", p));
    if (s.hfx_het_males)
      lines.push_back(format("  %d heterozygous call%s in males written as missing in %s.hfx",
                             s.hfx_het_males, s.hfx_het_males == 1 ? "" : "s", p));
    for (const marker_t &m : w.markers)
      if (canonical_chrom(m.chrom) != "X") {
        lines.push_back(format("  note: marker %s lies on chromosome %s, not on the X chromosome",
                               m.name.c_str(), m.chrom.c_str()));
        break;
      }
  }
  for (const std::string &line : lines) {
    printf("%s\n", line.c_str());
    log.line(line);
  }
}

} // namespace

int hfimportrun(int argc, char **argv)
{
  run_log_t log;
  try {
    if (argc < 2) {
      fprintf(stderr, "Usage: hfimport [options] INPUT PREFIX\n"
                      "(hfimport --help lists the inputs, outputs and options)\n");
      return 1;
    }
    request_t q = parse(argc, argv);
    std::vector<std::string> inputs = input_files(q.input);
    inputs.push_back(q.pheno);
    inputs.push_back(q.sex_file);
    log.open(q.prefix + ".log", "hfimport", argc, argv, inputs);
    log.field("Input", q.input);
    bool plink = true;
    window_t w = read_input(q, plink, log);
    std::string notes[2];
    if (!q.pheno.empty()) {
      notes[0] = table_note(q.pheno, apply_status_table(q.pheno, q.pheno_col, w, plink));
      log.field("Case-control status", "column " + q.pheno_col + " of " + q.pheno);
    }
    if (!q.sex_file.empty()) {
      notes[1] = table_note(q.sex_file, apply_sex_table(q.sex_file, "sex", w, plink));
      log.field("Sex", "column sex of " + q.sex_file);
    }
    for (const std::string &note : notes)
      if (!note.empty()) {
        fprintf(stderr, "hfimport: note: %s\n", note.c_str());
        log.line("Note: " + note);
      }
    coded_t c = number_alleles(w);
    check_limits(w, q.out);
    write_summary_t s = write_outputs(q.prefix, q.input, w, c, q.out);
    log.line("");
    report(q, w, s, log);
    warn(s.warnings, log);
    if (fflush(stdout) != 0) {
      fprintf(stderr, "hfimport: cannot write to standard output: %s\n", strerror(errno));
      log.finish(std::string("cannot write to standard output: ") + strerror(errno));
      return 1;
    }
    log.finish("");
    return 0;
  } catch (const input_error &e) {
    fflush(stdout);
    fprintf(stderr, "hfimport: %s\n", e.what());
    log.finish(e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    fflush(stdout);
    fprintf(stderr, "hfimport: out of memory\n");
    log.finish("out of memory");
    return 1;
  }
}
