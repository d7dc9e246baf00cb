#include "tagkit.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tag_frames.h"
#include "test_support.h"

namespace {

using namespace tagkit_test;

Bytes Latin1(const std::string& text) { return Concat({{0}, Text(text)}); }
// As the library writes text frames: encoding 0, text, terminator.
std::vector<Bytes> Written(const std::string& text) { return {Concat({{0}, Text(text), {0}})}; }
Bytes YearDate23(const std::string& year, const std::string& date) {
  return Concat({Frame23("TYER", Latin1(year)), Frame23("TDAT", Latin1(date))});
}

double Day(int year, int month, int day) {
  double value = 0;
  EXPECT_EQ(1, CXDate::FromDateParts(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                                     static_cast<std::uint16_t>(day), 0, 0, 0, value));
  return value;
}

typedef SongFileTest TagkitDateTest;

TEST_F(TagkitDateTest, ReadsYearAndDateFrames) {
  const Bytes v1 = Id3v1("t", "a", "b", "1999", "", 1, 0);
  const Bytes x = Frame23("TIT2", Latin1("x"));
  struct Row {
    const char* name;
    Bytes file;
    double expected;  // TAGKIT_NO_DATE: absent
  } rows[] = {
      {"year only", TaggedFile(3, Frame23("TYER", Latin1("1999"))), 36161.0},
      {"DDMM", TaggedFile(3, YearDate23("1999", "0512")), Day(1999, 12, 5)},
      {"MMDD", TaggedFile(3, YearDate23("1999", "1225")), Day(1999, 12, 25)},
      {"UTF-16 year", TaggedFile(3, Frame23("TYER", {1, 0xFF, 0xFE, '2', 0, '0', 0, '0', 0, '4', 0})), Day(2004, 1, 1)},
      {"blank and sign", TaggedFile(3, Frame23("TYER", Latin1(" +2004xyz"))), Day(2004, 1, 1)},
      {"ID3v2.2", TaggedFile(2, Concat({Frame22("TYE", Latin1("2010")), Frame22("TDA", Latin1("0304"))})), Day(2010, 4, 3)},
      {"29 February 2000", TaggedFile(3, YearDate23("2000", "2902")), Day(2000, 2, 29)},
      {"year 0999", TaggedFile(3, Frame23("TYER", Latin1("0999"))), TAGKIT_NO_DATE},
      {"date without year", TaggedFile(3, Frame23("TDAT", Latin1("0512")), v1), TAGKIT_NO_DATE},
      {"31 February", TaggedFile(3, YearDate23("2001", "3102")), TAGKIT_NO_DATE},
      {"29 February 1900", TaggedFile(3, YearDate23("1900", "2902")), TAGKIT_NO_DATE},
      {"day 0", TaggedFile(3, YearDate23("2001", "0001")), TAGKIT_NO_DATE},
      {"negative date", TaggedFile(3, YearDate23("2001", "-101")), TAGKIT_NO_DATE},
      {"huge year", TaggedFile(3, Frame23("TYER", Latin1("99999999999999999999"))), TAGKIT_NO_DATE},
      {"empty year frame", TaggedFile(3, Frame23("TYER", {})), TAGKIT_NO_DATE},
      {"ID3v1 year", TaggedFile(3, x, v1), 36161.0},
      {"UTF-8 year: ID3v1 stands in", TaggedFile(3, Frame23("TYER", Concat({{3}, Text("2004")})), v1), 36161.0},
      {"ID3v1 year 0", TaggedFile(3, x, Id3v1("t", "a", "b", "0000", "", 1, 0)), TAGKIT_NO_DATE},
      {"time frame only", TaggedFile(3, Frame23("TIME", Latin1("1200"))), TAGKIT_NO_DATE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    double date = -1;
    EXPECT_EQ(row.expected == TAGKIT_NO_DATE ? E_TAG_NO_VALUE : S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
    if (row.expected != TAGKIT_NO_DATE) {
      EXPECT_EQ(row.expected, date);
    }
  }
}

TEST_F(TagkitDateTest, WritesYearAndDateFramesAndTheId3v1Year) {
  for (int major : {2, 3}) {
    SCOPED_TRACE(major);
    const bool v22 = major == 2;
    Write(v22 ? TaggedFile(2, Concat({Frame22("TYE", Latin1("1980")), Frame22("TYE", Latin1("1981")),
                                      Frame22("TIM", Latin1("0930"))}))
              : TaggedFile(3, Concat({Frame23("TYER", Latin1("1980")), Frame23("TIME", Latin1("0930"))})));
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      double first = Day(1990, 6, 7);
      ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, first));
      double value = 38353.75;  // 1 January 2005, 18:00
      ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, value));
      EXPECT_EQ(38353.75, value);
      double date = 0;
      ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
      EXPECT_EQ(38353.0, date);
      ASSERT_EQ(S_OK, tag.Close());
    }
    // One frame each, whatever was there or put before; the time of day is
    // neither written nor removed.
    const Bytes file = Read();
    EXPECT_EQ(Written("2005"), FramesWithId(file, v22 ? "TYE" : "TYER"));
    EXPECT_EQ(Written("0101"), FramesWithId(file, v22 ? "TDA" : "TDAT"));
    EXPECT_EQ(std::vector<Bytes>{Latin1("0930")}, FramesWithId(file, v22 ? "TIM" : "TIME"));
    const Bytes v1 = Id3v1Part(file);
    ASSERT_EQ(128u, v1.size());
    EXPECT_EQ(Text("2005"), Bytes(v1.begin() + 93, v1.begin() + 97));
    EXPECT_EQ(TagAudio(), AudioPart(file));

    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    double date = 0;
    ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
    EXPECT_EQ(38353.0, date);
  }
}

TEST_F(TagkitDateTest, DeletingRemovesBothFramesAndClearsTheId3v1Year) {
  const Bytes files[] = {TaggedFile(3, YearDate23("1999", "0512"), Id3v1("t", "a", "b", "1999", "", 1, 0)),
                         TaggedFile(3, Frame23("TIT2", Latin1("no date")))};
  for (const Bytes& original : files) {
    Write(original);
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      double none = TAGKIT_NO_DATE;
      ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, none));
      double date = 0;
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetDate(PROPID_RELEASE_DATE, date));
      ASSERT_EQ(S_OK, tag.Close());
    }
    const Bytes file = Read();
    EXPECT_TRUE(FramesWithId(file, "TYER").empty());
    EXPECT_TRUE(FramesWithId(file, "TDAT").empty());
    const Bytes v1 = Id3v1Part(file);
    ASSERT_EQ(128u, v1.size());
    EXPECT_EQ(Text("    "), Bytes(v1.begin() + 93, v1.begin() + 97));
  }
}

// A refused value changes nothing: the file is not even rewritten.
TEST_F(TagkitDateTest, RefusedCallsLeaveTheFileAlone) {
  const Bytes original = TaggedFile(3, Frame23("TYER", Latin1("1999")));
  Write(original);
  CTagkit tag;
  double value = 36161.0;
  EXPECT_EQ(E_UNEXPECTED, tag.PutDate(PROPID_RELEASE_DATE, value));
  EXPECT_EQ(E_TAG_NO_VALUE, tag.GetDate(PROPID_RELEASE_DATE, value));  // closed: no date cached
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  for (double bad : {Day(999, 12, 31), 2958466.0, -700000.0, std::nan("")}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(E_FAIL, tag.PutDate(PROPID_RELEASE_DATE, bad));
  }
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.PutDate(PROPID_TITLE, value));
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.GetDate(PROPID_TITLE, value));
  double date = 0;
  ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
  EXPECT_EQ(36161.0, date);
  EXPECT_EQ(S_OK, tag.Close());
  // Read only: the transaction cannot begin.
  ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
  EXPECT_EQ(E_FAIL, tag.PutDate(PROPID_RELEASE_DATE, value));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(original, Read());
}

}  // namespace
