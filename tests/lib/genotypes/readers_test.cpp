// The readers: PLINK text and binary files, VCF, phenotype and sex tables.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "genotypes.h"

#ifdef HF_HAVE_HTSLIB
#include <htslib/vcf.h>
#endif
#include "tmpfiles.h"

using ::testing::HasSubstr;

namespace {

const char *MAP = "1 rs1 0 100\n1 rs2 0 200\n1 rs3 300\n";

std::string pair_of(const call_t &c)
{
  return c.a.empty() ? "-" : c.a + c.b;
}

} // namespace

TEST(PedReader, KeepsOnlyTheWindowColumnsAndReadsSexAndStatus)
{
  scratch_t t;
  std::string map = t.write("d.map", MAP);
  std::string ped = t.write("d.ped",
                            "f1 i1 0 0 1 2 A G C C T T\n"
                            "\n"
                            "f2 i2 0 0 2 1 G G 0 0 T 0\n"
                            "f3 i3 0 0 0 -9\tA A C A 0 0\r\n");
  selector_t sel;
  parse_index_range("2-3", sel);
  window_t w = read_ped(ped, map, sel);
  ASSERT_EQ(w.markers.size(), 2u);
  EXPECT_EQ(w.markers[0].name, "rs2");
  EXPECT_EQ(w.markers[1].pos, 300);  // three-column map line
  ASSERT_EQ(w.samples.size(), 3u);
  EXPECT_EQ(w.samples[0].sex, SEX_MALE);
  EXPECT_EQ(w.samples[0].status, STATUS_CASE);
  EXPECT_EQ(w.samples[1].status, STATUS_CONTROL);
  EXPECT_EQ(w.samples[2].sex, SEX_UNKNOWN);
  EXPECT_EQ(w.samples[2].status, STATUS_UNKNOWN);
  std::vector<std::string> rs2, rs3;
  for (int i = 0; i < 3; i++) {
    rs2.push_back(pair_of(w.calls[0][i]));
    rs3.push_back(pair_of(w.calls[1][i]));
  }
  EXPECT_EQ(rs2, (std::vector<std::string>{"CC", "-", "CA"}));
  // A call with one allele missing is missing as a whole.
  EXPECT_EQ(rs3, (std::vector<std::string>{"TT", "-", "-"}));
}

TEST(PedReader, BadLinesAreNamedByFileAndLine)
{
  scratch_t t;
  std::string map = t.write("d.map", MAP);
  selector_t all;
  std::string ped = t.write("short.ped", "f1 i1 0 0 1 2 A G C C T T\nf2 i2 0 0 1 2 A G C C\n");
  EXPECT_THAT(error_of([&] { read_ped(ped, map, all); }),
              HasSubstr("short.ped, line 2: expected 12 fields"));
  ped = t.write("twice.ped", "f1 i1 0 0 1 2 A G C C T T\nf1 i1 0 0 1 2 A G C C T T\n");
  EXPECT_THAT(error_of([&] { read_ped(ped, map, all); }),
              HasSubstr("twice.ped, line 2: individual f1 i1 appears twice"));
  std::string badmap = t.write("bad.map", "1 rs1 0 100\n1 rs2 0 2e5\n");
  EXPECT_THAT(error_of([&] { read_ped(ped, badmap, all); }),
              HasSubstr("bad.map, line 2: position 2e5 is not a whole number"));
  EXPECT_THAT(error_of([&] { read_ped(t.dir + "/none.ped", map, all); }),
              HasSubstr("none.ped: cannot open"));
}

// A line whose sex or phenotype is a word is not an individual (a header,
// most often): read as one, its words would become alleles of every marker.
TEST(PlinkReaders, RefuseSexOrPhenotypeThatIsNotANumber)
{
  scratch_t t;
  std::string map = t.write("d.map", "1 rs1 0 100\n");
  selector_t all;
  const std::string ok = "f1 i1 0 0 1 2 A G\n";
  struct {
    const char *line, *message;
  } rows[] = {
      {"FID IID PAT MAT SEX PHENO rs1_a rs1_b\n", "line 1: the sex field is \"SEX\", not a number"},
      {"f0 i0 0 0 2 case A A\n", "line 1: the phenotype field is \"case\", not a number"},
      {"f0 i0 0 0 2 1.5e \tA A\r\n", "line 1: the phenotype field is \"1.5e\""},
      // Numbers and the missing codes are read; a quantitative trait is no status.
      {"f0 i0 0 0 NA -9\tA A\n", ""},
      {"f0 i0 0 0 0 . A A\n", ""},
      {"f0 i0 0 0 1 0.25 A A\n", ""},
  };
  for (const auto &row : rows) {
    std::string ped = t.write("h.ped", row.line + ok);
    EXPECT_THAT(error_of([&] { read_ped(ped, map, all); }), HasSubstr(row.message)) << row.line;
  }
  // The same rule for the .fam of a binary file set.
  std::string bed = t.write("h.bed", std::string{'\x6c', '\x1b', '\x01', '\x00'});
  std::string fam = t.write("h.fam", "FID IID PAT MAT SEX PHENO\nf1 i1 0 0 1 2\n");
  EXPECT_THAT(error_of([&] { read_bed(bed, t.write("h.bim", "1 rs1 0 100 A G\n"), fam, all); }),
              HasSubstr("h.fam, line 1: the sex field is \"SEX\", not a number"));
}

namespace {

// Three individuals, two markers: genotypes in the .bed's two-bit codes.
std::string bed_bytes(unsigned char mode, int extra = 0)
{
  std::string b = {'\x6c', '\x1b', static_cast<char>(mode)};
  // marker 1: hom A1 (00), het (10), hom A2 (11): 0b00111000
  b += static_cast<char>(0x38);
  // marker 2: missing (01), hom A1 (00), het (10): 0b00100001
  b += static_cast<char>(0x21);
  b += std::string(extra, '\0');
  return b;
}

const char *BIM = "2 m1 0 10 A G\n2 m2 0 20 T C\n";
const char *FAM = "a 1 0 0 1 2\na 2 0 0 2 1\nb 1 0 0 2 1\n";

} // namespace

TEST(BedReader, DecodesTheTwoBitGenotypesOfEachMarker)
{
  scratch_t t;
  std::string bed = t.write("d.bed", bed_bytes(1));
  selector_t all;
  window_t w = read_bed(bed, t.write("d.bim", BIM), t.write("d.fam", FAM), all);
  ASSERT_EQ(w.samples.size(), 3u);
  std::vector<std::string> m1, m2;
  for (int i = 0; i < 3; i++) {
    m1.push_back(pair_of(w.calls[0][i]));
    m2.push_back(pair_of(w.calls[1][i]));
  }
  EXPECT_EQ(m1, (std::vector<std::string>{"AA", "AG", "GG"}));
  EXPECT_EQ(m2, (std::vector<std::string>{"-", "TT", "TC"}));
  // The same IID in two families is two individuals.
  EXPECT_EQ(w.samples[2].fid, "b");
}

TEST(BedReader, ChecksMagicModeAndSize)
{
  scratch_t t;
  std::string bim = t.write("d.bim", BIM), fam = t.write("d.fam", FAM);
  selector_t all;
  std::string bed = t.write("wrong.bed", "#fileformat=VCF");
  EXPECT_THAT(error_of([&] { read_bed(bed, bim, fam, all); }),
              HasSubstr("wrong.bed: not a PLINK binary genotype file"));
  bed = t.write("imajor.bed", bed_bytes(0));
  EXPECT_THAT(error_of([&] { read_bed(bed, bim, fam, all); }), HasSubstr("individual-major"));
  bed = t.write("long.bed", bed_bytes(1, 1));
  EXPECT_THAT(error_of([&] { read_bed(bed, bim, fam, all); }),
              HasSubstr("long.bed: holds 6 bytes; 2 markers of"));
  bed = t.write("short.bed", bed_bytes(1).substr(0, 4));
  EXPECT_THAT(error_of([&] { read_bed(bed, bim, fam, all); }), HasSubstr("holds 4 bytes"));
  bed = t.write("empty.bed", "");
  EXPECT_THAT(error_of([&] { read_bed(bed, bim, fam, all); }), HasSubstr("not a PLINK binary"));
}

TEST(BedReader, ACallOfAnAlleleTheBimDoesNotKnowIsAnError)
{
  scratch_t t;
  selector_t all;
  std::string bed = t.write("d.bed", bed_bytes(1));
  std::string bim = t.write("d.bim", "2 m1 0 10 0 G\n2 m2 0 20 T C\n");
  EXPECT_THAT(error_of([&] { read_bed(bed, bim, t.write("d.fam", FAM), all); }),
              HasSubstr("whose allele is unknown (0)"));
  bim = t.write("five.bim", "2 m1 0 10 A\n");
  EXPECT_THAT(error_of([&] { read_bed(bed, bim, t.write("d.fam", FAM), all); }),
              HasSubstr("five.bim, line 1: expected 6 fields"));
}

TEST(VcfReader, ReadsDiploidHaploidAndMissingCalls)
{
#ifndef HF_HAVE_HTSLIB
  GTEST_SKIP() << "built without htslib";
#else
  if (!vcf_supported())
    GTEST_SKIP() << "built without htslib";
  scratch_t t;
  std::string vcf = t.write(
      "d.vcf",
      "##fileformat=VCFv4.2\n##contig=<ID=X>\n"
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\ts2\ts3\n"
      "X\t10\trs1\tA\tG,T\t.\tPASS\t.\tGT\t0/2\t1\t./.\n"
      "X\t20\t.\tC\tT\t.\tPASS\t.\tGT\t0|1\t.\t1/.\n");
  selector_t all;
  window_t w = read_vcf(vcf, all);
  ASSERT_EQ(w.markers.size(), 2u);
  EXPECT_EQ(w.markers[1].name, "X:20");  // no ID: chromosome and position
  EXPECT_EQ(w.samples[1].iid, "s2");
  EXPECT_EQ(pair_of(w.calls[0][0]), "AT");
  EXPECT_EQ(pair_of(w.calls[0][1]), "GG");  // haploid: hemizygous male
  EXPECT_EQ(pair_of(w.calls[0][2]), "-");
  EXPECT_EQ(pair_of(w.calls[1][0]), "CT");
  EXPECT_EQ(pair_of(w.calls[1][2]), "-");  // half-missing
#ifdef HF_HAVE_HTSLIB
  // The same records as BCF, written by htslib, read the same.
  std::string bcf = t.dir + "/d.bcf";
  t.files.push_back(bcf);
  htsFile *in = hts_open(vcf.c_str(), "r"), *out = hts_open(bcf.c_str(), "wb");
  bcf_hdr_t *hdr = bcf_hdr_read(in);
  bcf1_t *rec = bcf_init();
  ASSERT_EQ(bcf_hdr_write(out, hdr), 0);
  while (bcf_read(in, hdr, rec) == 0)
    ASSERT_EQ(bcf_write(out, hdr, rec), 0);
  bcf_destroy(rec);
  bcf_hdr_destroy(hdr);
  hts_close(in);
  ASSERT_EQ(hts_close(out), 0);
  window_t b = read_vcf(bcf, all);
  ASSERT_EQ(b.markers.size(), w.markers.size());
  for (size_t k = 0; k < w.markers.size(); k++) {
    EXPECT_EQ(b.markers[k].name, w.markers[k].name);
    EXPECT_EQ(b.markers[k].pos, w.markers[k].pos);
    for (size_t i = 0; i < w.samples.size(); i++)
      EXPECT_EQ(pair_of(b.calls[k][i]), pair_of(w.calls[k][i]));
  }
#endif
#endif
}

TEST(VcfReader, RefusesFilesThatAreNotVariantData)
{
#ifndef HF_HAVE_HTSLIB
  GTEST_SKIP() << "built without htslib";
#else
  if (!vcf_supported())
    GTEST_SKIP() << "built without htslib";
  scratch_t t;
  selector_t all;
  EXPECT_THAT(error_of([&] { read_vcf(t.write("text.vcf", "hello\n"), all); }),
              HasSubstr("text.vcf"));
  EXPECT_THAT(error_of([&] { read_vcf(t.dir + "/none.vcf", all); }), HasSubstr("none.vcf"));
  // A #CHROM line that ends at FORMAT declares no sample, which htslib
  // takes for a header it cannot read.
  EXPECT_THAT(error_of([&] {
                read_vcf(t.write("nosamples.vcf", "##fileformat=VCFv4.2\n"
                                                  "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\n"
                                                  "6\t1\trs1\tA\tG\t.\t.\t.\tGT\n"),
                         all);
              }),
              HasSubstr("nosamples.vcf: the file has no sample columns"));
  // An empty FORMAT key leaves GT without values, which htslib cannot decode
  // (it would end the program): refused with the file and record.
  std::string emptykey = t.write("emptykey.vcf",
                                 "##fileformat=VCFv4.2\n"
                                 "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\n"
                                 "6\t1\trs1\tA\tG\t.\t.\t.\t:GT\t0/1\n");
  EXPECT_THAT(error_of([&] { read_vcf(emptykey, all); }),
              HasSubstr("emptykey.vcf, record 1: marker rs1 has a GT field without genotypes"));
  // Records htslib would read as something else: a POS that is not a
  // whole number (taken as 0, or as its leading digits), an empty line.
  const std::string head = "##fileformat=VCFv4.2\n##contig=<ID=6>\n"
                           "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\n"
                           "6\t1\trs1\tA\tG\t.\t.\t.\tGT\t0/1\n";
  struct {
    const char *record, *message;
  } bad[] = {
      {"6\tabc\trs2\tA\tG\t.\t.\t.\tGT\t0/1\n", "record 2: POS is \"abc\", not a position"},
      {"6\t5x\trs2\tA\tG\t.\t.\t.\tGT\t0/1\n", "record 2: POS is \"5x\", not a position"},
      {"6\t-5\trs2\tA\tG\t.\t.\t.\tGT\t0/1\n", "record 2: POS is \"-5\", not a position"},
      {"\n6\t2\trs2\tA\tG\t.\t.\t.\tGT\t0/1\n", "record 2: an empty line where a record belongs"},
  };
  for (const auto &c : bad)
    EXPECT_THAT(error_of([&] { read_vcf(t.write("pos.vcf", head + c.record), all); }),
                HasSubstr(std::string("pos.vcf, ") + c.message));
#endif
}

// Markers that share a name are read, and the source names them in a
// warning once its markers are known: on opening for PLINK files, at the
// end of a VCF read in one pass.
TEST(Readers, MarkerNamesBorneTwiceAreNamedInAWarning)
{
  scratch_t t;
  selector_t all;
  std::string map = t.write("dup.map", "1 rs1 0 100\n1 rs2 0 200\n1 rs1 0 300\n");
  std::unique_ptr<marker_source_t> ped =
      open_ped(t.write("dup.ped", "f1 i1 0 0 1 2 A G C C T T\n"), map, all);
  EXPECT_EQ(ped->warnings, (std::vector<std::string>{
                               map + ": 1 marker name is borne by more than one marker, which "
                                     "windows and legends then cannot tell apart: rs1 (markers 1 "
                                     "and 3)"}));
  selector_t two;
  parse_index_range("1-2", two);
  EXPECT_TRUE(open_ped(t.dir + "/dup.ped", map, two)->warnings.empty());
  if (!vcf_supported())
    return;
  std::string vcf = t.write("dup.vcf", "##fileformat=VCFv4.2\n##contig=<ID=6>\n"
                                       "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\n"
                                       "6\t1\t.\tA\tG\t.\t.\t.\tGT\t0/1\n"
                                       "6\t1\t.\tA\tT\t.\t.\t.\tGT\t0/1\n");
  std::unique_ptr<marker_source_t> src = open_vcf(vcf, all, false);
  read_window(*src);
  ASSERT_EQ(src->warnings.size(), 1u);
  EXPECT_THAT(src->warnings[0], HasSubstr("dup.vcf: 1 marker name is borne by more than one "
                                          "marker, which windows and legends then cannot tell "
                                          "apart: 6:1 (markers 1 and 2)"));
}

namespace {

window_t three_samples()
{
  window_t w;
  for (auto [fid, iid] : {std::pair{"a", "1"}, {"a", "2"}, {"b", "3"}}) {
    sample_t s;
    s.fid = fid;
    s.iid = iid;
    s.status = STATUS_CASE;
    w.samples.push_back(s);
  }
  return w;
}

} // namespace

TEST(SampleTables, StatusComesFromTheNamedColumnAndUnlistedSamplesAreUnknown)
{
  scratch_t t;
  window_t w = three_samples();
  apply_status_table(t.write("p", "FID IID age affected\nb 3 40 1\na 1 50 2\nz 9 60 1\n"),
                     "affected", w, true);
  EXPECT_EQ(w.samples[0].status, STATUS_CASE);
  EXPECT_EQ(w.samples[1].status, STATUS_UNKNOWN);  // not in the table
  EXPECT_EQ(w.samples[2].status, STATUS_CONTROL);
}

TEST(SampleTables, FamilyMustMatchWhenTheTableHasIt)
{
  scratch_t t;
  window_t w = three_samples();
  apply_status_table(t.write("p", "FID IID st\nb 1 1\nb 3 2\n"), "st", w, true);
  EXPECT_EQ(w.samples[0].status, STATUS_UNKNOWN);
  // Without PLINK families (VCF), the IID alone finds the sample.
  apply_status_table(t.write("p", "FID IID st\nb 1 1\nb 3 2\n"), "st", w, false);
  EXPECT_EQ(w.samples[0].status, STATUS_CONTROL);
}

TEST(SampleTables, BadTablesAreNamedByFileAndLine)
{
  scratch_t t;
  window_t w = three_samples();
  EXPECT_THAT(error_of([&] { apply_status_table(t.write("p1", "IID x\n1 1\n"), "st", w, true); }),
              HasSubstr("p1, line 1: the header line has no column named st"));
  EXPECT_THAT(error_of([&] { apply_status_table(t.write("p2", "name st\n1 1\n"), "st", w, true); }),
              HasSubstr("names no sample column"));
  EXPECT_THAT(error_of([&] { apply_status_table(t.write("p3", "IID st\n1 1\n2 yes\n"), "st", w, true); }),
              HasSubstr("p3, line 3: status yes is neither"));
  EXPECT_THAT(error_of([&] { apply_status_table(t.write("p4", "IID st\n1 1\n1 2\n"), "st", w, true); }),
              HasSubstr("p4, line 3: sample 1 is listed again (first on line 2)"));
  EXPECT_THAT(error_of([&] { apply_status_table(t.write("p5", "IID age st\n1 1\n"), "st", w, true); }),
              HasSubstr("p5, line 2: expected 3 fields"));
  EXPECT_THAT(error_of([&] { apply_sex_table(t.write("s1", "IID sex\n1 X\n"), "sex", w, true); }),
              HasSubstr("s1, line 2: sex X is neither"));
}

TEST(SampleTables, AnIidInTwoFamiliesNeedsTheFamilyColumn)
{
  scratch_t t;
  window_t w = three_samples();
  w.samples[2].iid = "1";
  EXPECT_THAT(error_of([&] { apply_status_table(t.write("p", "IID st\n1 2\n"), "st", w, true); }),
              HasSubstr("belongs to several families"));
}

TEST(SampleTables, SexCodesInLettersAndNumbers)
{
  scratch_t t;
  window_t w = three_samples();
  apply_sex_table(t.write("s", "#IID Sex\n1 M\n2 female\n3 NA\n"), "sex", w, false);
  EXPECT_EQ(w.samples[0].sex, SEX_MALE);
  EXPECT_EQ(w.samples[1].sex, SEX_FEMALE);
  EXPECT_EQ(w.samples[2].sex, SEX_UNKNOWN);
}
