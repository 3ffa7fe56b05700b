// PLINK binary files: .bim (markers with their two alleles), .fam
// (individuals) and .bed (genotypes, two bits per individual, one block of
// bytes per marker in SNP-major mode).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "genotypes.h"

namespace {

std::string where(const std::string &path, int lineno)
{
  return path + ", line " + std::to_string(lineno) + ": ";
}

struct bim_t {
  marker_t m;
  std::string a1, a2;  // "0" for an allele the file does not know
};

std::vector<bim_t> read_bim(const std::string &path)
{
  std::ifstream in(path);
  if (!in)
    throw input_error(path + ": cannot open the marker file");
  std::vector<bim_t> out;
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    lineno++;
    std::vector<std::string> w = split_words(line);
    if (w.empty())
      continue;
    if (w.size() != 6)
      throw input_error(where(path, lineno) + "expected 6 fields (chromosome, marker name, "
                         "genetic distance, position, allele 1, allele 2), found " +
                         std::to_string(w.size()));
    char *end = nullptr;
    errno = 0;
    long p = strtol(w[3].c_str(), &end, 10);
    if (*end != '\0' || errno != 0)
      throw input_error(where(path, lineno) + "position " + w[3] + " is not a whole number");
    bim_t b;
    b.m.chrom = w[0];
    b.m.name = w[1];
    b.m.pos = p;
    b.m.index = static_cast<int>(out.size()) + 1;
    b.a1 = w[4];
    b.a2 = w[5];
    out.push_back(b);
  }
  if (out.empty())
    throw input_error(path + ": no marker in the file");
  return out;
}

void read_fam(const std::string &path, std::vector<sample_t> &samples)
{
  std::ifstream in(path);
  if (!in)
    throw input_error(path + ": cannot open the individual file");
  // As many samples as lines, reserved at once: a vector grown by doubling
  // would hold up to twice the samples while it grows. (A file that cannot
  // be read twice, such as a pipe, is read once.)
  if (in.tellg() == std::streampos(0)) {
    size_t lines = 0;
    char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0)
      for (std::streamsize k = 0; k < in.gcount(); k++)
        lines += buf[k] == '\n';
    samples.reserve(lines + 1);
    in.clear();
    in.seekg(0);
    if (!in)
      throw input_error(path + ": cannot read the individual file");
  }
  std::set<std::string> seen;
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    lineno++;
    std::vector<std::string> f = split_words(line);
    if (f.empty())
      continue;
    if (f.size() != 6)
      throw input_error(where(path, lineno) + "expected 6 fields (family, individual, father, "
                         "mother, sex, phenotype), found " + std::to_string(f.size()));
    sample_t s;
    s.fid = f[0];
    s.iid = f[1];
    s.sex = plink_sex(f[4], where(path, lineno));
    s.status = plink_status(f[5], where(path, lineno));
    s.pheno = f[5];
    s.line = lineno;
    add_sample(samples, seen, s, where(path, lineno));
  }
  if (samples.empty())
    throw input_error(path + ": no individual in the file");
}

// The genotypes of one marker are a block of (individuals + 3) / 4 bytes;
// the blocks follow the three magic bytes in marker order, so any marker is
// one seek away.
class bed_source_t : public marker_source_t {
 public:
  std::string bed, bim;
  std::vector<bim_t> all;
  std::vector<size_t> keep;  // input indexes of the kept markers
  FILE *f = nullptr;
  size_t block = 0;
  size_t at = 0;
  long position = -1;  // the stream's offset after the last read, or -1
  std::vector<unsigned char> bytes;

  ~bed_source_t() override
  {
    if (f)
      fclose(f);
  }

  bool next(marker_calls_t &out) override
  {
    if (at >= keep.size())
      return false;
    const bim_t &b = all[keep[at]];
    long offset = static_cast<long>(3 + block * keep[at]);
    // Consecutive markers need no seek (which would drop the stream's buffer).
    if ((offset != position && fseek(f, offset, SEEK_SET) != 0) ||
        fread(bytes.data(), 1, block, f) != block) {
      position = -1;
      throw input_error(bed + ": cannot read the genotypes of marker " + b.m.name);
    }
    position = offset + static_cast<long>(block);
    const size_t n = samples.size();
    out.marker = markers[at];
    out.spellings = {b.a1, b.a2};
    out.a.assign(n, -1);
    out.b.assign(n, -1);
    const bool unknown[2] = {out.spellings[0] == "0", out.spellings[1] == "0"};
    if (!unknown[0] && !unknown[1]) {
      // Both alleles known: every code maps straight to its pair.
      static const int32_t first[4] = {0, -1, 0, 1}, second[4] = {0, -1, 1, 1};
      int32_t *a = out.a.data(), *bb = out.b.data();
      for (size_t i = 0; i < n; i++) {
        int g = (bytes[i / 4] >> (2 * (i % 4))) & 3;
        a[i] = first[g];
        bb[i] = second[g];
      }
      at++;
      return true;
    }
    for (size_t i = 0; i < n; i++) {
      // Two bits per individual, the first individual in the lowest bits:
      // 00 homozygous allele 1, 10 heterozygous, 11 homozygous allele 2,
      // 01 missing.
      int g = (bytes[i / 4] >> (2 * (i % 4))) & 3;
      int x, y;
      if (g == 0)
        x = y = 0;
      else if (g == 2) {
        x = 0;
        y = 1;
      } else if (g == 3)
        x = y = 1;
      else
        continue;
      if (unknown[x] || unknown[y])
        throw input_error(bed + ": individual " + samples[i].fid + " " + samples[i].iid +
                           " has a call at marker " + b.m.name + " whose allele is unknown (0) in " +
                           bim);
      out.a[i] = x;
      out.b[i] = y;
    }
    at++;
    return true;
  }
  void skip_to(size_t j) override { at = j; }
};

} // namespace

std::unique_ptr<marker_source_t> open_bed(const std::string &bed, const std::string &bim,
                                          const std::string &fam, const selector_t &sel)
{
  auto src = std::make_unique<bed_source_t>();
  src->bed = bed;
  src->bim = bim;
  src->all = read_bim(bim);
  const std::vector<bim_t> &all = src->all;
  src->input_markers = all.size();
  read_fam(fam, src->samples);
  for (size_t k = 0; k < all.size(); k++)
    if (wanted(sel, all[k].m)) {
      src->keep.push_back(k);
      src->markers.push_back(all[k].m);
    }
  std::string missing = check_names_found(sel, src->markers, bim);
  if (!missing.empty())
    src->warnings.push_back(missing);
  std::string repeated = duplicate_names(src->markers, bim);
  if (!repeated.empty())
    src->warnings.push_back(repeated);

  FILE *f = fopen(bed.c_str(), "rb");
  if (!f)
    throw input_error(bed + ": cannot open the genotype file: " + strerror(errno));
  src->f = f;
  const size_t n = src->samples.size();
  const size_t block = (n + 3) / 4;
  unsigned char magic[3];
  bool ok = fread(magic, 1, 3, f) == 3;
  long size = -1;
  if (ok && fseek(f, 0, SEEK_END) == 0)
    size = ftell(f);
  std::string problem;
  if (!ok || magic[0] != 0x6c || magic[1] != 0x1b)
    problem = "not a PLINK binary genotype file (its first two bytes are not 6c 1b)";
  else if (magic[2] == 0x00)
    problem = "individual-major genotype order; only SNP-major files are read "
              "(rewrite it with PLINK's --make-bed)";
  else if (magic[2] != 0x01)
    problem = "unknown genotype order byte (expected 01 for SNP-major)";
  else if (size < 0 || static_cast<unsigned long>(size) != 3 + block * all.size())
    problem = "holds " + std::to_string(size) + " bytes; " + std::to_string(all.size()) +
              " markers of " + bim + " and " + std::to_string(n) + " individuals of " + fam +
              " need " + std::to_string(3 + block * all.size());
  if (!problem.empty())
    throw input_error(bed + ": " + problem);
  src->block = block;
  src->bytes.resize(block);
  return src;
}

window_t read_bed(const std::string &bed, const std::string &bim, const std::string &fam,
                  const selector_t &sel)
{
  return read_window(*open_bed(bed, bim, fam, sel));
}
