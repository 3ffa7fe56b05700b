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
    throw import_error(name + " " + value + ": expected a whole number from " +
                       std::to_string(least) + " to " + std::to_string(most));
  return v;
}

double real(const std::string &name, const std::string &value, double least, double below)
{
  char *end = nullptr;
  errno = 0;
  double v = strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < least || v >= below)
    throw import_error(name + " " + value + ": expected a number of at least " +
                       std::to_string(least) + " and below " + std::to_string(below));
  return v;
}

void parse_chunk(const std::string &text, scan_options_t &o)
{
  size_t slash = text.find('/');
  std::string bad = "--chunk " + text + ": expected K/N with 1 <= K <= N, as in 2/10";
  if (slash == std::string::npos)
    throw import_error(bad);
  char *end = nullptr;
  std::string k = text.substr(0, slash), n = text.substr(slash + 1);
  errno = 0;
  long kv = strtol(k.c_str(), &end, 10);
  bool ok = !k.empty() && *end == '\0' && errno == 0;
  long nv = strtol(n.c_str(), &end, 10);
  ok = ok && !n.empty() && *end == '\0' && errno == 0;
  if (!ok || kv < 1 || nv < kv || nv > INT_MAX)
    throw import_error(bad);
  o.chunk = static_cast<int>(kv);
  o.chunks = static_cast<int>(nv);
}

} // namespace

scan_options_t scan_parse(int argc, char **argv)
{
  scan_options_t o;
  std::vector<std::string> positional;
  int windows = 0;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i], value;
    bool has_value = false;
    size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
      has_value = true;
    }
    auto take = [&]() -> std::string {
      if (has_value)
        return value;
      if (i + 1 >= argc)
        throw import_error(arg + ": a value must follow");
      return argv[++i];
    };
    if (arg == "--markers") {
      std::string list = take();
      check_input(list);
      read_name_list(list, o.sel);
      windows++;
    } else if (arg == "--region") {
      parse_region(take(), o.sel);
      windows++;
    } else if (arg == "--index") {
      parse_index_range(take(), o.sel);
      windows++;
    } else if (arg == "--pheno")
      o.pheno = take();
    else if (arg == "--pheno-col")
      o.pheno_col = take();
    else if (arg == "--sex-file")
      o.sex_file = take();
    else if (arg == "--window")
      o.window = static_cast<int>(whole(arg, take(), 1, HF_MAXLOCI));
    else if (arg == "--step")
      o.step = static_cast<int>(whole(arg, take(), 1, INT_MAX));
    else if (arg == "--permutations")
      o.permutations = whole(arg, take(), 0, LONG_MAX);
    else if (arg == "--perm-hits")
      o.perm_hits = whole(arg, take(), 1, LONG_MAX);
    else if (arg == "--seed") {
      std::string v = take();
      char *end = nullptr;
      errno = 0;
      unsigned long long s = strtoull(v.c_str(), &end, 10);
      if (v.empty() || v[0] == '-' || *end != '\0' || errno != 0)
        throw import_error("--seed " + v + ": expected a whole number from 0 to " +
                           std::to_string(UINT64_MAX));
      o.seed = s;
    } else if (arg == "--min-freq")
      o.min_freq = real(arg, take(), 0, 1);
    else if (arg == "--em-max-iter")
      o.em_max_iter = static_cast<int>(whole(arg, take(), 1, INT_MAX));
    else if (arg == "--em-gain")
      o.em_gain = real(arg, take(), 0, HUGE_VAL);
    else if (arg == "--jobs")
      o.jobs = static_cast<int>(whole(arg, take(), 1, 1024));
    else if (arg == "--chunk")
      parse_chunk(take(), o);
    else if (arg == "--quiet" && !has_value)
      o.quiet = true;
    else if (arg.size() > 1 && arg[0] == '-')
      throw import_error(std::string(argv[i]) + ": unknown option (hfscan --help lists them)");
    else
      positional.push_back(arg);
  }
  if (positional.size() != 2)
    throw import_error("expected an input file and an output file (hfscan --help shows how)");
  o.input = positional[0];
  o.output = positional[1];
  if (windows > 1)
    throw import_error("--markers, --region and --index choose the markers in different ways; "
                       "give one of them");
  if (!o.pheno.empty() && o.pheno_col.empty())
    throw import_error("--pheno " + o.pheno + ": name the status column with --pheno-col");
  if (o.pheno.empty() && !o.pheno_col.empty())
    throw import_error("--pheno-col needs --pheno FILE");
  if (!o.pheno.empty())
    check_input(o.pheno);
  if (!o.sex_file.empty())
    check_input(o.sex_file);
  return o;
}
