// The command-line options shared by hfimport and hfscan.

#include <cctype>
#include <cstdlib>

#include "genotypes.h"

bool cmdline_t::next()
{
  if (++i_ >= argc_)
    return false;
  arg_ = argv_[i_];
  value_.clear();
  has_value_ = false;
  size_t eq = arg_.find('=');
  if (arg_.compare(0, 2, "--") == 0 && eq != std::string::npos) {
    value_ = arg_.substr(eq + 1);
    arg_.erase(eq);
    has_value_ = true;
  }
  return true;
}

std::string cmdline_t::take()
{
  if (has_value_)
    return value_;
  if (i_ + 1 >= argc_)
    throw input_error(arg_ + ": a value must follow");
  return argv_[++i_];
}

namespace {

// --bfile, --file and --vcf name the input; only one of them.
void take_genotype_option(cmdline_t &c, input_options_t &in)
{
  std::string value = c.take();
  if (value.empty())
    throw input_error(c.arg() + ": expected a file name after it");
  if (!in.genotype_option.empty())
    throw input_error(c.arg() + " " + value + ": the input is given by " + in.genotype_option +
                       " " + in.genotype + " already; give one input");
  in.genotype_option = c.arg();
  in.genotype = value;
}

void window_option(input_options_t &in, const std::string &name)
{
  in.windows++;
  in.window_options.push_back(name);
}

bool all_digits(const std::string &s)
{
  if (s.empty())
    return false;
  for (char ch : s)
    if (ch < '0' || ch > '9')
      return false;
  return true;
}

} // namespace

bool take_input_option(cmdline_t &c, input_options_t &in)
{
  const std::string &arg = c.arg();
  if (arg == "--markers") {
    std::string list = c.take();
    check_input(list);
    read_name_list(list, in.sel);
    window_option(in, arg);
  } else if (arg == "--region") {
    parse_region(c.take(), in.sel);
    window_option(in, arg);
  } else if (arg == "--chr") {
    std::string chrom = c.take();
    // PLINK's lists and ranges of chromosomes (1-4,22) would need windows
    // over several chromosomes; one chromosome is taken.
    if (chrom.empty() || chrom.find_first_of(",: \t") != std::string::npos ||
        (chrom.find('-') != std::string::npos && isdigit(static_cast<unsigned char>(chrom[0]))))
      throw input_error("--chr " + chrom + ": expected one chromosome, as in --chr 22 " +
                         "(for a range of positions: --region 22:FROM-TO)");
    parse_region(chrom, in.sel);
    window_option(in, arg);
  } else if (arg == "--index") {
    parse_index_range(c.take(), in.sel);
    window_option(in, arg);
  } else if (arg == "--allow-missing-markers" && !c.has_value()) {
    in.sel.allow_missing = true;
  } else if (arg == "--pheno") {
    in.pheno = c.take();
  } else if (arg == "--pheno-col") {
    in.pheno_col = c.take();
    in.pheno_col_number = false;
  } else if (arg == "--pheno-col-nums") {
    std::string v = c.take();
    if (!all_digits(v) || v.size() > 9 || atoi(v.c_str()) < 1)
      throw input_error("--pheno-col-nums " + v + ": expected one column number, counted " +
                         "from 1 over every column of the table, as in 3");
    in.pheno_col = v;
    in.pheno_col_number = true;
  } else if (arg == "--sex-file") {
    in.sex_file = c.take();
  } else if (arg == "--bfile" || arg == "--file" || arg == "--vcf") {
    take_genotype_option(c, in);
  } else if (arg == "--out") {
    std::string v = c.take();
    if (v.empty())
      throw input_error("--out: expected an output prefix after it, as in --out result");
    if (!in.out.empty())
      throw input_error("--out " + v + ": --out " + in.out + " is given already");
    in.out = v;
  } else {
    return false;
  }
  return true;
}

void check_input_choice(const input_options_t &in, const char *what)
{
  if (in.windows > 1) {
    std::string given;
    for (size_t k = 0; k < in.window_options.size(); k++)
      given += (k == 0 ? "" : k + 1 == in.window_options.size() ? " and " : ", ") +
               in.window_options[k];
    throw input_error(given + " choose " + what + " in different ways; give one of them");
  }
  if (in.sel.allow_missing && !in.sel.by_names)
    throw input_error("--allow-missing-markers goes with --markers FILE");
  if (!in.pheno.empty() && in.pheno_col.empty())
    throw input_error("--pheno " + in.pheno + ": name the status column with --pheno-col");
  if (in.pheno.empty() && !in.pheno_col.empty())
    throw input_error(std::string(in.pheno_col_number ? "--pheno-col-nums" : "--pheno-col") +
                       " needs --pheno FILE");
}

void check_input_tables(input_options_t &in)
{
  if (!in.pheno.empty()) {
    check_input(in.pheno);
    in.pheno_col = phenotype_column(in.pheno, in.pheno_col, in.pheno_col_number);
    in.pheno_col_number = false;
  }
  if (!in.sex_file.empty())
    check_input(in.sex_file);
}

io_names_t resolve_io(const input_options_t &in, const std::vector<std::string> &positional,
                      const std::string &usage)
{
  io_names_t io;
  if (!in.genotype_option.empty()) {
    if (!positional.empty())
      throw input_error(positional[0] + ": the input is given by " + in.genotype_option + " " +
                         in.genotype + "; give the input either as the first argument or with "
                         "--bfile, --file or --vcf, not both (and the output with --out PREFIX)");
    if (in.out.empty())
      throw input_error(in.genotype_option + " " + in.genotype +
                         ": name the output with --out PREFIX");
    if (in.genotype_option == "--bfile")
      io.input = in.genotype + ".bed";
    else if (in.genotype_option == "--file")
      io.input = in.genotype + ".ped";
    else {
      io.input = in.genotype;
      if (!vcf_name(io.input))
        throw input_error("--vcf " + in.genotype +
                           ": expected a VCF or BCF file (.vcf, .vcf.gz, .vcf.bgz, .bcf)");
    }
  } else {
    size_t want = in.out.empty() ? 2 : 1;
    if (positional.size() == 2 && !in.out.empty())
      throw input_error(positional[1] + ": the output is given by --out " + in.out +
                         "; give the output either as the second argument or with --out, "
                         "not both");
    if (positional.size() != want)
      throw input_error(usage);
    io.input = find_genotypes(positional[0]);
  }
  if (!in.out.empty()) {
    io.output = in.out;
    io.prefix = true;
  } else {
    io.output = positional[1];
  }
  return io;
}
