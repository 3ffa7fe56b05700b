// The command-line options shared by hfimport and hfscan.

#include "hfimport.h"

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
    throw import_error(arg_ + ": a value must follow");
  return argv_[++i_];
}

bool take_input_option(cmdline_t &c, input_options_t &in)
{
  const std::string &arg = c.arg();
  if (arg == "--markers") {
    std::string list = c.take();
    check_input(list);
    read_name_list(list, in.sel);
    in.windows++;
  } else if (arg == "--region") {
    parse_region(c.take(), in.sel);
    in.windows++;
  } else if (arg == "--index") {
    parse_index_range(c.take(), in.sel);
    in.windows++;
  } else if (arg == "--pheno") {
    in.pheno = c.take();
  } else if (arg == "--pheno-col") {
    in.pheno_col = c.take();
  } else if (arg == "--sex-file") {
    in.sex_file = c.take();
  } else {
    return false;
  }
  return true;
}

void check_input_choice(const input_options_t &in, const char *what)
{
  if (in.windows > 1)
    throw import_error(std::string("--markers, --region and --index choose ") + what +
                       " in different ways; give one of them");
  if (!in.pheno.empty() && in.pheno_col.empty())
    throw import_error("--pheno " + in.pheno + ": name the status column with --pheno-col");
  if (in.pheno.empty() && !in.pheno_col.empty())
    throw import_error("--pheno-col needs --pheno FILE");
}

void check_input_tables(const input_options_t &in)
{
  if (!in.pheno.empty())
    check_input(in.pheno);
  if (!in.sex_file.empty())
    check_input(in.sex_file);
}
