// File times and the calendar and zone conversions around them.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <winbase.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace win32_standin::internal {
int DescriptorOf(HANDLE handle, bool* writes);
}  // namespace win32_standin::internal

namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // 100-ns units
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year =
      (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

void CivilFromDays(int64_t days, int64_t* year, unsigned* month,
                   unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 +
                                day_of_era / 36524 - day_of_era / 146096) /
                               365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(year_of_era) + era * 400 + (*month <= 2);
}

bool IsLeap(unsigned year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool ValidSystemTime(const SYSTEMTIME& t) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30,
                                   31, 31, 30, 31, 30, 31};
  if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12) {
    return false;
  }
  const unsigned days =
      kDays[t.wMonth - 1] + (t.wMonth == 2 && IsLeap(t.wYear) ? 1 : 0);
  return t.wDay >= 1 && t.wDay <= days && t.wHour < 24 && t.wMinute < 60 &&
         t.wSecond < 60 && t.wMilliseconds < 1000;
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

FILETIME FromTicks(uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

// A FILETIME as the time stamp futimens takes; null or zero: unchanged.
struct timespec ToTimespec(const FILETIME* time) {
  struct timespec stamp = {0, UTIME_OMIT};
  if (time == nullptr || Ticks(*time) == 0) return stamp;
  const int64_t ticks = static_cast<int64_t>(Ticks(*time));
  stamp.tv_sec =
      static_cast<time_t>(ticks / kTicksPerSecond - kEpochDifference);
  stamp.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
  return stamp;
}

FILETIME FromTimespec(const struct timespec& stamp) {
  return FromTicks(static_cast<uint64_t>(
      (static_cast<int64_t>(stamp.tv_sec) + kEpochDifference) *
          kTicksPerSecond +
      stamp.tv_nsec / 100));
}

}  // namespace

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* system, LPFILETIME file) {
  if (system == nullptr || file == nullptr || !ValidSystemTime(*system)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t days =
      DaysFromCivil(system->wYear, system->wMonth, system->wDay);
  const int64_t seconds = (days * 86400 + system->wHour * 3600 +
                           system->wMinute * 60 + system->wSecond) +
                          kEpochDifference;
  *file = FromTicks(static_cast<uint64_t>(seconds * kTicksPerSecond +
                                          system->wMilliseconds * 10000));
  return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* file, LPSYSTEMTIME system) {
  if (file == nullptr || system == nullptr ||
      Ticks(*file) > 0x7FFFFFFFFFFFFFFFull) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint64_t ticks = Ticks(*file);
  const int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond);
  const int64_t days = seconds / 86400 - kEpochDifference / 86400;
  const int64_t in_day = seconds % 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  system->wYear = static_cast<WORD>(year);
  system->wMonth = static_cast<WORD>(month);
  system->wDay = static_cast<WORD>(day);
  system->wDayOfWeek = static_cast<WORD>((days % 7 + 11) % 7);  // 1970: Thu
  system->wHour = static_cast<WORD>(in_day / 3600);
  system->wMinute = static_cast<WORD>(in_day / 60 % 60);
  system->wSecond = static_cast<WORD>(in_day % 60);
  system->wMilliseconds = static_cast<WORD>(ticks / 10000 % 1000);
  return TRUE;
}

BOOL WINAPI TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* zone,
                                            const SYSTEMTIME* local,
                                            LPSYSTEMTIME universal) {
  if (zone != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (local == nullptr || universal == nullptr || !ValidSystemTime(*local)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // mktime reads the zone from TZ and finds whether daylight saving holds.
  // The C library guards its zone state with a lock of its own, which
  // ThreadSanitizer cannot see; copies convert their dates on several
  // workers at once, so the stand-in takes a lock it can see.
  static std::mutex zone_lock;
  std::lock_guard<std::mutex> lock(zone_lock);
  tzset();
  struct tm fields = {};
  fields.tm_year = local->wYear - 1900;
  fields.tm_mon = local->wMonth - 1;
  fields.tm_mday = local->wDay;
  fields.tm_hour = local->wHour;
  fields.tm_min = local->wMinute;
  fields.tm_sec = local->wSecond;
  fields.tm_isdst = -1;
  errno = 0;
  const time_t seconds = mktime(&fields);
  if (seconds == static_cast<time_t>(-1) && errno != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const FILETIME file = FromTicks(static_cast<uint64_t>(
      (static_cast<int64_t>(seconds) + kEpochDifference) * kTicksPerSecond +
      local->wMilliseconds * 10000));
  return FileTimeToSystemTime(&file, universal);
}

BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME* creation,
                        const FILETIME* last_access,
                        const FILETIME* last_write) {
  (void)creation;  // Linux cannot set it; accepted and ignored.
  bool writes = false;
  const int fd = win32_standin::internal::DescriptorOf(handle, &writes);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!writes) {  // Windows needs FILE_WRITE_ATTRIBUTES
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const struct timespec stamps[2] = {ToTimespec(last_access),
                                     ToTimespec(last_write)};
  if (futimens(fd, stamps) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE handle, LPFILETIME creation,
                        LPFILETIME last_access, LPFILETIME last_write) {
  const int fd = win32_standin::internal::DescriptorOf(handle, nullptr);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  struct statx info;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &info) !=
      0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto stamp = [](const struct statx_timestamp& t) {
    struct timespec spec = {static_cast<time_t>(t.tv_sec),
                            static_cast<long>(t.tv_nsec)};
    return FromTimespec(spec);
  };
  if (last_access != nullptr) *last_access = stamp(info.stx_atime);
  if (last_write != nullptr) *last_write = stamp(info.stx_mtime);
  if (creation != nullptr) {
    *creation =
        stamp((info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime);
  }
  return TRUE;
}
