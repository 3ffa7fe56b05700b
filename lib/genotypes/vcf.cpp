// VCF and BCF files, plain or compressed, read through htslib. Samples are
// the header's sample columns; the marker name is the ID column, or
// CHROM:POS when the ID is missing; alleles are REF and the ALT alleles.

#include "genotypes.h"

#ifdef HF_HAVE_HTSLIB

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <set>

#include <htslib/hts.h>
#include <htslib/kseq.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>

bool vcf_supported()
{
  return true;
}

namespace {

// Everything htslib hands out, released on every way out.
struct vcf_handles_t {
  htsFile *file = nullptr;
  bcf_hdr_t *hdr = nullptr;
  bcf1_t *rec = nullptr;
  int32_t *gt = nullptr;
  kstring_t line = KS_INITIALIZE;  // a record of a text VCF, as read
  bool text = false;               // VCF text (plain or compressed), not BCF
  // Closes the file, keeping the genotype buffer for the next opening.
  void close()
  {
    if (rec)
      bcf_destroy(rec);
    if (hdr)
      bcf_hdr_destroy(hdr);
    if (file)
      hts_close(file);
    rec = nullptr;
    hdr = nullptr;
    file = nullptr;
  }
  ~vcf_handles_t()
  {
    close();
    free(gt);
    ks_free(&line);
  }
};

// htslib refuses a #CHROM line that ends at FORMAT, or whose columns after
// FORMAT are empty: such a header declares no sample, and the message says
// so rather than that the header cannot be read.
bool header_without_samples(const std::string &path)
{
  htsFile *f = hts_open(path.c_str(), "r");
  if (!f)
    return false;
  kstring_t line = KS_INITIALIZE;
  bool none = false;
  while (hts_getline(f, KS_SEP_LINE, &line) >= 0 && line.l > 0 && line.s[0] == '#') {
    if (strncmp(line.s, "#CHROM", 6) != 0)
      continue;
    size_t tabs = 0;
    none = true;
    for (size_t i = 0; i < line.l && none; i++)
      if (line.s[i] == '\t')
        tabs++;
      else if (tabs >= 9 && line.s[i] != '\r')
        none = false;
    break;
  }
  ks_free(&line);
  hts_close(f);
  return none;
}

void open_handles(vcf_handles_t &h, const std::string &path)
{
  errno = 0;
  h.file = hts_open(path.c_str(), "r");
  if (!h.file) {
    // htslib gives ENOEXEC for contents it cannot recognise.
    if (errno == ENOEXEC || errno == 0)
      throw input_error(path + ": not a VCF or BCF file, or a damaged one");
    throw input_error(path + ": cannot open the VCF/BCF file: " + strerror(errno));
  }
  const htsFormat *fmt = hts_get_format(h.file);
  if (fmt->category != variant_data)
    throw input_error(path + ": not a VCF or BCF file");
  h.text = fmt->format == vcf;
  h.hdr = bcf_hdr_read(h.file);
  if (!h.hdr) {
    if (h.text && header_without_samples(path))
      throw input_error(path + ": the file has no sample columns");
    throw input_error(path + ": cannot read the VCF header");
  }
  h.rec = bcf_init();
}

// Records are read in file order; index counts every record, kept or not,
// and is the marker's index in the input.
class vcf_source_t : public marker_source_t {
 public:
  std::string path;
  selector_t sel;
  vcf_handles_t h;
  int ngt_arr = 0, index = 0;
  size_t kept = 0;     // kept markers returned or skipped so far
  bool done = false;

  std::string at() const { return path + ", record " + std::to_string(index) + ": "; }

  // Once every record has been read: the listed names found, the names
  // borne twice, the count of the input's markers.
  void note_markers()
  {
    input_markers = static_cast<size_t>(index);
    std::string missing = check_names_found(sel, markers, path);
    if (!missing.empty())
      warnings.push_back(missing);
    std::string repeated = duplicate_names(markers, path);
    if (!repeated.empty())
      warnings.push_back(repeated);
  }

  // htslib reads a POS of "abc" as 0 and one of "5x" as 5, and takes an
  // empty line for a record; in a text VCF these are refused here, from
  // the line as read, before htslib parses it.
  // The line is the record after the index-th.
  void check_line() const
  {
    auto at = [&] { return path + ", record " + std::to_string(index + 1) + ": "; };
    const char *s = h.line.s, *end = s + h.line.l;
    if (h.line.l == 0)
      throw input_error(at() + "an empty line where a record belongs");
    const char *tab = static_cast<const char *>(memchr(s, '\t', h.line.l));
    if (!tab)
      return;  // htslib names what is missing
    const char *pos = tab + 1, *stop = pos;
    while (stop < end && *stop != '\t')
      stop++;
    bool digits = stop > pos && stop - pos <= 18;
    for (const char *c = pos; digits && c < stop; c++)
      digits = *c >= '0' && *c <= '9';
    if (!digits)
      throw input_error(at() + "POS is \"" + std::string(pos, std::min<size_t>(stop - pos, 40)) +
                         "\", not a position (a whole number from 0)");
  }

  // Reads the next record into h.rec: 0, -1 at the end, below -1 on error.
  int read_record()
  {
    if (!h.text)
      return bcf_read(h.file, h.hdr, h.rec);
    int r = hts_getline(h.file, KS_SEP_LINE, &h.line);
    if (r < 0)
      return r;
    check_line();
    return vcf_parse(&h.line, h.hdr, h.rec) == 0 ? 0 : -2;
  }

  // The next record the selector keeps, its marker in m; false at the end.
  bool next_kept(marker_t &m)
  {
    int status;
    while ((status = read_record()) == 0) {
      index++;
      if (bcf_unpack(h.rec, BCF_UN_STR) < 0)
        throw input_error(at() + "cannot decode the record");
      m = marker_t();
      m.chrom = bcf_seqname_safe(h.hdr, h.rec);
      m.pos = h.rec->pos + 1;
      m.index = index;
      std::string id = h.rec->d.id ? h.rec->d.id : ".";
      m.name = id == "." ? m.chrom + ":" + std::to_string(m.pos) : id;
      if (wanted(sel, m))
        return true;
    }
    if (status < -1)
      throw input_error(path + ", record " + std::to_string(index + 1) +
                         ": cannot read the record (malformed or truncated file)");
    return false;
  }

  bool next(marker_calls_t &out) override
  {
    marker_t m;
    if (done || !next_kept(m)) {
      if (!done && !markers_known) {
        note_markers();
      }
      done = true;
      return false;
    }
    const int n = static_cast<int>(samples.size());
    out.spellings.clear();
    for (int k = 0; k < h.rec->n_allele; k++)
      out.spellings.push_back(h.rec->d.allele[k]);
    // htslib ends the program when asked to decode a field whose values it
    // could not type (a GT key that got no values, as after an empty key in
    // FORMAT ":GT"): such a record is refused here first.
    bcf_fmt_t *gtf = bcf_get_fmt(h.hdr, h.rec, "GT");
    if (!gtf)
      throw input_error(at() + "marker " + m.name + " has no GT field");
    if (gtf->type != BCF_BT_INT8 && gtf->type != BCF_BT_INT16 && gtf->type != BCF_BT_INT32)
      throw input_error(at() + "marker " + m.name + " has a GT field without genotypes "
                         "(is a FORMAT key empty?)");
    int ngt = bcf_get_genotypes(h.hdr, h.rec, &h.gt, &ngt_arr);
    if (ngt < 0)
      throw input_error(at() + "marker " + m.name + " has no GT field");
    int ploidy = ngt / n;
    out.a.assign(n, -1);
    out.b.assign(n, -1);
    for (int i = 0; i < n; i++) {
      int32_t *p = h.gt + i * ploidy;
      int x = -1, y = -1, have = 0;
      bool missing = false;
      for (int j = 0; j < ploidy && p[j] != bcf_int32_vector_end; j++) {
        if (bcf_gt_is_missing(p[j]))
          missing = true;
        else if (have++ == 0)
          x = bcf_gt_allele(p[j]);
        else if (have == 2)
          y = bcf_gt_allele(p[j]);
      }
      if (missing || have == 0)
        continue;
      if (have > 2)
        throw input_error(at() + "sample " + samples[i].iid + " has a call of ploidy " +
                           std::to_string(have) + " at marker " + m.name +
                           "; only haploid and diploid calls are read");
      if (have == 1)
        y = x;  // a haploid call, as for males on the X chromosome
      if (x < 0 || y < 0 || x >= h.rec->n_allele || y >= h.rec->n_allele)
        throw input_error(at() + "sample " + samples[i].iid + " has an allele index beyond "
                           "the alleles of marker " + m.name);
      out.a[i] = x;
      out.b[i] = y;
    }
    if (!markers_known)
      markers.push_back(m);
    out.marker = m;
    kept++;
    return true;
  }

  void skip_to(size_t j) override
  {
    marker_t m;
    while (kept < j) {
      if (!next_kept(m))
        throw input_error(path + ": the file changed while it was read (fewer records than "
                           "on the first pass)");
      kept++;
    }
  }
};

} // namespace

std::unique_ptr<marker_source_t> open_vcf(const std::string &path, const selector_t &sel,
                                          bool marker_pass)
{
  // htslib's own log lines ("[E::hts_open_format] ...") would stand beside
  // the one message this program gives for each failure.
  hts_set_log_level(HTS_LOG_OFF);
  auto src = std::make_unique<vcf_source_t>();
  src->path = path;
  src->sel = sel;
  open_handles(src->h, path);
  int n = bcf_hdr_nsamples(src->h.hdr);
  if (n == 0)
    throw input_error(path + ": the file has no sample columns");
  std::set<std::string> seen;
  for (int i = 0; i < n; i++) {
    sample_t s;
    s.iid = src->h.hdr->samples[i];
    s.fid = s.iid;
    add_sample(src->samples, seen, s, path + ": ");
  }
  src->markers_known = marker_pass;
  if (marker_pass) {
    // The marker list first, then the calls from the start again.
    marker_t m;
    while (src->next_kept(m))
      src->markers.push_back(m);
    src->note_markers();
    src->h.close();
    open_handles(src->h, path);
    src->index = 0;
  }
  return src;
}

window_t read_vcf(const std::string &path, const selector_t &sel)
{
  return read_window(*open_vcf(path, sel, false));
}

#else

bool vcf_supported()
{
  return false;
}

std::unique_ptr<marker_source_t> open_vcf(const std::string &path, const selector_t &, bool)
{
  throw input_error(path + ": this hfimport was built without htslib (-DHS_VCF=OFF) and "
                     "cannot read VCF or BCF files; convert the file to PLINK format, or "
                     "rebuild with libhts-dev installed and HS_VCF on");
}

#endif
