#include "xdate.h"

#include <cmath>

namespace {

// Days of the year before the first of each month, in a common year.
const std::int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
const std::int32_t kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The day count of FromDateParts for 30 December 1899, the epoch.
const std::int32_t kEpochDays = 693959;
const double kHalfSecond = 1.0 / 172800.0;

}  // namespace

CXDate::~CXDate() = default;

bool CXDate::IsLeapYear(std::int32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::int32_t CXDate::DaysInMonth(std::int32_t year, std::int32_t month) {
  if (month < 1 || month > 12) return 0;
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDaysInMonth[month - 1];
}

int CXDate::FromDateParts(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                          std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                          double& date) {
  // Years below 100 would give values that ToDateParts refuses.
  if (year < 100 || year > 9999) return 0;
  if (month < 1 || month > 12) return 0;
  if (day < 1 || day > DaysInMonth(year, month)) return 0;
  if (hour > 23 || minute > 59 || second > 59) return 0;

  std::int32_t y = year;
  std::int32_t days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[month - 1] + day;
  // y / 4 above already counted this year's leap day.
  if (month <= 2 && IsLeapYear(y)) days -= 1;
  double value = static_cast<double>(days - kEpochDays);
  double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  date = value >= 0 ? value + fraction : value - fraction;
  return 1;
}

int CXDate::ToDateParts(double date, DateParts& parts) {
  // The negated comparisons also refuse NaN.
  if (!(date < kMaxDate + 1.0) || !(date > kMinDate - 1.0)) return 0;

  double adjusted = date > 0 ? date + kHalfSecond : date - kHalfSecond;
  double whole = std::trunc(adjusted);
  // Rounding may carry 23:59:59.6 of the last day into a day out of range.
  if (whole > kMaxDate || whole < kMinDate) return 0;
  std::int32_t dayNumber = static_cast<std::int32_t>(whole);

  // Civil date from a day count, by 400-, 100-, 4- and 1-year cycles of the
  // proleptic Gregorian calendar. Counting from 1 March of year 0 puts the leap
  // day at the end of each cycle year.
  std::int32_t z = dayNumber + kEpochDays - 60;  // days since 1 March of year 0
  std::int32_t era = z / 146097;                  // z is positive over the range
  std::int32_t dayOfEra = z - era * 146097;
  std::int32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int32_t dayOfMarchYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int32_t shiftedMonth = (5 * dayOfMarchYear + 2) / 153;  // 0 = March
  std::int32_t day = dayOfMarchYear - (153 * shiftedMonth + 2) / 5 + 1;
  std::int32_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  std::int32_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

  double fraction = std::fabs(adjusted) - std::fabs(whole);
  std::int32_t seconds = static_cast<std::int32_t>(fraction * 86400.0);
  if (seconds > 86399) seconds = 86399;

  parts.second = seconds % 60;
  parts.minute = (seconds / 60) % 60;
  parts.hour = seconds / 3600;
  parts.day = day;
  parts.month = month;
  parts.year = year;
  parts.dayOfWeek = (dayNumber + kEpochDays - 1) % 7 + 1;
  parts.dayOfYear = kDaysBeforeMonth[month - 1] + day + (month > 2 && IsLeapYear(year) ? 1 : 0);
  return 1;
}

int CXDate::GetYear(double date, std::int32_t& year) {
  DateParts parts;
  if (!ToDateParts(date, parts)) return 0;
  year = parts.year;
  return 1;
}

int CXDate::GetMonth(double date, std::int32_t& month) {
  DateParts parts;
  if (!ToDateParts(date, parts)) return 0;
  month = parts.month;
  return 1;
}

int CXDate::GetDay(double date, std::int32_t& day) {
  DateParts parts;
  if (!ToDateParts(date, parts)) return 0;
  day = parts.day;
  return 1;
}
