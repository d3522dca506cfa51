#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;

// "YYYY-MM-DD hh:mm:ss.mmm dow", or "refused".
std::string Convert(double date) {
  SYSTEMTIME st = {};
  if (!VariantTimeToSystemTime(date, &st)) return "refused";
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u %u", st.wYear,
           st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
           st.wMilliseconds, st.wDayOfWeek);
  return text;
}

TEST(VariantTime, DayZeroIsThirtiethOfDecember1899) {
  EXPECT_EQ(Convert(0.0), "1899-12-30 00:00:00.000 6");
  EXPECT_EQ(Convert(1.0), "1899-12-31 00:00:00.000 0");
  EXPECT_EQ(Convert(36525.0 + 86399 * kSecond), "1999-12-31 23:59:59.000 5");
  EXPECT_EQ(Convert(45121.0 + (9 * 3600 + 5 * 60 + 3) * kSecond),
            "2023-07-14 09:05:03.000 5");
}

TEST(VariantTime, NegativeDatesCountDaysBackButTimeForward) {
  EXPECT_EQ(Convert(-1.25), "1899-12-29 06:00:00.000 5");
  EXPECT_EQ(Convert(-0.5), "1899-12-30 12:00:00.000 6");
  EXPECT_EQ(Convert(-2.75), "1899-12-28 18:00:00.000 4");
}

TEST(VariantTime, TimeIsRoundedToTheNearestSecond) {
  const double day = 45000.0;  // 2023-03-15
  EXPECT_EQ(Convert(day + 10.4 * kSecond), "2023-03-15 00:00:10.000 3");
  EXPECT_EQ(Convert(day + 10.6 * kSecond), "2023-03-15 00:00:11.000 3");
  EXPECT_EQ(Convert(day + 59.7 * kSecond), "2023-03-15 00:01:00.000 3");
}

TEST(VariantTime, HalfASecondRoundsUp) {
  EXPECT_EQ(Convert(36525.0 + 0.5 * kSecond), "1999-12-31 00:00:01.000 5");
  EXPECT_EQ(Convert(45000.0 + 10.5 * kSecond), "2023-03-15 00:00:11.000 3");
}

// The carry moves the date but keeps the weekday of the day it came from.
TEST(VariantTime, RoundingPastMidnightMovesToTheNextDayButNotTheWeekday) {
  EXPECT_EQ(Convert(36525.0 + 86399.7 * kSecond), "2000-01-01 00:00:00.000 5");
  EXPECT_EQ(Convert(36525.0 + 86399.4 * kSecond), "1999-12-31 23:59:59.000 5");
  EXPECT_EQ(Convert(-1.0 - 86399.7 * kSecond), "1899-12-30 00:00:00.000 5");
  EXPECT_EQ(Convert(-657434.0 - 86399.7 * kSecond),
            "0100-01-02 00:00:00.000 5");
  EXPECT_EQ(Convert(2958465.0 + 86399.7 * kSecond),
            "10000-01-01 00:00:00.000 5");
}

TEST(VariantTime, LeapDaysFollowTheGregorianCalendar) {
  EXPECT_EQ(Convert(36585.0), "2000-02-29 00:00:00.000 2");
  EXPECT_EQ(Convert(0.0 - 365 * 199 - 48), "1700-12-30 00:00:00.000 4");
}

TEST(VariantTime, ValidFromYear100ToYear9999) {
  EXPECT_EQ(Convert(-657434.0), "0100-01-01 00:00:00.000 5");
  EXPECT_EQ(Convert(-657434.5), "0100-01-01 12:00:00.000 5");
  EXPECT_EQ(Convert(2958465.0), "9999-12-31 00:00:00.000 5");
  EXPECT_EQ(Convert(2958465.0 + 86398.0 * kSecond),
            "9999-12-31 23:59:58.000 5");
  EXPECT_EQ(Convert(2958466.0), "refused");
  EXPECT_EQ(Convert(-657435.0), "refused");
  EXPECT_EQ(Convert(1e12), "refused");
  EXPECT_EQ(Convert(-1e12), "refused");
  EXPECT_EQ(Convert(std::numeric_limits<double>::infinity()), "refused");
}

TEST(VariantTime, SystemTimeRoundTripsAndIgnoresMilliseconds) {
  SYSTEMTIME in = {2023, 7, 0, 14, 9, 5, 3, 999};
  double date = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&in, &date));
  EXPECT_NEAR(date, 45121.0 + (9 * 3600 + 5 * 60 + 3) * kSecond, 1e-9);
  EXPECT_EQ(Convert(date), "2023-07-14 09:05:03.000 5");

  SYSTEMTIME early = {1899, 12, 0, 29, 6, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToVariantTime(&early, &date));
  EXPECT_DOUBLE_EQ(date, -1.25);

  SYSTEMTIME bad_month = {2023, 13, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToVariantTime(&bad_month, &date));
  SYSTEMTIME bad_day = {2023, 1, 0, 32, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToVariantTime(&bad_day, &date));
  SYSTEMTIME bad_year = {10000, 1, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToVariantTime(&bad_year, &date));
}

TEST(VariantTime, SystemTimeTakesTwoDigitYearsAndCarriesOverflowingFields) {
  struct Case {
    SYSTEMTIME in;
    double expected;
  } cases[] = {
      {{99, 1, 0, 1, 0, 0, 0, 0}, 36161.0},     // 1999-01-01
      {{29, 1, 0, 1, 0, 0, 0, 0}, 47119.0},     // 2029-01-01
      {{49, 1, 0, 1, 0, 0, 0, 0}, 54424.0},     // 2049-01-01
      {{50, 1, 0, 1, 0, 0, 0, 0}, 18264.0},     // 1950-01-01
      {{100, 1, 0, 1, 0, 0, 0, 0}, -657434.0},  // year 100 stays
      {{2023, 2, 0, 31, 0, 0, 0, 0}, 44988.0},  // 3 March
      {{2023, 1, 0, 0, 0, 0, 0, 0}, 44926.0},   // 31 December 2022
      {{2023, 0, 0, 1, 0, 0, 0, 0}, 44896.0},   // 1 December 2022
      {{2023, 1, 0, 1, 24, 0, 0, 0}, 44928.0},  // 2 January, midnight
      {{2023, 1, 0, 1, 0, 60, 0, 0}, 44927.0 + 1.0 / 24},
  };
  for (auto& c : cases) {
    double date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&c.in, &date)) << c.in.wYear;
    EXPECT_NEAR(date, c.expected, 1e-9) << c.in.wYear << "-" << c.in.wMonth;
  }
}

}  // namespace
