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

const Bytes kAudio = Audio(3000);

Bytes Latin1(const std::string& text) { return Concat({{0}, Text(text)}); }
// As the library writes text frames: encoding 0, text, terminator.
Bytes Written(const std::string& text) { return Concat({{0}, Text(text), {0}}); }

Bytes File23(const Bytes& frames, const Bytes& v1 = Bytes()) {
  return Concat({Id3v2Tag(3, 0, Concat({frames, Bytes(64, 0)})), kAudio, v1});
}

Bytes File22(const Bytes& frames, const Bytes& v1 = Bytes()) {
  return Concat({Id3v2Tag(2, 0, Concat({frames, Bytes(64, 0)})), kAudio, v1});
}

double Day(int year, int month, int day) {
  double value = 0;
  EXPECT_EQ(1, CXDate::FromDateParts(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                                     static_cast<std::uint16_t>(day), 0, 0, 0, value));
  return value;
}

class TagkitDateTest : public ::testing::Test {
 protected:
  std::string Write(const Bytes& bytes) {
    std::string path = dir_.File("song.mp3");
    WriteFile(path, bytes);
    return path;
  }
  std::wstring WPath() const { return dir_.WFile("song.mp3"); }
  Bytes Read() const { return ReadFile(dir_.File("song.mp3")); }

  TempDir dir_;
};

TEST_F(TagkitDateTest, ReadsYearAndDateFrames) {
  const Bytes v1_1999 = Id3v1("t", "a", "b", "1999", "", 1, 0);
  const Bytes utf16_2004 = {1, 0xFF, 0xFE, '2', 0, '0', 0, '0', 0, '4', 0};
  struct Row {
    const char* name;
    Bytes file;
    double expected;  // TAGKIT_NO_DATE: absent
  } rows[] = {
      {"year only", File23(Frame23("TYER", Latin1("1999"))), 36161.0},
      {"DDMM", File23(Concat({Frame23("TYER", Latin1("1999")), Frame23("TDAT", Latin1("0512"))})),
       Day(1999, 12, 5)},
      {"MMDD", File23(Concat({Frame23("TDAT", Latin1("1225")), Frame23("TYER", Latin1("1999"))})),
       Day(1999, 12, 25)},
      {"UTF-16 year", File23(Frame23("TYER", utf16_2004)), Day(2004, 1, 1)},
      {"leading blank and sign", File23(Frame23("TYER", Latin1(" +2004xyz"))), Day(2004, 1, 1)},
      {"ID3v2.2", File22(Concat({Frame22("TYE", Latin1("2010")), Frame22("TDA", Latin1("0304"))})),
       Day(2010, 4, 3)},
      {"year 0999", File23(Frame23("TYER", Latin1("0999"))), TAGKIT_NO_DATE},
      {"date without year", File23(Frame23("TDAT", Latin1("0512")), v1_1999), TAGKIT_NO_DATE},
      {"31 February", File23(Concat({Frame23("TYER", Latin1("2001")), Frame23("TDAT", Latin1("3102"))})),
       TAGKIT_NO_DATE},
      {"29 February 1900", File23(Concat({Frame23("TYER", Latin1("1900")), Frame23("TDAT", Latin1("2902"))})),
       TAGKIT_NO_DATE},
      {"29 February 2000", File23(Concat({Frame23("TYER", Latin1("2000")), Frame23("TDAT", Latin1("2902"))})),
       Day(2000, 2, 29)},
      {"day 0", File23(Concat({Frame23("TYER", Latin1("2001")), Frame23("TDAT", Latin1("0001"))})),
       TAGKIT_NO_DATE},
      {"huge year", File23(Frame23("TYER", Latin1("99999999999999999999"))), TAGKIT_NO_DATE},
      {"negative date", File23(Concat({Frame23("TYER", Latin1("2001")), Frame23("TDAT", Latin1("-101"))})),
       TAGKIT_NO_DATE},
      {"empty year frame", File23(Frame23("TYER", {})), TAGKIT_NO_DATE},
      {"ID3v1 year", File23(Frame23("TIT2", Latin1("x")), v1_1999), 36161.0},
      {"UTF-8 year falls back to ID3v1", File23(Frame23("TYER", Concat({{3}, Text("2004")})), v1_1999),
       36161.0},
      {"ID3v1 year 0", File23(Frame23("TIT2", Latin1("x")), Id3v1("t", "a", "b", "0000", "", 1, 0)),
       TAGKIT_NO_DATE},
      {"nothing", File23(Frame23("TIT2", Latin1("x"))), TAGKIT_NO_DATE},
      {"time frame alone", File23(Frame23("TIME", Latin1("1200"))), TAGKIT_NO_DATE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    double date = -1;
    if (row.expected == TAGKIT_NO_DATE) {
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetDate(PROPID_RELEASE_DATE, date));
    } else {
      ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
      EXPECT_EQ(row.expected, date);
    }
    EXPECT_EQ(S_OK, tag.Close());
  }
}

TEST_F(TagkitDateTest, WritesYearAndDateFramesAndTheId3v1Year) {
  struct Row {
    const char* name;
    bool v22;
    const char* year_id;
    const char* date_id;
  } rows[] = {{"ID3v2.3", false, "TYER", "TDAT"}, {"ID3v2.2", true, "TYE", "TDA"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes original = row.v22 ? File22(Concat({Frame22("TYE", Latin1("1980")), Frame22("TIM", Latin1("0930"))}))
                                   : File23(Concat({Frame23("TYER", Latin1("1980")), Frame23("TIME", Latin1("0930"))}));
    Write(original);
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      double value = 38353.75;  // 1 January 2005, 18:00
      ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, value));
      EXPECT_EQ(38353.75, value);
      double date = 0;
      ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
      EXPECT_EQ(38353.0, date);
      ASSERT_EQ(S_OK, tag.Close());
    }
    const Bytes file = Read();
    EXPECT_EQ(std::vector<Bytes>{Written("2005")}, FramesWithId(file, row.year_id));
    EXPECT_EQ(std::vector<Bytes>{Written("0101")}, FramesWithId(file, row.date_id));
    // The time of day is never written nor removed.
    EXPECT_EQ(std::vector<Bytes>{Latin1("0930")}, FramesWithId(file, row.v22 ? "TIM" : "TIME"));
    const Bytes v1 = Id3v1Part(file);
    ASSERT_EQ(128u, v1.size());
    EXPECT_EQ(Text("2005"), Bytes(v1.begin() + 93, v1.begin() + 97));
    EXPECT_EQ(kAudio, AudioPart(file));

    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    double date = 0;
    ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
    EXPECT_EQ(38353.0, date);
  }
}

TEST_F(TagkitDateTest, PuttingTwiceLeavesOneFrameEach) {
  Write(File23(Concat({Frame23("TYER", Latin1("1980")), Frame23("TYER", Latin1("1981")),
                       Frame23("TDAT", Latin1("0101"))})));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    double first = Day(1990, 6, 7);
    double second = Day(1991, 8, 9);
    ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, first));
    ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, second));
    ASSERT_EQ(S_OK, tag.Close());
  }
  const Bytes file = Read();
  EXPECT_EQ(std::vector<Bytes>{Written("1991")}, FramesWithId(file, "TYER"));
  EXPECT_EQ(std::vector<Bytes>{Written("0908")}, FramesWithId(file, "TDAT"));
}

TEST_F(TagkitDateTest, DeletingRemovesBothFramesAndClearsTheId3v1Year) {
  Write(File23(Concat({Frame23("TYER", Latin1("1999")), Frame23("TDAT", Latin1("0512"))}),
               Id3v1("t", "a", "b", "1999", "", 1, 0)));
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

  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
  double date = 0;
  EXPECT_EQ(E_TAG_NO_VALUE, tag.GetDate(PROPID_RELEASE_DATE, date));
}

TEST_F(TagkitDateTest, DeletingWithoutFramesSucceeds) {
  Write(File23(Frame23("TIT2", Latin1("x"))));
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  double none = TAGKIT_NO_DATE;
  EXPECT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, none));
  EXPECT_EQ(S_OK, tag.Close());
}

// A refused value changes nothing: the file is not even rewritten.
TEST_F(TagkitDateTest, RefusedValuesLeaveTheFileAlone) {
  const Bytes original = File23(Frame23("TYER", Latin1("1999")));
  Write(original);
  const double values[] = {Day(999, 12, 31), 2958466.0, -700000.0, std::nan("")};
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  for (double value : values) {
    SCOPED_TRACE(value);
    double copy = value;
    EXPECT_EQ(E_FAIL, tag.PutDate(PROPID_RELEASE_DATE, copy));
    double date = 0;
    ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
    EXPECT_EQ(36161.0, date);
  }
  double value = 36161.0;
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.PutDate(PROPID_TITLE, value));
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.GetDate(PROPID_TITLE, value));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(original, Read());
}

TEST_F(TagkitDateTest, ClosedAndReadOnlyObjects) {
  Write(File23(Frame23("TYER", Latin1("1999"))));
  CTagkit tag;
  double value = 36161.0;
  EXPECT_EQ(E_UNEXPECTED, tag.PutDate(PROPID_RELEASE_DATE, value));
  // GetDate answers from the cache, open or not.
  EXPECT_EQ(E_TAG_NO_VALUE, tag.GetDate(PROPID_RELEASE_DATE, value));
  ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
  EXPECT_EQ(E_FAIL, tag.PutDate(PROPID_RELEASE_DATE, value));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(E_TAG_NO_VALUE, tag.GetDate(PROPID_RELEASE_DATE, value));
}

}  // namespace
