// Where the stand-in knowingly answers differently from Wine, because
// Windows's own answer is undocumented and Wine's is an accident.
#include <windows.h>
#include <oleauto.h>

#include <limits>

#include "gtest/gtest.h"

namespace {

// Wine lets NaN through its range test and reports 30 December 1899; the
// stand-in refuses it, so a corrupt date reads as "no date".
TEST(StandinDeviations, NotANumberDateIsRefused) {
  SYSTEMTIME st = {};
  EXPECT_FALSE(VariantTimeToSystemTime(std::numeric_limits<double>::quiet_NaN(), &st));
}

}  // namespace
