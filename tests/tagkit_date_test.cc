// The release date: year and date frames (or the ID3v1 year) read as an OLE
// date, and written back as the calendar day within the years 1000 to 9999.
#include <cmath>
#include <cstring>

#include "tag_inspect.h"
#include "tagkit.h"

namespace {

using namespace tagkit_test;

Bytes Latin1(const std::string& text) { return Concat({{0}, Text(text)}); }
Bytes YearDate23(const std::string& year, const std::string& date) {
  return Concat({Frame23("TYER", Latin1(year)), Frame23("TDAT", Latin1(date))});
}

double Day(int year, int month, int day) {
  double value = 0;
  EXPECT_EQ(1, CXDate::FromDateParts(year, month, day, 0, 0, 0, value));
  return value;
}

void ExpectDate(CTagkit& tag, double expected) {
  double date = 0;
  EXPECT_EQ(expected == TAGKIT_NO_DATE ? E_TAG_NO_VALUE : S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
  if (expected != TAGKIT_NO_DATE) { EXPECT_EQ(expected, date); }
}

typedef SongFileTest TagkitDateTest;

TEST_F(TagkitDateTest, ReadsYearAndDateFrames) {
  const Bytes v1 = Id3v1("t", "a", "b", "1999", "", 1, 0);
  const Bytes x = Frame23("TIT2", Latin1("x"));
  const double none = TAGKIT_NO_DATE;
  const struct { const char* name; Bytes file; double expected; } rows[] = {
      {"year only", TaggedFile(3, Frame23("TYER", Latin1("1999"))), 36161.0},
      {"DDMM", TaggedFile(3, YearDate23("1999", "0512")), Day(1999, 12, 5)},
      {"MMDD", TaggedFile(3, YearDate23("1999", "1225")), Day(1999, 12, 25)},
      {"UTF-16 year", TaggedFile(3, Frame23("TYER", Enc1("2004"))), Day(2004, 1, 1)},
      {"blank and sign", TaggedFile(3, Frame23("TYER", Latin1(" +2004xyz"))), Day(2004, 1, 1)},
      {"ID3v2.2", TaggedFile(2, Concat({Frame22("TYE", Latin1("2010")), Frame22("TDA", Latin1("0304"))})),
       Day(2010, 4, 3)},
      {"29 February 2000", TaggedFile(3, YearDate23("2000", "2902")), Day(2000, 2, 29)},
      {"year 0999", TaggedFile(3, Frame23("TYER", Latin1("0999"))), none},
      {"date without year", TaggedFile(3, Frame23("TDAT", Latin1("0512")), v1), none},
      {"31 February", TaggedFile(3, YearDate23("2001", "3102")), none},
      {"29 February 1900", TaggedFile(3, YearDate23("1900", "2902")), none},
      {"day 0", TaggedFile(3, YearDate23("2001", "0001")), none},
      {"negative date", TaggedFile(3, YearDate23("2001", "-101")), none},
      {"huge year", TaggedFile(3, Frame23("TYER", Latin1("99999999999999999999"))), none},
      {"empty year frame", TaggedFile(3, Frame23("TYER", {})), none},
      {"ID3v1 year", TaggedFile(3, x, v1), 36161.0},
      {"UTF-8 year: ID3v1 stands in", TaggedFile(3, Frame23("TYER", Concat({{3}, Text("2004")})), v1), 36161.0},
      {"ID3v1 year 0", TaggedFile(3, x, Id3v1("t", "a", "b", "0000", "", 1, 0)), none},
      {"time frame only", TaggedFile(3, Frame23("TIME", Latin1("1200"))), none},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    ExpectDate(tag, row.expected);
  }
}

// PutDate, after a first put, stores the day that the value rounds to (to
// the second): one year and one date frame, whatever was there, and the
// ID3v1 year; no date deletes them all. The time-of-day frame is neither
// written nor removed. A refused value changes nothing, not even through a
// rewrite.
TEST_F(TagkitDateTest, PutDateStoresTheDayOrChangesNothing) {
  const double kSecond = 1.0 / 86400, k1980 = Day(1980, 1, 1);
  const struct {
    const char* name; double value; HRESULT hr;
    double stored = 0; const char* year = nullptr; const char* ddmm = nullptr;
  } rows[] = {
      {"time of day dropped", 38353.75, S_OK, 38353.0, "2005", "0101"},
      {"rounded into the next day", 38354.0 - 0.2 * kSecond, S_OK, 38354.0, "2005", "0201"},
      {"first day of 1000", Day(1000, 1, 1) - 0.5, S_OK, Day(1000, 1, 1), "1000", "0101"},
      {"31 December 9999", CXDate::kMaxDate + 0.5, S_OK, CXDate::kMaxDate, "9999", "3112"},
      {"no date", TAGKIT_NO_DATE, S_OK, TAGKIT_NO_DATE},
      {"year 999", Day(999, 12, 31), E_FAIL},
      {"rounded past 9999", CXDate::kMaxDate + 1 - 0.2 * kSecond, E_FAIL},
      {"after 9999", 2958466.0, E_FAIL},
      {"before the year 100", -700000.0, E_FAIL},
      {"not a number", std::nan(""), E_FAIL},
  };
  const Bytes v1 = Id3v1("t", "a", "b", "1980", "", 1, 0);
  for (int major : {2, 3}) {
    const bool v22 = major == 2;
    const Bytes original =
        v22 ? TaggedFile(2, Concat({Frame22("TYE", Latin1("1980")), Frame22("TYE", Latin1("1981")),
                                    Frame22("TIM", Latin1("0930"))}), v1)
            : TaggedFile(3, Concat({Frame23("TYER", Latin1("1980")), Frame23("TIME", Latin1("0930"))}), v1);
    for (const auto& row : rows) {
      SCOPED_TRACE(testing::Message() << major << " " << row.name);
      const bool done = row.hr == S_OK;
      Write(original);
      {
        CTagkit tag;
        ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
        double first = Day(1990, 6, 7);
        if (done) { ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, first)); }
        double value = row.value;
        EXPECT_EQ(row.hr, tag.PutDate(PROPID_RELEASE_DATE, value));
        EXPECT_EQ(0, std::memcmp(&row.value, &value, sizeof value));  // the argument is not changed
        ExpectDate(tag, done ? row.stored : k1980);
        ASSERT_EQ(S_OK, tag.Close());
      }
      const Bytes file = Read();
      if (!done) {
        EXPECT_EQ(original, file);
        continue;
      }
      auto frames = [](const char* text) { return text ? std::vector<Bytes>{Enc0(text)} : std::vector<Bytes>(); };
      EXPECT_EQ(frames(row.year), FramesWithId(file, v22 ? "TYE" : "TYER"));
      EXPECT_EQ(frames(row.ddmm), FramesWithId(file, v22 ? "TDA" : "TDAT"));
      EXPECT_EQ(std::vector<Bytes>{Latin1("0930")}, FramesWithId(file, v22 ? "TIM" : "TIME"));
      EXPECT_EQ(row.year ? row.year : "", V1Text(file, 93, 4));
      EXPECT_EQ(TagAudio(), AudioPart(file));
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
      ExpectDate(tag, row.stored);
    }
  }
}

}  // namespace
