// The command line of hfscan.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "hs_limits.h"
#include "scan.h"

namespace {

long whole(const std::string &name, const std::string &value, long least, long most)
{
  char *end = nullptr;
  errno = 0;
  long v = strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || v < least || v > most)
    throw input_error(name + " " + value + ": expected a whole number from " +
                       std::to_string(least) + " to " + std::to_string(most));
  return v;
}

double real(const std::string &name, const std::string &value, double least, double below)
{
  char *end = nullptr;
  errno = 0;
  double v = strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < least || v >= below)
    throw input_error(name + " " + value + ": expected a number of at least " +
                       std::to_string(least) + " and below " + std::to_string(below));
  return v;
}

void parse_chunk(const std::string &text, scan_options_t &o)
{
  size_t slash = text.find('/');
  std::string bad = "--chunk " + text + ": expected K/N with 1 <= K <= N, as in 2/10";
  if (slash == std::string::npos)
    throw input_error(bad);
  char *end = nullptr;
  std::string k = text.substr(0, slash), n = text.substr(slash + 1);
  errno = 0;
  long kv = strtol(k.c_str(), &end, 10);
  bool ok = !k.empty() && *end == '\0' && errno == 0;
  long nv = strtol(n.c_str(), &end, 10);
  ok = ok && !n.empty() && *end == '\0' && errno == 0;
  if (!ok || kv < 1 || nv < kv || nv > INT_MAX)
    throw input_error(bad);
  o.chunk = static_cast<int>(kv);
  o.chunks = static_cast<int>(nv);
}

} // namespace

long scan_whole(const std::string &name, const std::string &value, long least, long most)
{
  return whole(name, value, least, most);
}

double scan_real(const std::string &name, const std::string &value, double least, double below)
{
  return real(name, value, least, below);
}

void scan_names(const std::string &v, std::vector<std::string> &names)
{
  size_t at = 0;
  for (;;) {
    size_t comma = v.find(',', at);
    std::string name = v.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (name.empty())
      throw input_error("--covar-name " + v + ": expected names separated by commas, as in age,sex");
    names.push_back(name);
    if (comma == std::string::npos)
      break;
    at = comma + 1;
  }
}

bool take_association_option(cmdline_t &c, scan_options_t &o)
{
  const std::string &arg = c.arg();
  if (arg == "--trait") {
    std::string v = c.take();
    if (v == "binary")
      o.trait = TRAIT_BINARY;
    else if (v == "quantitative")
      o.trait = TRAIT_QUANTITATIVE;
    else
      throw input_error("--trait " + v + ": expected binary or quantitative");
  } else if (arg == "--covar")
    o.covar = c.take();
  else if (arg == "--covar-name")
    scan_names(c.take(), o.covar_names);
  else if (arg == "--min-freq")
    o.min_freq = real(arg, c.take(), 0, 1);
  else if (arg == "--em-max-iter") {
    o.em_max_iter = static_cast<int>(whole(arg, c.take(), 1, INT_MAX));
    o.em_given = true;
  } else if (arg == "--em-gain") {
    o.em_gain = real(arg, c.take(), 0, HUGE_VAL);
    o.em_given = true;
  } else if (arg == "--max-pairs")
    o.max_pairs = static_cast<double>(whole(arg, c.take(), 1, LONG_MAX));
  else
    return false;
  return true;
}

scan_options_t scan_parse(int argc, char **argv)
{
  scan_options_t o;
  std::vector<std::string> positional;
  bool permutations_given = false;
  cmdline_t c(argc, argv);
  while (c.next()) {
    const std::string &arg = c.arg();
    bool has_value = c.has_value();
    if (take_input_option(c, o) || take_association_option(c, o))
      continue;
    if (arg == "--window")
      o.window = static_cast<int>(whole(arg, c.take(), 1, HF_MAXLOCI));
    else if (arg == "--step")
      o.step = static_cast<int>(whole(arg, c.take(), 1, INT_MAX));
    else if (arg == "--permutations") {
      o.permutations = whole(arg, c.take(), 0, LONG_MAX);
      permutations_given = true;
    } else if (arg == "--perm-hits") {
      o.perm_hits = whole(arg, c.take(), 1, LONG_MAX);
      o.perm_hits_given = true;
    } else if (arg == "--max-t" && !has_value)
      o.max_t = true;
    else if (arg == "--seed") {
      std::string v = c.take();
      char *end = nullptr;
      errno = 0;
      unsigned long long s = strtoull(v.c_str(), &end, 10);
      if (v.empty() || v[0] == '-' || *end != '\0' || errno != 0)
        throw input_error("--seed " + v + ": expected a whole number from 0 to " +
                           std::to_string(UINT64_MAX));
      o.seed = s;
    } else if (arg == "--jobs")
      o.jobs = static_cast<int>(whole(arg, c.take(), 1, 1024));
    else if (arg == "--chunk")
      parse_chunk(c.take(), o);
    else if (arg == "--quiet" && !has_value)
      o.quiet = true;
    else if (arg == "--test") {
      std::string v = c.take();
      if (v != "score" && v != "lrt" && v != "glm")
        throw input_error("--test " + v + ": expected score, lrt or glm");
      o.lrt = v == "lrt";
      o.glm = v == "glm";
    } else if (arg == "--score-variance") {
      std::string v = c.take();
      if (v == "conditional")
        o.variance = ASSOC_CONDITIONAL;
      else if (v == "louis")
        o.variance = ASSOC_LOUIS;
      else
        throw input_error("--score-variance " + v + ": expected conditional or louis");
    } else if (arg == "--within")
      o.within = c.take();
    else if (arg.size() > 1 && arg[0] == '-')
      throw input_error(std::string(c.typed()) + ": unknown option (hfscan --help lists them)");
    else
      positional.push_back(arg);
  }
  io_names_t io = resolve_io(o, positional,
                             "expected an input file and an output file (hfscan --help shows how)");
  o.input = io.input;
  o.output = io.prefix ? io.output + ".tsv" : io.output;
  o.log = io.output + ".log";
  // Every window of this many markers with two or more alleles each has
  // more haplotypes than the estimator can number.
  if (o.window > largest_snp_window())
    throw input_error("--window " + std::to_string(o.window) + ": a window of " +
                       std::to_string(o.window) + " markers with two alleles each has 2^" +
                       std::to_string(o.window) + " possible haplotypes, more than the estimator "
                       "can number; the largest window of such markers is " +
                       std::to_string(largest_snp_window()));
  if (!o.covar_names.empty() && o.covar.empty())
    throw input_error("--covar-name needs --covar FILE");
  if (o.lrt && !o.covar.empty())
    throw input_error("--test lrt compares cases with controls without covariates; "
                       "use the score test (the default) with --covar");
  if (o.lrt && o.trait == TRAIT_QUANTITATIVE)
    throw input_error("--test lrt needs a binary trait; use the score test (the default) "
                       "for a quantitative one");
  if (o.max_t && o.lrt)
    throw input_error("--max-t needs the score test (the default): the likelihood-ratio test "
                       "estimates every permuted window again, and has no shared permutations");
  if (o.max_t && o.permutations == 0)
    throw input_error("--max-t needs permutations: give --permutations N with N of at least 1");
  if (o.max_t && o.perm_hits_given)
    throw input_error("--perm-hits does not apply with --max-t: every window runs all the "
                       "permutations, the same ones in every window");
  // The GLM's EM runs to convergence in every window: permutations would
  // repeat it hundreds of times per window, so the test has none.
  if (o.glm && permutations_given && o.permutations != 0)
    throw input_error("--test glm has no permutations (its p value is asymptotic); "
                       "leave out --permutations or give --permutations 0");
  if (o.glm)
    o.permutations = 0;
  if (o.glm && !o.within.empty())
    throw input_error("--within sets strata of permutations, which --test glm does not run");
  check_input_choice(o, "the markers");
  check_input_tables(o);
  return o;
}
