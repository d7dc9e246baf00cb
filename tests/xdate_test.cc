// CXDate: calendar dates and OLE dates both ways, over the whole range.
#include "xdate.h"

#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::int32_t> Parts(const CXDate::DateParts& p) {
  return {p.year, p.month, p.day, p.hour, p.minute, p.second, p.dayOfWeek, p.dayOfYear};
}

// Fixed points; the walk below ties every other day to them.
TEST(XDateTest, ConvertsBothWays) {
  const struct {
    const char* name;
    std::vector<std::int32_t> parts;  // ..., day of week (1 = Sunday), day of year
    double value;
  } rows[] = {
      {"epoch", {1899, 12, 30, 0, 0, 0, 7, 364}, 0.0},
      {"1900 is no leap year", {1900, 3, 1, 0, 0, 0, 5, 60}, 61.0},
      {"leap day 2000, evening", {2000, 2, 29, 18, 0, 0, 3, 60}, 36585.75},
      // Before the epoch the day counts backwards, the time forwards.
      {"negative with time", {1899, 12, 29, 6, 0, 0, 6, 363}, -1.25},
      {"first day", {100, 1, 1, 0, 0, 0, 6, 1}, -657434.0},
      {"noon of the last day", {9999, 12, 31, 12, 0, 0, 6, 365}, 2958465.5},
      {"last second of a day", {2026, 12, 6, 23, 59, 59, 1, 340}, 46362.0 + 86399.0 / 86400.0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto& p = row.parts;
    double value = 0;
    ASSERT_EQ(1, CXDate::FromDateParts(p[0], p[1], p[2], p[3], p[4], p[5], value));
    EXPECT_NEAR(row.value, value, 1e-9);
    CXDate::DateParts parts;
    ASSERT_EQ(1, CXDate::ToDateParts(row.value, parts));
    EXPECT_EQ(p, Parts(parts));
  }
}

TEST(XDateTest, RoundsToTheNearestSecond) {
  const struct {
    double value;
    std::vector<std::int32_t> day_time;
  } rows[] = {
      {-0.5, {30, 12, 0, 0}},  // 30 December 1899, noon
      {1.5 + 0.6 / 86400, {31, 12, 0, 1}},
      {2.0 - 0.4 / 86400, {1, 0, 0, 0}},  // carries into 1 January 1900
      {-1.25 - 0.6 / 86400, {29, 6, 0, 1}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    CXDate::DateParts p;
    ASSERT_EQ(1, CXDate::ToDateParts(row.value, p));
    EXPECT_EQ(row.day_time, (std::vector<std::int32_t>{p.day, p.hour, p.minute, p.second}));
  }
}

TEST(XDateTest, RefusesImpossiblePartsAndValuesOutsideTheRange) {
  const std::uint16_t parts[][6] = {
      {1900, 2, 29, 0, 0, 0}, {1999, 2, 29, 0, 0, 0}, {2001, 4, 31, 0, 0, 0},  {2001, 1, 0, 0, 0, 0},
      {2001, 0, 1, 0, 0, 0},  {2001, 13, 1, 0, 0, 0}, {2001, 1, 1, 24, 0, 0},  {2001, 1, 1, 0, 60, 0},
      {2001, 1, 1, 0, 0, 60}, {10000, 1, 1, 0, 0, 0}, {99, 12, 31, 0, 0, 0},
  };
  for (const auto& r : parts) {
    double value = 42.0;
    EXPECT_EQ(0, CXDate::FromDateParts(r[0], r[1], r[2], r[3], r[4], r[5], value)) << r[0] << "-" << r[1] << "-" << r[2];
    EXPECT_EQ(42.0, value);
  }
  // Rounding may carry the last second of the range out of it.
  const double values[] = {2958466.0, 2958465.0 + 86399.7 / 86400, -657435.0, 1e12,
                           std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()};
  for (double value : values) {
    std::int32_t year = 77;
    EXPECT_EQ(0, CXDate::GetYear(value, year)) << value;
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
  EXPECT_EQ((std::vector<std::int32_t>{9999, 12, 31}), (std::vector<std::int32_t>{previous.year, previous.month, previous.day}));
}

}  // namespace
