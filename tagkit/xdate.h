/// @file
/// CXDate: conversions between calendar dates and OLE dates.
#ifndef TAGKIT_TAGKIT_XDATE_H_
#define TAGKIT_TAGKIT_XDATE_H_

#include <cstdint>

#include "tlx_export.h"

/// Conversions between calendar dates and the OLE date format: a double
/// counting days since 30 December 1899 00:00, the fraction being the time
/// of day. Before that epoch the integral part counts days backwards while
/// the fraction still runs forwards, so -1.25 is 29 December 1899, 06:00.
/// All members are static; the results are 1 for success and 0 for failure.
/// They only compute, allocate nothing and never throw.
class TLX_API CXDate {
 public:
  /// Calendar parts of one instant.
  struct DateParts {
    std::int32_t second;     ///< 0-59
    std::int32_t minute;     ///< 0-59
    std::int32_t hour;       ///< 0-23
    std::int32_t day;        ///< day of month, 1-31
    std::int32_t month;      ///< 1-12
    std::int32_t year;       ///< 100-9999
    std::int32_t dayOfWeek;  ///< 1 = Sunday .. 7 = Saturday
    std::int32_t dayOfYear;  ///< 1-366
  };

  /// 1 January 100, the smallest date; the class layer uses it for "no date".
  static constexpr double kMinDate = -657434.0;
  /// 31 December 9999, the last day.
  static constexpr double kMaxDate = 2958465.0;

  CXDate() = default;
  virtual ~CXDate();

  /// Builds the OLE date of a calendar date and time of day.
  /// @return 1 and the value stored in @p date, or 0 for impossible parts
  ///   (date then untouched). Years 100 to 9999 of the proleptic Gregorian
  ///   calendar.
  static int FromDateParts(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                           std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                           double& date);
  /// Splits an OLE date into its calendar parts, rounded to the nearest
  /// second.
  /// @return 1 and @p parts filled; 0 when the value lies outside the days
  ///   1 January 100 to 31 December 9999 (times of day on those days
  ///   included) or is not a number.
  static int ToDateParts(double date, DateParts& parts);
  /// The year of an OLE date. @return 1, or 0 as ToDateParts.
  static int GetYear(double date, std::int32_t& year);
  /// The month (1-12) of an OLE date. @return 1, or 0 as ToDateParts.
  static int GetMonth(double date, std::int32_t& month);
  /// The day of the month of an OLE date. @return 1, or 0 as ToDateParts.
  static int GetDay(double date, std::int32_t& day);

  /// Whether @p year is a leap year of the Gregorian calendar.
  static bool IsLeapYear(std::int32_t year);
  /// Days in @p month (1-12) of @p year; 0 for a month out of range.
  static std::int32_t DaysInMonth(std::int32_t year, std::int32_t month);
};

#endif  // TAGKIT_TAGKIT_XDATE_H_
