// Conversions between calendar dates and the OLE date format: a double
// counting days since 30 December 1899 00:00, the fraction being the time of
// day. Before that epoch the integral part counts days backwards while the
// fraction still runs forwards, so -1.25 is 29 December 1899, 06:00.
#ifndef TAGKIT_TAGKIT_XDATE_H_
#define TAGKIT_TAGKIT_XDATE_H_

#include <cstdint>

#include "tlx_export.h"

class TLX_API CXDate {
 public:
  // Calendar parts of one instant.
  struct DateParts {
    std::int32_t second;     // 0-59
    std::int32_t minute;     // 0-59
    std::int32_t hour;       // 0-23
    std::int32_t day;        // day of month, 1-31
    std::int32_t month;      // 1-12
    std::int32_t year;       // 100-9999
    std::int32_t dayOfWeek;  // 1 = Sunday .. 7 = Saturday
    std::int32_t dayOfYear;  // 1-366
  };

  // 1 January 100, the smallest date; the class layer uses it for "no date".
  static constexpr double kMinDate = -657434.0;
  // 31 December 9999, the last day.
  static constexpr double kMaxDate = 2958465.0;

  CXDate() = default;
  virtual ~CXDate();

  // 1 and the value stored in *date, or 0 for impossible parts (date then
  // untouched). Years 100 to 9999 of the proleptic Gregorian calendar.
  static int FromDateParts(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                           std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                           double& date);
  // Rounds to the nearest second. 0 when the value lies outside the days
  // 1 January 100 to 31 December 9999 (times of day on those days included)
  // or is not a number.
  static int ToDateParts(double date, DateParts& parts);
  static int GetYear(double date, std::int32_t& year);
  static int GetMonth(double date, std::int32_t& month);
  static int GetDay(double date, std::int32_t& day);

  static bool IsLeapYear(std::int32_t year);
  static std::int32_t DaysInMonth(std::int32_t year, std::int32_t month);
};

#endif  // TAGKIT_TAGKIT_XDATE_H_
