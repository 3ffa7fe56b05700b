// What the scan's programs share at the start of a run: the output checked
// against the inputs, their messages, and the trait, covariates and strata
// read into the settings.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <utility>

#include <sys/stat.h>

#include "run_log.h"
#include "scan.h"

// Renaming the finished table over one of the files being read would lose
// that file: refuse an output that is an input.
void check_output_is_not_input(const scan_options_t &o, const std::string &output)
{
  struct stat out;
  if (stat(output.c_str(), &out) != 0)
    return;
  std::vector<std::string> inputs = {o.input, o.pheno, o.sex_file, o.covar, o.within};
  for (const char *kind : {".ped", ".bed"})
    if (o.input.size() > 4 && o.input.compare(o.input.size() - 4, 4, kind) == 0) {
      std::string stem = o.input.substr(0, o.input.size() - 4);
      for (const char *part : {".map", ".bim", ".fam"})
        inputs.push_back(stem + part);
    }
  for (const std::string &path : inputs) {
    struct stat in;
    if (!path.empty() && stat(path.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino)
      throw input_error(output + ": the output would replace the input file " + path);
  }
}


void tell(const scan_voice_t &v, const std::string &line, bool to_log)
{
  if (line.empty())
    return;
  fprintf(stderr, "%s: %s\n", v.program, line.c_str());
  if (v.log && to_log)
    v.log->line(line);
}

void tell_note(const scan_voice_t &v, const std::string &line)
{
  if (!line.empty())
    tell(v, "note: " + line);
}

std::string plural(size_t n, const char *one, const char *many)
{
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The trait, the covariates and the strata of every sample into set; what
// the user must know is said at once. A null model that cannot be fitted on
// every sample with complete data ends the run: no window could be tested.
trait_summary_t read_association_inputs(const scan_options_t &o, const std::vector<sample_t> &samples,
                                        bool plink, scan_settings_t &set, const scan_voice_t &voice)
{
  trait_summary_t ts;
  const size_t n = samples.size();
  trait_t trait = read_trait(samples, o.pheno, o.pheno_col, o.trait, plink);
  tell_note(voice, table_note(o.pheno, trait));
  set.binary = trait.binary;
  set.y = std::move(trait.y);
  size_t with_trait = 0, cases = 0;
  for (size_t i = 0; i < n; i++)
    if (!std::isnan(set.y[i])) {
      with_trait++;
      cases += set.y[i] > 0.5;
    }
  if (with_trait == 0) {
    if (!o.covar.empty() || !o.within.empty() || o.lrt)
      throw input_error(o.pheno.empty() ? o.input + ": no individual has a phenotype; give the trait with --pheno FILE --pheno-col NAME"
                                         : o.pheno + ": no individual of the input has a value in column " + o.pheno_col);
    ts.note = "note: no individual has a phenotype; assoc_* and perm_* are NA";
    ts.trait = "none (no individual has a phenotype)";
    return ts;
  }
  tell(voice, trait.how, false);
  ts.trait = trait.how;
  ts.with_trait = with_trait;
  ts.cases = cases;
  if (set.lrt && !set.binary)
    throw input_error("--test lrt needs a binary trait, and " + trait.how);
  set.assoc = true;
  if (set.binary && (cases == 0 || cases == with_trait))
    ts.note = std::string("note: the individuals with the trait are all ") +
              (cases ? "cases" : "controls") + "; assoc_* and perm_* are NA";

  std::vector<std::string> missing_what;
  if (!o.covar.empty()) {
    check_input(o.covar);
    covariates_t cov = read_covariates(o.covar, o.covar_names, samples, plink);
    tell_note(voice, table_note(o.covar, cov));
    set.ncov = cov.names.size();
    set.cov_names = cov.names;
    set.cov.resize(n * set.ncov);
    for (size_t i = 0; i < n; i++)
      for (size_t c = 0; c < set.ncov; c++)
        set.cov[i * set.ncov + c] = cov.x[i][c];
    std::string list;
    for (const std::string &name : cov.names)
      list += (list.empty() ? "" : ", ") + name;
    tell(voice, "covariates: " + list + " (" + plural(set.ncov, "column", "columns") + " besides the intercept)",
         false);
    ts.covariates = list + " from " + o.covar;
    missing_what.push_back("a covariate");
  }
  if (!o.within.empty()) {
    check_input(o.within);
    clusters_t cl = read_clusters(o.within, samples, plink);
    tell_note(voice, table_note(o.within, cl));
    set.stratum = cl.cluster;
    tell(voice, "permutations within " + plural(cl.names.size(), "stratum", "strata") + " of " + o.within);
    ts.strata = plural(cl.names.size(), "stratum", "strata") + " from " + o.within;
    missing_what.push_back("a stratum");
  }

  // Individuals with the trait but without every covariate (or a stratum)
  // leave the test; the null model is checked on those that remain.
  assoc_data_t d;
  d.binary = set.binary;
  d.p = 1 + set.ncov;
  // The intercept alone is no array (the column of ones, the same bits).
  d.y.reserve(with_trait);
  d.z.reserve(set.ncov ? with_trait * d.p : 0);
  size_t left = 0;
  for (size_t i = 0; i < n; i++) {
    if (std::isnan(set.y[i]))
      continue;
    bool complete = true;
    for (size_t c = 0; c < set.ncov; c++)
      complete = complete && !std::isnan(set.cov[i * set.ncov + c]);
    if (!set.stratum.empty())
      complete = complete && set.stratum[i] >= 0;
    if (!complete) {
      left++;
      continue;
    }
    d.y.push_back(set.y[i]);
    if (set.ncov) {
      d.z.push_back(1);
      for (size_t c = 0; c < set.ncov; c++)
        d.z.push_back(set.cov[i * set.ncov + c]);
    }
    d.n++;
  }
  ts.left = left;
  if (left) {
    std::string what = missing_what.size() == 2 ? missing_what[0] + " or " + missing_what[1] : missing_what[0];
    tell(voice, "note: " + plural(left, "individual", "individuals") + " with the trait but without " + what +
         " leave the association test");
  }
  assoc_null_t null;
  if (!ts.note.empty())
    return ts;
  if (!set.lrt && !assoc_fit_null(d, null))
    throw input_error((o.covar.empty() ? std::string("the trait") : o.covar) + ": " + null.status +
                       " (over the " + plural(d.n, "individual", "individuals") + " with complete data)");
  if (!set.lrt && !set.glm) {
    // Kept for the windows that test every one of these individuals, as
    // the score test reads it.
    auto kept = std::make_shared<scan_null_t>();
    kept->data.binary = d.binary;
    kept->data.n = d.n;
    kept->data.p = d.p;
    if (d.p > 1)
      kept->data.z = std::move(d.z);
    kept->fit = std::move(null);
    set.null = std::move(kept);
  }
  return ts;
}
