// Calendar times as Windows converts them: SystemTimeToFileTime turns a
// SYSTEMTIME (no time zone) into 100-ns ticks since 1601-01-01, refusing a
// field out of range (month 1-12, a day the month has, 1601 to 30827), and
// TzSpecificLocalTimeToSystemTime with no zone given takes the computer's own,
// with the daylight saving rule of that date.
#include <time.h>

#include "platform/posix/posix_internal.h"

namespace {

bool IsLeap(long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysIn(long year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

bool Valid(const SYSTEMTIME& t) {
  return t.wYear >= 1601 && t.wYear <= 30827 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
         t.wDay <= DaysIn(t.wYear, t.wMonth) && t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 &&
         t.wMilliseconds < 1000;
}

// Days from 1970-01-01 to the date (negative before it).
long long DaysFromEpoch(long year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const int shifted = month > 2 ? month - 3 : month + 9;
  const long dayOfYear = (153 * shifted + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<long long>(era) * 146097 + dayOfEra - 719468;
}

}  // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
  if (!time || !fileTime || !Valid(*time)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const long long seconds = DaysFromEpoch(time->wYear, time->wMonth, time->wDay) * 86400 +
                            time->wHour * 3600LL + time->wMinute * 60LL + time->wSecond;
  *fileTime = ToFileTime(seconds, static_cast<long>(time->wMilliseconds) * 1000000L);
  return TRUE;
}

BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* local,
                                     SYSTEMTIME* universal) {
  if (zone || !local || !universal || !Valid(*local)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct tm t = {};
  t.tm_year = local->wYear - 1900;
  t.tm_mon = local->wMonth - 1;
  t.tm_mday = local->wDay;
  t.tm_hour = local->wHour;
  t.tm_min = local->wMinute;
  t.tm_sec = local->wSecond;
  t.tm_isdst = -1;  // the rule of that date, not of today
  const time_t seconds = ::mktime(&t);
  struct tm u;
  if (seconds == static_cast<time_t>(-1) && (t.tm_year != 69 || t.tm_mday != 31)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!::gmtime_r(&seconds, &u) || u.tm_year + 1900 < 1601 || u.tm_year + 1900 > 30827) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  universal->wYear = static_cast<WORD>(u.tm_year + 1900);
  universal->wMonth = static_cast<WORD>(u.tm_mon + 1);
  universal->wDayOfWeek = static_cast<WORD>(u.tm_wday);
  universal->wDay = static_cast<WORD>(u.tm_mday);
  universal->wHour = static_cast<WORD>(u.tm_hour);
  universal->wMinute = static_cast<WORD>(u.tm_min);
  universal->wSecond = static_cast<WORD>(u.tm_sec);
  universal->wMilliseconds = local->wMilliseconds;
  return TRUE;
}

static void ToSystemTime(const struct tm& t, long nanoseconds, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

void GetSystemTime(SYSTEMTIME* out) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm t;
  ::gmtime_r(&now.tv_sec, &t);
  ToSystemTime(t, now.tv_nsec, out);
}

void GetLocalTime(SYSTEMTIME* out) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm t;
  ::localtime_r(&now.tv_sec, &t);
  ToSystemTime(t, now.tv_nsec, out);
}
