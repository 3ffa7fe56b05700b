// The command line of hfimport and the run: read the window of markers,
// number the alleles, check the limits, write the files.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "hfimport.h"
#include "hs_limits.h"

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
    throw import_error(name + " " + value + ": expected a whole number of at least " +
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
      throw import_error(std::string(c.typed()) + ": unknown option (hfimport --help lists them)");
    else
      positional.push_back(arg);
  }
  if (positional.size() != 2)
    throw import_error("expected an input file and an output prefix (hfimport --help shows how)");
  q.input = positional[0];
  q.prefix = positional[1];
  check_input_choice(q, "the window");
  if (!q.out.trelix && !q.out.hf && !q.out.hfx)
    throw import_error("--estimator-only: add --hf or --hfx, or there is nothing to write");
  if (!q.sex_file.empty() && !q.out.hfx)
    throw import_error("--sex-file is used only for the X-chromosome input; add --hfx");
  check_input_tables(q);
  return q;
}

void warn(const std::vector<std::string> &warnings)
{
  fflush(stdout);
  for (const std::string &w : warnings)
    fprintf(stderr, "hfimport: warning: %s\n", w.c_str());
}

window_t read_input(const request_t &q, bool &plink)
{
  std::unique_ptr<marker_source_t> src = open_input(q.input, q.sel, false, plink);
  window_t w = read_window(*src);
  warn(src->warnings);
  return w;
}

void report(const request_t &q, const window_t &w, const write_summary_t &s)
{
  printf("hfimport: %zu marker%s and %zu individual%s read from %s\n", w.markers.size(),
         w.markers.size() == 1 ? "" : "s", w.samples.size(), w.samples.size() == 1 ? "" : "s",
         q.input.c_str());
  printf("  %s.legend: marker names, allele numbers and individual identifiers\n",
         q.prefix.c_str());
  if (q.out.trelix) {
    printf("  %s.par, %s.dat: ", q.prefix.c_str(), q.prefix.c_str());
    if (s.casecontrol)
      printf("case-control data, %d cases, %d controls", s.cases, s.controls);
    else
      printf("%zu individuals without case-control status", w.samples.size());
    printf(", %d permutations\n", q.out.permutations);
    if (s.left_out)
      printf("  %d individual%s without case-control status left out of %s.dat\n", s.left_out,
             s.left_out == 1 ? "" : "s", q.prefix.c_str());
  }
  if (q.out.hf)
    printf("  %s.hf: estimator input for hf, %zu individuals\n", q.prefix.c_str(),
           w.samples.size());
  if (q.out.hfx) {
    printf("  %s.hfx: estimator input for hfx, %d males, %d females\n", q.prefix.c_str(),
           s.hfx_males, s.hfx_females);
    if (s.hfx_unknown_sex)
      printf("  %d individual%s of unknown sex left out of %s.hfx\n", s.hfx_unknown_sex,
             s.hfx_unknown_sex == 1 ? "" : "s", q.prefix.c_str());
    if (s.hfx_het_males)
      printf("  %d heterozygous call%s in males written as missing in %s.hfx\n", s.hfx_het_males,
             s.hfx_het_males == 1 ? "" : "s", q.prefix.c_str());
    for (const marker_t &m : w.markers)
      if (canonical_chrom(m.chrom) != "X") {
        printf("  note: marker %s lies on chromosome %s, not on the X chromosome\n",
               m.name.c_str(), m.chrom.c_str());
        break;
      }
  }
}

} // namespace

int hfimportrun(int argc, char **argv)
{
  try {
    if (argc < 2) {
      fprintf(stderr, "Usage: hfimport [options] INPUT PREFIX\n"
                      "(hfimport --help lists the inputs, outputs and options)\n");
      return 1;
    }
    request_t q = parse(argc, argv);
    bool plink = true;
    window_t w = read_input(q, plink);
    std::string notes[2];
    if (!q.pheno.empty())
      notes[0] = table_note(q.pheno, apply_status_table(q.pheno, q.pheno_col, w, plink));
    if (!q.sex_file.empty())
      notes[1] = table_note(q.sex_file, apply_sex_table(q.sex_file, "sex", w, plink));
    for (const std::string &note : notes)
      if (!note.empty())
        fprintf(stderr, "hfimport: note: %s\n", note.c_str());
    coded_t c = number_alleles(w);
    check_limits(w, q.out);
    write_summary_t s = write_outputs(q.prefix, q.input, w, c, q.out);
    report(q, w, s);
    warn(s.warnings);
    if (fflush(stdout) != 0) {
      fprintf(stderr, "hfimport: cannot write to standard output: %s\n", strerror(errno));
      return 1;
    }
    return 0;
  } catch (const import_error &e) {
    fflush(stdout);
    fprintf(stderr, "hfimport: %s\n", e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    fflush(stdout);
    fprintf(stderr, "hfimport: out of memory\n");
    return 1;
  }
}
