// Date-times as day counts: days since 30 December 1899, the time of day as the fraction
// (0.0 is 1899-12-30 00:00, 1.25 is 1899-12-31 06:00). Photos carry their shooting time in
// this form; -1.0 stands for "no shooting time". The scale is linear, also before 1899.
#pragma once

#include <ctime>
#include <optional>

namespace morvane {

using TDateTime = double;

struct TDateTimeParts {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  bool operator==(const TDateTimeParts&) const = default;
};

bool IsLeapYear(int year);
// Gregorian calendar, years 1 to 9999.
bool IsValidDate(int year, int month, int day);
bool IsValidTime(int hour, int minute, int second, int millisecond = 0);

// nullopt when the date or time does not exist.
std::optional<TDateTime> EncodeDate(int year, int month, int day);
std::optional<TDateTime> EncodeTime(int hour, int minute, int second, int millisecond = 0);
std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int millisecond = 0);
// Rounded to the millisecond; nullopt for NaN and values outside years 1 to 9999.
std::optional<TDateTimeParts> DecodeDateTime(TDateTime value);

// The value taken as a local time, as seconds since the Unix epoch (daylight saving time
// as the time zone has it on that day). nullopt when it cannot be represented.
std::optional<time_t> LocalDateTimeToUnix(TDateTime value);
std::optional<timespec> LocalDateTimeToTimespec(TDateTime value);
// The reverse: a Unix time as a local date-time.
std::optional<TDateTime> UnixToLocalDateTime(time_t seconds);

// Drops the milliseconds and the odd second, as a DOS file time stores it. NaN stays NaN.
TDateTime RoundDownToTwoSeconds(TDateTime value);

}  // namespace morvane
