#include "xdate.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace {

struct DateRow {
  const char* name;
  std::uint16_t year, month, day, hour, minute, second;
  double value;
  std::int32_t dayOfWeek;  // 1 = Sunday
  std::int32_t dayOfYear;
};

const DateRow kDates[] = {
    {"epoch", 1899, 12, 30, 0, 0, 0, 0.0, 7, 364},
    {"day before epoch", 1899, 12, 29, 0, 0, 0, -1.0, 6, 363},
    {"1900 is no leap year", 1900, 3, 1, 0, 0, 0, 61.0, 5, 60},
    {"first of 1999", 1999, 1, 1, 0, 0, 0, 36161.0, 6, 1},
    {"leap day 2000", 2000, 2, 29, 0, 0, 0, 36585.0, 3, 60},
    {"last day of a leap year", 2000, 12, 31, 0, 0, 0, 36891.0, 1, 366},
    {"evening", 2005, 1, 1, 18, 0, 0, 38353.75, 7, 1},
    {"negative with time", 1899, 12, 29, 6, 0, 0, -1.25, 6, 363},
    {"19th century", 1800, 1, 1, 0, 0, 0, -36522.0, 4, 1},
    {"leap day 1600", 1600, 2, 29, 0, 0, 0, -109512.0, 3, 60},
    {"after leap day 1600", 1600, 3, 1, 0, 0, 0, -109511.0, 4, 61},
    {"year 1000", 1000, 1, 1, 0, 0, 0, -328716.0, 4, 1},
    {"2100 is no leap year", 2100, 3, 1, 0, 0, 0, 73110.0, 2, 60},
    {"leap day 2400", 2400, 2, 29, 0, 0, 0, 182682.0, 3, 60},
    {"first day", 100, 1, 1, 0, 0, 0, -657434.0, 6, 1},
    {"last day", 9999, 12, 31, 0, 0, 0, 2958465.0, 6, 365},
    {"noon of the last day", 9999, 12, 31, 12, 0, 0, 2958465.5, 6, 365},
    {"noon of the first day", 100, 1, 1, 12, 0, 0, -657434.5, 6, 1},
    {"one second to midnight", 2026, 12, 6, 23, 59, 59, 46362.0 + 86399.0 / 86400.0, 1, 340},
};

TEST(XDateTest, ConvertsBothWays) {
  for (const DateRow& row : kDates) {
    SCOPED_TRACE(row.name);
    double value = 12345.0;
    ASSERT_EQ(1, CXDate::FromDateParts(row.year, row.month, row.day, row.hour, row.minute,
                                       row.second, value));
    EXPECT_NEAR(row.value, value, 1e-9);

    CXDate::DateParts parts;
    ASSERT_EQ(1, CXDate::ToDateParts(row.value, parts));
    EXPECT_EQ(row.year, parts.year);
    EXPECT_EQ(row.month, parts.month);
    EXPECT_EQ(row.day, parts.day);
    EXPECT_EQ(row.hour, parts.hour);
    EXPECT_EQ(row.minute, parts.minute);
    EXPECT_EQ(row.second, parts.second);
    EXPECT_EQ(row.dayOfWeek, parts.dayOfWeek);
    EXPECT_EQ(row.dayOfYear, parts.dayOfYear);
  }
}

TEST(XDateTest, RefusesImpossibleParts) {
  struct Row {
    const char* name;
    std::uint16_t year, month, day, hour, minute, second;
  } rows[] = {
      {"29 February 1900", 1900, 2, 29, 0, 0, 0},
      {"29 February 1999", 1999, 2, 29, 0, 0, 0},
      {"31 April", 2001, 4, 31, 0, 0, 0},
      {"day 0", 2001, 1, 0, 0, 0, 0},
      {"day 32", 2001, 1, 32, 0, 0, 0},
      {"month 0", 2001, 0, 1, 0, 0, 0},
      {"month 13", 2001, 13, 1, 0, 0, 0},
      {"hour 24", 2001, 1, 1, 24, 0, 0},
      {"minute 60", 2001, 1, 1, 0, 60, 0},
      {"second 60", 2001, 1, 1, 0, 0, 60},
      {"year 10000", 10000, 1, 1, 0, 0, 0},
      {"year 99", 99, 12, 31, 0, 0, 0},
      {"year 0", 0, 1, 1, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    double value = 42.0;
    EXPECT_EQ(0, CXDate::FromDateParts(row.year, row.month, row.day, row.hour, row.minute,
                                       row.second, value));
    EXPECT_EQ(42.0, value);
  }
}

TEST(XDateTest, RoundsToTheNearestSecond) {
  struct Row {
    const char* name;
    double value;
    std::int32_t day, hour, minute, second;
  } rows[] = {
      {"noon before the epoch", -0.5, 30, 12, 0, 0},
      {"0.4 s after noon", 1.5 + 0.4 / 86400, 31, 12, 0, 0},
      {"0.6 s after noon", 1.5 + 0.6 / 86400, 31, 12, 0, 1},
      {"0.6 s to midnight carries into the next day", 2.0 - 0.4 / 86400, 1, 0, 0, 0},
      {"negative, 0.6 s after 06:00", -1.25 - 0.6 / 86400, 29, 6, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CXDate::DateParts parts;
    ASSERT_EQ(1, CXDate::ToDateParts(row.value, parts));
    EXPECT_EQ(row.day, parts.day);
    EXPECT_EQ(row.hour, parts.hour);
    EXPECT_EQ(row.minute, parts.minute);
    EXPECT_EQ(row.second, parts.second);
  }
}

TEST(XDateTest, RefusesValuesOutsideTheRange) {
  const double values[] = {2958466.0, 2958465.0 + 86399.7 / 86400, -657435.0, -1e12, 1e12,
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()};
  for (double value : values) {
    SCOPED_TRACE(value);
    CXDate::DateParts parts = {};
    parts.year = 77;
    std::int32_t year = 77;
    EXPECT_EQ(0, CXDate::ToDateParts(value, parts));
    EXPECT_EQ(77, parts.year);
    EXPECT_EQ(0, CXDate::GetYear(value, year));
    EXPECT_EQ(77, year);
  }
}

TEST(XDateTest, PartGetters) {
  std::int32_t year = 0, month = 0, day = 0;
  EXPECT_EQ(1, CXDate::GetYear(36585.9, year));
  EXPECT_EQ(1, CXDate::GetMonth(36585.9, month));
  EXPECT_EQ(1, CXDate::GetDay(36585.9, day));
  EXPECT_EQ(2000, year);
  EXPECT_EQ(2, month);
  EXPECT_EQ(29, day);
}

// Every day of the range converts to parts and back to itself, and the
// calendar advances by exactly one day (and one weekday) each time.
TEST(XDateTest, EveryDayOfTheRangeRoundTrips) {
  CXDate::DateParts previous;
  ASSERT_EQ(1, CXDate::ToDateParts(CXDate::kMinDate, previous));
  for (std::int32_t day = static_cast<std::int32_t>(CXDate::kMinDate) + 1;
       day <= static_cast<std::int32_t>(CXDate::kMaxDate); ++day) {
    CXDate::DateParts parts;
    ASSERT_EQ(1, CXDate::ToDateParts(day, parts)) << day;
    double back = 0;
    ASSERT_EQ(1, CXDate::FromDateParts(static_cast<std::uint16_t>(parts.year),
                                       static_cast<std::uint16_t>(parts.month),
                                       static_cast<std::uint16_t>(parts.day), 0, 0, 0, back))
        << day;
    ASSERT_EQ(static_cast<double>(day), back);
    ASSERT_EQ(previous.dayOfWeek % 7 + 1, parts.dayOfWeek) << day;
    if (parts.year == previous.year) {
      ASSERT_EQ(previous.dayOfYear + 1, parts.dayOfYear) << day;
    } else {
      ASSERT_EQ(previous.year + 1, parts.year) << day;
      ASSERT_EQ(1, parts.dayOfYear) << day;
      ASSERT_EQ(CXDate::IsLeapYear(previous.year) ? 366 : 365, previous.dayOfYear) << day;
    }
    previous = parts;
  }
  EXPECT_EQ(9999, previous.year);
}

}  // namespace
