// The output table: its header line and one row per window.

#include <cmath>
#include <cstdio>

#include "scan.h"

scan_row_t::scan_row_t()
{
  const double na = std::nan("");
  ld_chi2 = ld_p = assoc_chi2 = assoc_p = perm_p = fwer_p = na;
  top_freq = top_z = top_case_freq = top_control_freq = na;
}

std::string scan_header()
{
  return "chrom\tfirst_marker\tlast_marker\tfirst_pos\tlast_pos\tn_markers\tn_indiv\t"
         "n_haplotypes\tld_chi2\tld_df\tld_p\ttrait\ttest\tn_assoc\tn_cases\tn_controls\t"
         "n_covariates\tassoc_chi2\tassoc_df\tassoc_p\tperm_n\tperm_hits\tperm_p\tfwer_p\t"
         "top_haplotype\t"
         "top_freq\ttop_z\ttop_case_freq\ttop_control_freq\tstatus\n";
}

namespace {

// Ten significant digits: chi-squares of a million keep four decimals, and
// p values of 1e-300 keep their digits. Zero is written 0, never -0.
void number(std::string &out, double x)
{
  out += '\t';
  if (std::isnan(x)) {
    out += "NA";
    return;
  }
  if (x == 0)
    x = 0;
  char buf[32];
  snprintf(buf, sizeof buf, "%.10g", x);
  out += buf;
}

void count(std::string &out, long n)
{
  out += '\t';
  out += n < 0 ? "NA" : std::to_string(n);
}

void text(std::string &out, const std::string &s)
{
  out += '\t';
  if (s.empty()) {
    out += "NA";
    return;
  }
  for (char c : s)
    out += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
}

} // namespace

std::string scan_format(const scan_row_t &r)
{
  std::string out = r.chrom;
  text(out, r.first_marker);
  text(out, r.last_marker);
  count(out, r.first_pos);
  count(out, r.last_pos);
  count(out, r.n_markers);
  count(out, r.n_indiv);
  count(out, r.n_haplotypes);
  number(out, r.ld_chi2);
  count(out, r.ld_df);
  number(out, r.ld_p);
  text(out, r.trait);
  text(out, r.test);
  count(out, r.n_assoc);
  count(out, r.n_cases);
  count(out, r.n_controls);
  count(out, r.n_covariates);
  number(out, r.assoc_chi2);
  count(out, r.assoc_df);
  number(out, r.assoc_p);
  count(out, r.perm_n);
  count(out, r.perm_hits);
  number(out, r.perm_p);
  number(out, r.fwer_p);
  text(out, r.top_haplotype);
  number(out, r.top_freq);
  number(out, r.top_z);
  number(out, r.top_case_freq);
  number(out, r.top_control_freq);
  text(out, r.status);
  out += '\n';
  return out;
}
