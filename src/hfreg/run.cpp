// hfreg: the command line, the region, the fit through hfscan's window code
// and the table.

#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "hs_limits.h"
#include "regress.h"
#include "run_log.h"
#include "start.h"

namespace {

const double NA = std::numeric_limits<double>::quiet_NaN();
const double Z975 = 1.959963984540054;  // the normal's 97.5% quantile

std::string num(double v)
{
  if (std::isnan(v) || std::isinf(v))
    return "NA";
  char buf[40];
  snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

// What the run tells the user goes to the log too.
void tell(run_log_t &log, const std::string &line)
{
  if (line.empty())
    return;
  fprintf(stderr, "hfreg: %s\n", line.c_str());
  log.line(line);
}

const char *effect_name(glm_effect_t e)
{
  switch (e) {
  case GLM_DOMINANT: return "dominant";
  case GLM_RECESSIVE: return "recessive";
  default: return "additive";
  }
}

} // namespace

reg_options_t reg_parse(int argc, char **argv)
{
  reg_options_t o;
  o.glm = true;
  o.permutations = 0;
  glm_settings_t defaults;
  o.em_gain = defaults.gain;
  o.em_max_iter = defaults.max_iter;
  std::vector<std::string> positional;
  cmdline_t c(argc, argv);
  while (c.next()) {
    const std::string &arg = c.arg();
    if (take_input_option(c, o) || take_association_option(c, o))
      continue;
    if (arg == "--effect") {
      std::string v = c.take();
      if (v == "additive")
        o.effect = GLM_ADDITIVE;
      else if (v == "dominant")
        o.effect = GLM_DOMINANT;
      else if (v == "recessive")
        o.effect = GLM_RECESSIVE;
      else
        throw input_error("--effect " + v + ": expected additive, dominant or recessive");
    } else if (arg == "--base") {
      o.base = c.take();
      if (o.base.empty())
        throw input_error("--base: expected a haplotype spelled as in the table, as in ACGT");
    } else if (arg == "--min-count")
      o.min_count = scan_real(arg, c.take(), 0, HUGE_VAL);
    else if (arg.size() > 1 && arg[0] == '-')
      throw input_error(std::string(c.typed()) + ": unknown option (hfreg --help lists them)");
    else
      positional.push_back(arg);
  }
  io_names_t io = resolve_io(o, positional,
                             "expected an input file and an output file (hfreg --help shows how)");
  if (!o.covar_names.empty() && o.covar.empty())
    throw input_error("--covar-name needs --covar FILE");
  o.input = io.input;
  o.output = io.prefix ? io.output + ".tsv" : io.output;
  o.log = io.output + ".log";
  check_input_choice(o, "the region");
  check_input_tables(o);
  return o;
}

std::string reg_table(const scan_glm_t &g, const scan_settings_t &set)
{
  const glm_fit_t &fit = g.fit;
  std::string out = "term\thaplotype\tfreq\teffect\tse\tci_low\tci_high\tz\tp";
  if (set.binary)
    out += "\tor\tor_low\tor_high";
  out += "\tstatus\n";
  for (const glm_term_t &t : fit.terms) {
    std::string term, hap = "NA";
    switch (t.kind) {
    case GLM_INTERCEPT: term = "intercept"; break;
    case GLM_BASE: term = "base"; break;
    case GLM_HAPLOTYPE: term = "haplotype"; break;
    case GLM_RARE: term = "rare"; hap = "rare"; break;
    case GLM_COVARIATE: term = set.cov_names[t.covariate]; break;
    }
    if (t.haplotype >= 0)
      hap = g.spelled[static_cast<size_t>(t.haplotype)];
    double se = t.se, lo = NA, hi = NA, z = NA, p = NA;
    if (se > 0) {
      lo = t.effect - Z975 * se;
      hi = t.effect + Z975 * se;
      z = t.effect / se;
      p = hs_chi2_upper(z * z, 1);
    }
    out += term + "\t" + hap + "\t" + num(t.freq) + "\t" + num(t.effect) + "\t" + num(se) + "\t" +
           num(lo) + "\t" + num(hi) + "\t" + num(z) + "\t" + num(p);
    if (set.binary)
      out += "\t" + num(std::exp(t.effect)) + "\t" + num(std::exp(lo)) + "\t" + num(std::exp(hi));
    out += "\t" + (t.status.empty() ? std::string("ok") : t.status) + "\n";
  }
  return out;
}

std::string reg_lrt_line(const scan_row_t &row, const glm_fit_t &fit)
{
  std::string s = "likelihood-ratio test against the model without haplotypes: chi2 " +
                  num(row.assoc_chi2) + ", df " + std::to_string(fit.lrt_df) + ", p " +
                  num(row.assoc_p) + " (" + std::to_string(row.n_assoc) + " individuals; EM " +
                  std::to_string(fit.iterations) + " steps, " +
                  (fit.converged ? "converged" : "not converged");
  if (fit.prior)
    s += "; haplotype effects under the normal prior of the separation bound";
  return s + ")";
}

int hfregrun(int argc, char **argv)
{
  scan_worker_t *worker = nullptr;
  run_log_t log;
  try {
    if (argc < 2) {
      fprintf(stderr, "Usage: hfreg [options] INPUT OUTPUT\n"
                      "       hfreg [options] --bfile PREFIX|--file PREFIX|--vcf FILE --out PREFIX\n"
                      "(hfreg --help lists the inputs, the output columns and the options)\n");
      return 1;
    }
    reg_options_t o = reg_parse(argc, argv);
    check_output_is_not_input(o, o.output);
    check_output_is_not_input(o, o.log);
    log.open(o.log, "hfreg", argc, argv);
    log.field("Input", o.input);
    log.field("Table", o.output);
    log.line("");
    run_start_t start = start_run(
        o, o.input, log, [&log](const std::string &line) { tell(log, line); }, "",
        "is in the region (see --region, --index and --markers)");
    std::unique_ptr<marker_source_t> &src = start.src;
    std::vector<sample_t> &samples = start.samples;
    const bool plink = start.plink;
    const std::vector<marker_t> &mk = src->markers;
    for (const marker_t &m : mk)
      if (canonical_chrom(m.chrom) != canonical_chrom(mk[0].chrom))
        throw input_error(o.input + ": the region holds markers of chromosomes " + mk[0].chrom +
                           " and " + m.chrom + "; choose one region with --region, --index or "
                           "--markers");
    if (mk.size() > static_cast<size_t>(HF_MAXLOCI))
      throw input_error(o.input + ": the region holds " + std::to_string(mk.size()) +
                         " markers; the estimator takes at most " + std::to_string(HF_MAXLOCI));

    scan_settings_t set;
    set.min_freq = o.min_freq;
    set.em_gain = o.em_gain;
    set.em_max_iter = o.em_max_iter;
    set.permutations = 0;
    set.max_pairs = o.max_pairs;
    set.glm = true;
    set.glm_set.effect = o.effect;
    set.glm_set.min_freq = o.min_freq;
    set.glm_set.min_count = o.min_count;
    set.glm_set.gain = o.em_gain;
    set.glm_set.max_iter = o.em_max_iter;
    set.glm_base = o.base;
    {
      const marker_t &a = mk.front(), &b = mk.back();
      std::string names;
      for (const marker_t &m : mk)
        names += (names.empty() ? "" : " ") + m.name;
      log.field("Region", "chromosome " + a.chrom + ", " + a.name + " (" + std::to_string(a.pos) +
                              ") to " + b.name + " (" + std::to_string(b.pos) + "), " +
                              plural(mk.size(), "marker", "markers") + ": " + names);
    }
    trait_summary_t ts = read_association_inputs(o, samples, plink, set, scan_voice_t{"hfreg", nullptr});
    {
      std::string line = std::to_string(samples.size()) + " in the input; " +
                         std::to_string(ts.with_trait) + " with the trait";
      if (set.assoc && set.binary)
        line += " (" + plural(ts.cases, "case", "cases") + ", " +
                plural(ts.with_trait - ts.cases, "control", "controls") + ")";
      line += ", " + std::to_string(samples.size() - ts.with_trait) + " without";
      if (ts.left)
        line += "; " + std::to_string(ts.left) + " with the trait left out for a missing covariate";
      size_t unknown_sex = 0;
      for (const sample_t &sm : samples)
        unknown_sex += sm.sex == SEX_UNKNOWN;
      if (unknown_sex && x_chromosome(mk[0].chrom))
        line += "; " + std::to_string(unknown_sex) + " of unknown sex, left out";
      log.field("Individuals", line);
      log.field("Trait", ts.trait);
      log.field("Covariates", ts.covariates);
    }
    if (!set.assoc)
      throw input_error((o.pheno.empty() ? o.input : o.pheno) +
                         ": no individual has a value of the trait; give it with --pheno FILE "
                         "--pheno-col NAME");
    if (!ts.note.empty())
      throw input_error(ts.note.substr(ts.note.find(' ') + 1, ts.note.find(';') - ts.note.find(' ') - 1));

    std::vector<std::shared_ptr<const scan_marker_t>> ms;
    marker_calls_t mc;
    while (src->next(mc))
      ms.push_back(number_marker(mc));
    worker = scan_worker_new();
    scan_row_t row = scan_window(worker, set, samples, ms);
    const scan_glm_t &g = scan_worker_glm(worker);
    if (g.fit.terms.empty())
      throw input_error(o.input + ": markers " + row.first_marker + " to " + row.last_marker +
                         ": " + row.status);
    std::string base = "NA";
    for (const glm_term_t &t : g.fit.terms)
      if (t.kind == GLM_BASE && t.haplotype >= 0)
        base = g.spelled[static_cast<size_t>(t.haplotype)];
    log.field("Model", std::string(set.binary ? "logistic" : "linear") + ", " +
                           effect_name(o.effect) + " effects; base haplotype " + base +
                           (o.base.empty() ? " (the most frequent)" : " (--base)") +
                           "; haplotypes below frequency " + num(o.min_freq) + " or " +
                           num(o.min_count) + " expected copies pooled as rare");
    log.field("Individuals in the fit", std::to_string(row.n_assoc));
    std::string line = reg_lrt_line(row, g.fit);
    {
      atomic_output_t out(o.output);
      out.write(reg_table(g, set));
      out.write("# " + line + "\n");
      out.commit();
    }
    fprintf(stderr, "hfreg: %s\n", line.c_str());
    log.field("Global test", line);
    if (row.status != "ok")
      tell(log, "note: " + row.status);
    scan_worker_free(worker);
    log.finish("");
    return 0;
  } catch (const input_error &e) {
    scan_worker_free(worker);
    fflush(stdout);
    fprintf(stderr, "hfreg: %s\n", e.what());
    log.finish(e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    scan_worker_free(worker);
    fflush(stdout);
    fprintf(stderr, "hfreg: out of memory\n");
    log.finish("out of memory");
    return 1;
  }
}
