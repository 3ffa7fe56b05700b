// Choosing the window: region and index syntax, chromosome spellings, name
// lists.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "genotypes.h"
#include "tmpfiles.h"

using ::testing::HasSubstr;

TEST(Window, ChromosomeSpellingsOfPlinkAndVcfMeet)
{
  EXPECT_EQ(canonical_chrom("chrX"), "X");
  EXPECT_EQ(canonical_chrom("23"), "X");
  EXPECT_EQ(canonical_chrom("x"), "X");
  EXPECT_EQ(canonical_chrom("chr6"), "6");
  EXPECT_EQ(canonical_chrom("26"), "MT");
  EXPECT_EQ(canonical_chrom("chrM"), "MT");
  EXPECT_EQ(canonical_chrom("6"), "6");
  EXPECT_NE(canonical_chrom("2"), canonical_chrom("23"));
}

TEST(Window, RegionIsInclusiveAndOnOneChromosome)
{
  selector_t sel;
  parse_region("chr6:1,000-2,000", sel);
  marker_t m;
  m.chrom = "6";
  for (long pos : {1000L, 1500L, 2000L}) {
    m.pos = pos;
    EXPECT_TRUE(wanted(sel, m)) << pos;
  }
  for (long pos : {999L, 2001L}) {
    m.pos = pos;
    EXPECT_FALSE(wanted(sel, m)) << pos;
  }
  m.pos = 1500;
  m.chrom = "16";
  EXPECT_FALSE(wanted(sel, m));
}

TEST(Window, ChromosomeAloneIsTheWholeChromosome)
{
  selector_t sel;
  parse_region("chrX", sel);
  marker_t m;
  for (const char *chrom : {"X", "23", "chrX"})
    for (long pos : {0L, 1L, 2000000000L}) {
      m.chrom = chrom;
      m.pos = pos;
      EXPECT_TRUE(wanted(sel, m)) << chrom << " " << pos;
    }
  m.chrom = "2";
  EXPECT_FALSE(wanted(sel, m));
}

TEST(Window, MalformedRegionsAndRangesAreRefused)
{
  for (const char *text : {"", "6 7", "6:", "6:100", "6:100-", "6:-100", "6:1x-2", ":1-2", "6:200-100"}) {
    selector_t sel;
    EXPECT_THAT(error_of([&] { parse_region(text, sel); }), HasSubstr("--region")) << text;
    EXPECT_FALSE(sel.by_region) << text;
  }
  for (const char *text : {"3", "0-2", "5-4", "a-b", "1-", "-3", "1-99999999999"}) {
    selector_t sel;
    EXPECT_THAT(error_of([&] { parse_index_range(text, sel); }), HasSubstr("--index")) << text;
  }
}

TEST(Window, IndexRangeCountsFromOne)
{
  selector_t sel;
  parse_index_range("2-3", sel);
  marker_t m;
  std::vector<bool> got;
  for (int i = 1; i <= 4; i++) {
    m.index = i;
    got.push_back(wanted(sel, m));
  }
  EXPECT_EQ(got, (std::vector<bool>{false, true, true, false}));
}

TEST(Window, NameListReadsWordsSkipsCommentsAndRefusesRepeats)
{
  scratch_t t;
  selector_t sel;
  read_name_list(t.write("names", "rs1 rs2 # the promoter\n\n\trs3\r\n"), sel);
  EXPECT_EQ(sel.names, (std::vector<std::string>{"rs1", "rs2", "rs3"}));

  selector_t twice;
  EXPECT_THAT(error_of([&] { read_name_list(t.write("twice", "rs1\nrs2 rs1\n"), twice); }),
              HasSubstr("line 2: marker rs1 is listed twice"));
  selector_t empty;
  EXPECT_THAT(error_of([&] { read_name_list(t.write("empty", "# nothing\n"), empty); }),
              HasSubstr("names no marker"));
}

TEST(Window, EveryListedNameMustBeFound)
{
  selector_t sel;
  sel.by_names = true;
  sel.names = {"rs1", "rs9", "rs2"};
  std::vector<marker_t> kept(2);
  kept[0].name = "rs1";
  kept[1].name = "rs2";
  EXPECT_EQ(error_of([&] { check_names_found(sel, kept, "in.map"); }),
            "in.map: 1 listed marker not found: rs9");
  // Let through, the missing name is a warning; a name borne twice is
  // still an error.
  sel.allow_missing = true;
  std::string warning;
  EXPECT_EQ(error_of([&] { warning = check_names_found(sel, kept, "in.map"); }), "");
  EXPECT_THAT(warning, HasSubstr("in.map: 1 listed marker not found: rs9"));
  kept.push_back(kept[0]);
  EXPECT_THAT(error_of([&] { check_names_found(sel, kept, "in.map"); }),
              HasSubstr("marker rs1 appears more than once"));
}
