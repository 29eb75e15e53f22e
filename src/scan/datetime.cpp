#include "scan/datetime.h"

#include <cerrno>
#include <cmath>
#include <cstdint>

namespace morvane {

namespace {

constexpr int64_t kMsPerDay = 86400000;

constexpr bool LeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int DaysInMonth(int year, int month) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// Days of the years before `year` (year >= 1).
constexpr int64_t DaysBeforeYear(int year) {
  int64_t y = year - 1;
  return 365 * y + y / 4 - y / 100 + y / 400;
}

// 1 for 0001-01-01. The date must be valid.
constexpr int64_t DayNumber(int year, int month, int day) {
  int64_t n = DaysBeforeYear(year) + day;
  for (int m = 1; m < month; ++m) n += DaysInMonth(year, m);
  return n;
}

// Day number of day 0, 1899-12-30.
constexpr int64_t kEpochDayNumber = DayNumber(1899, 12, 30);
constexpr double kFirstValue = static_cast<double>(DayNumber(1, 1, 1) - kEpochDayNumber);
constexpr double kEndValue = static_cast<double>(DayNumber(9999, 12, 31) + 1 - kEpochDayNumber);

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Milliseconds since day 0, rounded; nullopt outside years 1 to 9999.
std::optional<int64_t> ToMilliseconds(TDateTime value) {
  if (!(value >= kFirstValue && value < kEndValue)) return std::nullopt;  // also NaN
  int64_t ms = std::llround(value * static_cast<double>(kMsPerDay));
  if (ms >= static_cast<int64_t>(kEndValue) * kMsPerDay) return std::nullopt;
  return ms;
}

TDateTimeParts PartsOfDayNumber(int64_t dayNumber) {
  TDateTimeParts p;
  int year = static_cast<int>((dayNumber - 1) * 400 / 146097) + 1;
  while (DaysBeforeYear(year + 1) < dayNumber) ++year;
  while (year > 1 && DaysBeforeYear(year) >= dayNumber) --year;
  int dayOfYear = static_cast<int>(dayNumber - DaysBeforeYear(year));
  int month = 1;
  while (month < 12 && dayOfYear > DaysInMonth(year, month)) dayOfYear -= DaysInMonth(year, month++);
  p.Year = year;
  p.Month = month;
  p.Day = dayOfYear;
  return p;
}

}  // namespace

bool IsLeapYear(int year) { return LeapYear(year); }

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second, int millisecond) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         millisecond >= 0 && millisecond < 1000;
}

std::optional<TDateTime> EncodeDate(int year, int month, int day) {
  if (!IsValidDate(year, month, day)) return std::nullopt;
  return static_cast<double>(DayNumber(year, month, day) - kEpochDayNumber);
}

std::optional<TDateTime> EncodeTime(int hour, int minute, int second, int millisecond) {
  if (!IsValidTime(hour, minute, second, millisecond)) return std::nullopt;
  int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000LL + millisecond;
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int millisecond) {
  std::optional<TDateTime> date = EncodeDate(year, month, day);
  std::optional<TDateTime> time = EncodeTime(hour, minute, second, millisecond);
  if (!date || !time) return std::nullopt;
  return *date + *time;
}

std::optional<TDateTimeParts> DecodeDateTime(TDateTime value) {
  std::optional<int64_t> ms = ToMilliseconds(value);
  if (!ms) return std::nullopt;
  int64_t day = FloorDiv(*ms, kMsPerDay);
  int64_t msOfDay = *ms - day * kMsPerDay;
  TDateTimeParts p = PartsOfDayNumber(day + kEpochDayNumber);
  p.Hour = static_cast<int>(msOfDay / 3600000);
  p.Minute = static_cast<int>(msOfDay / 60000 % 60);
  p.Second = static_cast<int>(msOfDay / 1000 % 60);
  p.Millisecond = static_cast<int>(msOfDay % 1000);
  return p;
}

std::optional<time_t> LocalDateTimeToUnix(TDateTime value) {
  std::optional<TDateTimeParts> p = DecodeDateTime(value);
  if (!p) return std::nullopt;
  std::tm tm{};
  tm.tm_year = p->Year - 1900;
  tm.tm_mon = p->Month - 1;
  tm.tm_mday = p->Day;
  tm.tm_hour = p->Hour;
  tm.tm_min = p->Minute;
  tm.tm_sec = p->Second;
  tm.tm_isdst = -1;  // let the time zone say whether summer time applies
  errno = 0;
  time_t t = std::mktime(&tm);
  // -1 is also one second before the epoch; only errno tells a failure.
  if (t == static_cast<time_t>(-1) && errno != 0) return std::nullopt;
  return t;
}

std::optional<timespec> LocalDateTimeToTimespec(TDateTime value) {
  std::optional<time_t> seconds = LocalDateTimeToUnix(value);
  if (!seconds) return std::nullopt;
  timespec ts{};
  ts.tv_sec = *seconds;
  ts.tv_nsec = static_cast<long>(DecodeDateTime(value)->Millisecond) * 1000000L;
  return ts;
}

std::optional<TDateTime> UnixToLocalDateTime(time_t seconds) {
  std::tm tm{};
  if (localtime_r(&seconds, &tm) == nullptr) return std::nullopt;
  int second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second
  return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                        second);
}

TDateTime RoundDownToTwoSeconds(TDateTime value) {
  std::optional<int64_t> ms = ToMilliseconds(value);
  if (!ms) return value;
  int64_t rounded = FloorDiv(*ms, 2000) * 2000;
  return static_cast<double>(rounded) / static_cast<double>(kMsPerDay);
}

}  // namespace morvane
