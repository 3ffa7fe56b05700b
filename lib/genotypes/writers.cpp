// The output files: TRELIX parameter and data files (for hfp and phf),
// estimator input for hf and hfx, and the legend that maps the numbers in
// them back to marker names, allele spellings and individuals.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "atomic_output.h"
#include "genotypes.h"
#include "hs_limits.h"

namespace {

std::string count(size_t n, const char *one, const char *many)
{
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// How many of the window's first markers the estimator can number the
// possible haplotypes of (their allele counts' product at most INT_MAX),
// regardless of its limit on loci.
size_t numberable_markers(const window_t &w)
{
  long long haplotypes = 1;
  for (size_t k = 0; k < w.markers.size(); k++) {
    haplotypes *= static_cast<long long>(w.markers[k].alleles.size());
    if (haplotypes > INT_MAX)
      return k;
  }
  return w.markers.size();
}

} // namespace

void check_limits(const window_t &w, const output_options_t &opt)
{
  size_t n = w.markers.size();
  if (n == 0)
    throw input_error("no marker of the input lies in the window");
  if (opt.trelix && n > static_cast<size_t>(TX_MAXLOCI)) {
    std::string head = "the window holds " + count(n, "marker", "markers") +
                       "; parameter and data files for hfp and phf take at most " +
                       std::to_string(TX_MAXLOCI) + " loci (with --estimator-only, estimator "
                       "input takes ";
    size_t fit = numberable_markers(w);
    if (fit >= std::min(n, static_cast<size_t>(HF_MAXLOCI)))
      throw input_error(head + "up to " + std::to_string(HF_MAXLOCI) + ")");
    throw input_error(head + "at most the first " + std::to_string(fit) +
                       " of these markers: the possible haplotypes of more outnumber what the "
                       "estimator can number, " + std::to_string(INT_MAX) + ")");
  }
  if ((opt.hf || opt.hfx) && n > static_cast<size_t>(HF_MAXLOCI))
    throw input_error("the window holds " + count(n, "marker", "markers") +
                       "; the estimator takes at most " + std::to_string(HF_MAXLOCI) + " loci");
  int maxalleles = opt.trelix ? TX_MAXALLELES : HF_MAXALLELES;
  long long haplotypes = 1;
  for (const marker_t &m : w.markers) {
    if (m.alleles.size() > static_cast<size_t>(maxalleles))
      throw input_error("marker " + m.name + " has " + std::to_string(m.alleles.size()) +
                         " alleles; the programs take at most " + std::to_string(maxalleles) +
                         " alleles per locus");
    haplotypes *= static_cast<long long>(m.alleles.size());
    // The estimator numbers every possible haplotype with a 32-bit integer.
    if (haplotypes > INT_MAX)
      throw input_error("the window's markers have more possible haplotypes than the "
                         "estimator can number (" + std::to_string(INT_MAX) +
                         "); choose fewer markers");
  }
  if (opt.block1 > static_cast<int>(n))
    throw input_error("--block1 " + std::to_string(opt.block1) + " asks for more loci than the " +
                       count(n, "marker", "markers") + " of the window");
}

namespace {

// The files of one conversion, each under a temporary name until all are
// written; only then are they renamed into place, so a failed write, a full
// disk or an interrupt leaves none of them half written under its name.
struct outputs_t {
  std::vector<std::unique_ptr<atomic_output_t>> files;
  FILE *open(const std::string &path)
  {
    files.push_back(std::make_unique<atomic_output_t>(path));
    return files.back()->file();
  }
  void close() { files.back()->close(); }
  void commit()
  {
    for (auto &f : files)
      f->commit();
  }
};

void write_header_counts(FILE *f, const window_t &w)
{
  for (size_t k = 0; k < w.markers.size(); k++)
    fprintf(f, "%s%zu", k ? " " : "", w.markers[k].alleles.size());
  fprintf(f, "\n");
}

void write_trelix(outputs_t &out, const std::string &prefix, const window_t &w,
                  const coded_t &c, const output_options_t &opt, write_summary_t &s)
{
  size_t nm = w.markers.size(), ns = w.samples.size();
  int block1 = opt.block1 < 0 ? static_cast<int>(nm) : opt.block1;
  FILE *par = out.open(prefix + ".par");
  fprintf(par, "%zu %d %d %d\n", nm, s.casecontrol ? 1 : 0, opt.permutations > 0 ? 1 : 0,
          opt.permutations);
  write_header_counts(par, w);
  fprintf(par, "0 0\n");  // allele pairs in the data file, no listing
  for (size_t k = 0; k < nm; k++)
    fprintf(par, "%s1", k ? " " : "");
  fprintf(par, "\n");
  for (size_t k = 0; k < nm; k++)
    fprintf(par, "%s%d", k ? " " : "", static_cast<int>(k) < block1 ? 1 : 0);
  fprintf(par, "\n");
  out.close();

  FILE *dat = out.open(prefix + ".dat");
  for (size_t i = 0; i < ns; i++) {
    int label = 0;
    if (s.casecontrol) {
      if (w.samples[i].status == STATUS_UNKNOWN) {
        s.left_out++;
        continue;
      }
      label = w.samples[i].status == STATUS_CASE ? 1 : 0;
    }
    fprintf(dat, "%zu %d", i + 1, label);
    for (size_t k = 0; k < nm; k++)
      fprintf(dat, " %d %d", c.a[k][i], c.b[k][i]);
    fprintf(dat, "\n");
  }
  out.close();
}

void write_hf(outputs_t &out, const std::string &path, const window_t &w, const coded_t &c)
{
  FILE *f = out.open(path);
  write_header_counts(f, w);
  for (size_t i = 0; i < w.samples.size(); i++) {
    fprintf(f, "%zu 1", i + 1);
    for (size_t k = 0; k < w.markers.size(); k++)
      fprintf(f, " %d/%d", c.a[k][i], c.b[k][i]);
    fprintf(f, "\n");
  }
  out.close();
}

// X chromosome: a male carries one allele per locus (sex value 0), a female
// two (sex value 1). A heterozygous call in a male cannot be a true
// hemizygous genotype (a genotyping error, or a marker of the
// pseudoautosomal region): that call is written as missing and counted.
// Individuals of unknown sex are left out.
void write_hfx(outputs_t &out, const std::string &path, const window_t &w, const coded_t &c,
               write_summary_t &s)
{
  FILE *f = out.open(path);
  write_header_counts(f, w);
  for (size_t i = 0; i < w.samples.size(); i++) {
    int sex = w.samples[i].sex;
    if (sex == SEX_UNKNOWN) {
      s.hfx_unknown_sex++;
      continue;
    }
    if (sex == SEX_MALE) {
      s.hfx_males++;
      fprintf(f, "%zu 1 0", i + 1);
      for (size_t k = 0; k < w.markers.size(); k++) {
        int a = c.a[k][i];
        if (a != c.b[k][i]) {
          s.hfx_het_males++;
          a = 0;
        }
        fprintf(f, " %d", a);
      }
    } else {
      s.hfx_females++;
      fprintf(f, "%zu 1 1", i + 1);
      for (size_t k = 0; k < w.markers.size(); k++)
        fprintf(f, " %d/%d", c.a[k][i], c.b[k][i]);
    }
    fprintf(f, "\n");
  }
  out.close();
}

const char *sex_word(int sex)
{
  return sex == SEX_MALE ? "male" : sex == SEX_FEMALE ? "female" : "unknown";
}

const char *status_word(int status)
{
  return status == STATUS_CASE ? "case" : status == STATUS_CONTROL ? "control" : "unknown";
}

void write_legend(outputs_t &out, const std::string &prefix, const std::string &input,
                  const window_t &w)
{
  FILE *f = out.open(prefix + ".legend");
  fprintf(f, "# hfimport legend for %s\n", input.c_str());
  fprintf(f, "# locus <locus number> <marker> <chromosome> <position> <input index> "
                 "<allele number>=<allele> ...\n");
  for (size_t k = 0; k < w.markers.size(); k++) {
    const marker_t &m = w.markers[k];
    fprintf(f, "locus %zu %s %s %ld %d", k + 1, m.name.c_str(), m.chrom.c_str(), m.pos,
            m.index);
    for (size_t a = 0; a < m.alleles.size(); a++)
      fprintf(f, " %zu=%s", a + 1, m.alleles[a].c_str());
    fprintf(f, "\n");
  }
  fprintf(f, "# individual <identifier> <family> <individual> <sex> <status>\n");
  for (size_t i = 0; i < w.samples.size(); i++) {
    const sample_t &s = w.samples[i];
    fprintf(f, "individual %zu %s %s %s %s\n", i + 1, s.fid.c_str(), s.iid.c_str(),
            sex_word(s.sex), status_word(s.status));
  }
  out.close();
}

// The parameter and data files, and hf's input, hold every individual as
// diploid at every locus: on the X chromosome males are not, unless the
// sample has none.
void warn_x_markers(const std::string &prefix, const window_t &w, const output_options_t &opt,
                    write_summary_t &s)
{
  std::vector<std::string> x;
  for (const marker_t &m : w.markers)
    if (canonical_chrom(m.chrom) == "X")
      x.push_back(m.name);
  bool males = false;
  for (const sample_t &smp : w.samples)
    males = males || smp.sex != SEX_FEMALE;
  if (x.empty() || !males)
    return;
  std::string names;
  for (size_t k = 0; k < x.size() && k < 3; k++)
    names += (k ? ", " : "") + x[k];
  if (x.size() > 3)
    names += ", ...";
  std::string files = prefix + ".par" + (opt.hf ? ", " : " and ") + prefix + ".dat" +
                      (opt.hf ? " and " + prefix + ".hf" : "");
  s.warnings.push_back(count(x.size(), "marker", "markers") + " of the window " +
                       (x.size() == 1 ? "lies" : "lie") + " on the X chromosome (" + names +
                       "), where " + files + " hold males as diploid, as on an autosome; "
                       "--hfx --estimator-only writes estimator input for hfx instead, with "
                       "males as one-allele records");
}

} // namespace

write_summary_t write_outputs(const std::string &prefix, const std::string &input,
                              const window_t &w, const coded_t &c, const output_options_t &opt)
{
  write_summary_t s;
  if (opt.use_status)
    for (const sample_t &smp : w.samples) {
      if (smp.status == STATUS_CASE)
        s.cases++;
      else if (smp.status == STATUS_CONTROL)
        s.controls++;
    }
  s.casecontrol = opt.use_status && s.cases + s.controls > 0;
  if (opt.trelix && s.casecontrol && (s.cases == 0 || s.controls == 0)) {
    std::string all = input + ": the " +
                      count(s.cases + s.controls, "individual", "individuals") +
                      " with case-control status are all " + (s.cases ? "cases" : "controls");
    if (!opt.hf && !opt.hfx)
      throw input_error(all + "; a case-control test needs both (--no-status converts "
                         "without the status)");
    s.casecontrol = false;
    s.warnings.push_back(all + "; " + prefix + ".par and " + prefix + ".dat are written "
                         "without the status, for hfp's block test (a case-control test "
                         "needs both)");
  }
  if (opt.trelix && !opt.hfx)
    warn_x_markers(prefix, w, opt, s);
  outputs_t out;
  write_legend(out, prefix, input, w);
  if (opt.trelix)
    write_trelix(out, prefix, w, c, opt, s);
  if (opt.hf)
    write_hf(out, prefix + ".hf", w, c);
  if (opt.hfx)
    write_hfx(out, prefix + ".hfx", w, c, s);
  out.commit();
  return s;
}
