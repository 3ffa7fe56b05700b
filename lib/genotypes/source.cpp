// The input by its kind, and whole windows read through the marker-by-marker
// sources: the one reader of every program that takes PLINK or VCF files.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "genotypes.h"
#include "isdir.h"

namespace {

bool ends_with(const std::string &s, const std::string &tail)
{
  return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string stem_of(const std::string &path, const std::string &suffix)
{
  return path.substr(0, path.size() - suffix.size());
}

bool exists(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

} // namespace

bool vcf_name(const std::string &name)
{
  return ends_with(name, ".vcf") || ends_with(name, ".vcf.gz") || ends_with(name, ".vcf.bgz") ||
         ends_with(name, ".bcf");
}

std::string find_genotypes(const std::string &name)
{
  if (ends_with(name, ".bed") || ends_with(name, ".ped") || vcf_name(name))
    return name;
  bool bed = exists(name + ".bed"), ped = exists(name + ".ped");
  if (bed && ped)
    throw input_error(name + ": both " + name + ".bed and " + name + ".ped exist; name the one "
                       "to read, with its ending or as --bfile or --file");
  if (bed)
    return name + ".bed";
  if (ped)
    return name + ".ped";
  if (exists(name))
    return name;  // a file of its own kind: open_input names the kinds it reads
  throw input_error(name + ": no such file, nor " + name + ".bed or " + name +
                     ".ped (a name without an ending is looked for as a PLINK prefix)");
}

std::vector<std::string> input_files(const std::string &input)
{
  std::vector<std::string> files = {input};
  if (ends_with(input, ".ped"))
    files.push_back(stem_of(input, ".ped") + ".map");
  if (ends_with(input, ".bed"))
    for (const char *part : {".bim", ".fam"})
      files.push_back(stem_of(input, ".bed") + part);
  return files;
}

void check_input(const std::string &path)
{
  if (hs_is_directory(path.c_str()))
    throw input_error(path + " " HS_ISDIR_TEXT);
  FILE *f = fopen(path.c_str(), "r");
  if (!f)
    throw input_error(path + ": cannot open: " + strerror(errno));
  fclose(f);
}

std::unique_ptr<marker_source_t> open_input(const std::string &input, const selector_t &sel,
                                            bool marker_pass, bool &plink)
{
  plink = true;
  if (ends_with(input, ".ped")) {
    std::string stem = stem_of(input, ".ped");
    check_input(input);
    check_input(stem + ".map");
    return open_ped(input, stem + ".map", sel);
  }
  if (ends_with(input, ".bed")) {
    std::string stem = stem_of(input, ".bed");
    for (const char *part : {".bed", ".bim", ".fam"})
      check_input(stem + part);
    return open_bed(input, stem + ".bim", stem + ".fam", sel);
  }
  if (vcf_name(input)) {
    plink = false;
    check_input(input);
    return open_vcf(input, sel, marker_pass);
  }
  throw input_error(input + ": unknown kind of file; expected a name ending in .ped, .bed, "
                     ".vcf, .vcf.gz or .bcf");
}

window_t read_window(marker_source_t &src)
{
  window_t w;
  w.samples = src.samples;
  marker_calls_t mc;
  while (src.next(mc)) {
    std::vector<call_t> calls(mc.a.size());
    for (size_t i = 0; i < calls.size(); i++)
      if (mc.a[i] >= 0) {
        calls[i].a = mc.spellings[mc.a[i]];
        calls[i].b = mc.spellings[mc.b[i]];
      }
    w.markers.push_back(mc.marker);
    w.calls.push_back(std::move(calls));
  }
  return w;
}
