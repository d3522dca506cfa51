// OLE Automation: conversions between DATE and SYSTEMTIME.
#ifndef SNAPFERRY_WIN32_OLEAUTO_H_
#define SNAPFERRY_WIN32_OLEAUTO_H_

#include <basetyps.h>
#include <windef.h>
#include <wtypes.h>

// A DATE counts days from 30 December 1899; its fraction is the time of day,
// taken without sign (-1.25 is 29 December 1899, 06:00). Valid from
// 1 January 100 to 31 December 9999; the time is rounded to the nearest
// second (a carry past midnight keeps the earlier weekday, and the last
// half second of 9999 becomes 1 January 10000) and wMilliseconds is 0.
// Returns FALSE outside that range, and for NaN, where Windows's answer is
// not documented.
WINOLEAUTAPI_(INT) VariantTimeToSystemTime(DOUBLE vtime,
                                          LPSYSTEMTIME lpSystemTime);
// Two-digit years are 1950-2049; fields past their range carry over.
WINOLEAUTAPI_(INT) SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime,
                                          DOUBLE* pvtime);

#endif  // SNAPFERRY_WIN32_OLEAUTO_H_
