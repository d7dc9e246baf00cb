#include "xdate.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(XDateTest, ConvertsBothWays) {
  struct Row {
    const char* name;
    std::uint16_t year, month, day, hour, minute, second;
    double value;
    std::int32_t dayOfWeek, dayOfYear;  // 1 = Sunday
  } rows[] = {
      {"epoch", 1899, 12, 30, 0, 0, 0, 0.0, 7, 364},
      {"1900 is no leap year", 1900, 3, 1, 0, 0, 0, 61.0, 5, 60},
      {"first of 1999", 1999, 1, 1, 0, 0, 0, 36161.0, 6, 1},
      {"leap day 2000", 2000, 2, 29, 0, 0, 0, 36585.0, 3, 60},
      {"end of a leap year", 2000, 12, 31, 0, 0, 0, 36891.0, 1, 366},
      {"evening", 2005, 1, 1, 18, 0, 0, 38353.75, 7, 1},
      {"negative with time", 1899, 12, 29, 6, 0, 0, -1.25, 6, 363},
      {"leap day 1600", 1600, 2, 29, 0, 0, 0, -109512.0, 3, 60},
      {"2100 is no leap year", 2100, 3, 1, 0, 0, 0, 73110.0, 2, 60},
      {"first day", 100, 1, 1, 0, 0, 0, -657434.0, 6, 1},
      {"last day", 9999, 12, 31, 0, 0, 0, 2958465.0, 6, 365},
      {"noon of the last day", 9999, 12, 31, 12, 0, 0, 2958465.5, 6, 365},
      {"noon of the first day", 100, 1, 1, 12, 0, 0, -657434.5, 6, 1},
      {"last second of a day", 2026, 12, 6, 23, 59, 59, 46362.0 + 86399.0 / 86400.0, 1, 340},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    double value = 0;
    ASSERT_EQ(1, CXDate::FromDateParts(row.year, row.month, row.day, row.hour, row.minute, row.second, value));
    EXPECT_NEAR(row.value, value, 1e-9);
    CXDate::DateParts p;
    ASSERT_EQ(1, CXDate::ToDateParts(row.value, p));
    EXPECT_EQ((std::vector<std::int32_t>{row.year, row.month, row.day, row.hour, row.minute, row.second,
                                         row.dayOfWeek, row.dayOfYear}),
              (std::vector<std::int32_t>{p.year, p.month, p.day, p.hour, p.minute, p.second, p.dayOfWeek,
                                         p.dayOfYear}));
  }
}

TEST(XDateTest, RefusesImpossibleParts) {
  const std::uint16_t rows[][6] = {
      {1900, 2, 29, 0, 0, 0}, {1999, 2, 29, 0, 0, 0}, {2001, 4, 31, 0, 0, 0}, {2001, 1, 0, 0, 0, 0},
      {2001, 0, 1, 0, 0, 0},  {2001, 13, 1, 0, 0, 0}, {2001, 1, 1, 24, 0, 0}, {2001, 1, 1, 0, 60, 0},
      {2001, 1, 1, 0, 0, 60}, {10000, 1, 1, 0, 0, 0}, {99, 12, 31, 0, 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r[0] << "-" << r[1] << "-" << r[2] << " " << r[3] << ":" << r[4]
                                      << ":" << r[5]);
    double value = 42.0;
    EXPECT_EQ(0, CXDate::FromDateParts(r[0], r[1], r[2], r[3], r[4], r[5], value));
    EXPECT_EQ(42.0, value);
  }
}

TEST(XDateTest, RoundsToTheNearestSecond) {
  struct Row {
    double value;
    std::int32_t day, hour, minute, second;
  } rows[] = {
      {-0.5, 30, 12, 0, 0},  // 30 December 1899, noon
      {1.5 + 0.4 / 86400, 31, 12, 0, 0},
      {1.5 + 0.6 / 86400, 31, 12, 0, 1},
      {2.0 - 0.4 / 86400, 1, 0, 0, 0},  // carries into 1 January 1900
      {-1.25 - 0.6 / 86400, 29, 6, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    CXDate::DateParts p;
    ASSERT_EQ(1, CXDate::ToDateParts(row.value, p));
    EXPECT_EQ((std::vector<std::int32_t>{row.day, row.hour, row.minute, row.second}),
              (std::vector<std::int32_t>{p.day, p.hour, p.minute, p.second}));
  }
}

TEST(XDateTest, RefusesValuesOutsideTheRange) {
  const double values[] = {2958466.0, 2958465.0 + 86399.7 / 86400, -657435.0, 1e12,
                           std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()};
  for (double value : values) {
    SCOPED_TRACE(value);
    std::int32_t year = 77;
    EXPECT_EQ(0, CXDate::GetYear(value, year));
    EXPECT_EQ(77, year);
  }
}

// Every day of the range converts to parts and back, and the calendar moves
// by exactly one day and one weekday each time.
TEST(XDateTest, EveryDayOfTheRangeRoundTrips) {
  CXDate::DateParts previous;
  ASSERT_EQ(1, CXDate::ToDateParts(CXDate::kMinDate, previous));
  for (std::int32_t day = static_cast<std::int32_t>(CXDate::kMinDate) + 1;
       day <= static_cast<std::int32_t>(CXDate::kMaxDate); ++day) {
    CXDate::DateParts p;
    ASSERT_EQ(1, CXDate::ToDateParts(day, p)) << day;
    double back = 0;
    ASSERT_EQ(1, CXDate::FromDateParts(static_cast<std::uint16_t>(p.year), static_cast<std::uint16_t>(p.month),
                                       static_cast<std::uint16_t>(p.day), 0, 0, 0, back));
    ASSERT_EQ(static_cast<double>(day), back);
    ASSERT_EQ(previous.dayOfWeek % 7 + 1, p.dayOfWeek) << day;
    if (p.year == previous.year) {
      ASSERT_EQ(previous.dayOfYear + 1, p.dayOfYear) << day;
    } else {
      ASSERT_EQ(previous.year + 1, p.year) << day;
      ASSERT_EQ(1, p.dayOfYear) << day;
      ASSERT_EQ(CXDate::IsLeapYear(previous.year) ? 366 : 365, previous.dayOfYear) << day;
    }
    previous = p;
  }
  EXPECT_EQ(9999, previous.year);
}

}  // namespace
