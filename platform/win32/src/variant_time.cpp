// DATE <-> SYSTEMTIME. A DATE counts days from 30 December 1899; the sign
// applies to the day count only, the fraction is always the time of day
// forward from midnight.
#include <oleauto.h>

#include <cmath>
#include <cstdint>

namespace {

constexpr double kFirstDay = -657434.0;          // 1 January 100
constexpr double kLastDay = 2958465.0;           // 31 December 9999
constexpr int64_t kDaysFrom1970To1899 = -25569;  // 1899-12-30 - 1970-01-01
constexpr int64_t kSecondsPerDay = 86400;

// Proleptic Gregorian calendar, days relative to 1970-01-01.
void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy =
      (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

INT VariantTimeToSystemTime(DOUBLE vtime, LPSYSTEMTIME out) {
  if (out == nullptr) return FALSE;
  // NaN is refused too (see the note in the header).
  if (!(vtime > kFirstDay - 1.0 && vtime < kLastDay + 1.0)) return FALSE;
  const double whole_days = vtime < 0.0 ? std::ceil(vtime) : std::floor(vtime);
  const int64_t days = static_cast<int64_t>(whole_days);
  // A tiny bias keeps times stored a hair below a whole second on it; then
  // the time is rounded to the nearest second, half a second going up.
  double fraction = std::fabs(vtime - whole_days) + 1e-11;
  if (fraction >= 1.0) fraction -= 1e-11;
  const double exact_seconds = fraction * kSecondsPerDay;
  int64_t seconds = static_cast<int64_t>(exact_seconds);
  if (exact_seconds - static_cast<double>(seconds) >= 0.5) ++seconds;

  // The weekday is that of the unrounded day: Windows does not move it when
  // rounding carries into the next day.
  const int64_t unix_days = days + kDaysFrom1970To1899;
  out->wDayOfWeek = static_cast<WORD>(((unix_days + 4) % 7 + 7) % 7);
  int64_t year;
  unsigned month, day;
  // The carry may reach 1 January 10000, which is reported as such.
  CivilFromDays(unix_days + seconds / kSecondsPerDay, &year, &month, &day);
  seconds %= kSecondsPerDay;
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(day);
  out->wHour = static_cast<WORD>(seconds / 3600);
  out->wMinute = static_cast<WORD>(seconds / 60 % 60);
  out->wSecond = static_cast<WORD>(seconds % 60);
  out->wMilliseconds = 0;
  return TRUE;
}

INT SystemTimeToVariantTime(LPSYSTEMTIME in, DOUBLE* vtime) {
  if (in == nullptr || vtime == nullptr) return FALSE;
  if (in->wYear > 9999 || in->wMonth > 12 || in->wDay > 31) return FALSE;
  // Two-digit years: 0-49 are 2000-2049, 50-99 are 1950-1999.
  int64_t year = in->wYear;
  if (year < 50) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }
  // Fields past their range carry over the way Windows lets them: month 0 is
  // the previous December, day 0 the previous month's last day, 31 February
  // a day in March, 24:00 the next midnight.
  unsigned month = in->wMonth;
  if (month == 0) {
    month = 12;
    --year;
  }
  const int64_t day_number =
      DaysFromCivil(year, month, 1) + in->wDay - 1 - kDaysFrom1970To1899;
  const int64_t seconds =
      in->wHour * int64_t{3600} + in->wMinute * int64_t{60} + in->wSecond;
  const int64_t days = day_number + seconds / kSecondsPerDay;
  // Milliseconds are ignored, as Windows does.
  const double time =
      static_cast<double>(seconds % kSecondsPerDay) / kSecondsPerDay;
  *vtime = days >= 0 ? static_cast<double>(days) + time
                     : static_cast<double>(days) - time;
  return TRUE;
}
