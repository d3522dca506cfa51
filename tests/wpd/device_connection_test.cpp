#include "wpd/device_connection.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <thread>

#include "wpd/com_apartment_guard.h"

namespace snapferry {
namespace {

TEST(FormatHresultFailureTest, WritesStepAndEightUpperCaseHexDigits) {
  EXPECT_EQ(FormatHresultFailure("Open device", E_ACCESSDENIED),
            "Open device failed (HRESULT 0x80070005)");
  EXPECT_EQ(FormatHresultFailure("Read from device", HRESULT_FROM_WIN32(31)),
            "Read from device failed (HRESULT 0x8007001F)");
  EXPECT_EQ(FormatHresultFailure("Delete object", S_FALSE),
            "Delete object failed (HRESULT 0x00000001)");
}

TEST(FormatHresultFailureTest, TruncatesToNinetyFiveBytes) {
  std::string long_step(200, 'x');
  EXPECT_EQ(FormatHresultFailure(long_step.c_str(), E_FAIL),
            std::string(95, 'x'));
}

TEST(TextConversionTest, EmptyStaysEmpty) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(TextConversionTest, RoundTripsAstralCharactersAsSurrogatePairs) {
  const std::string utf8 = "IMG_\xF0\x9F\x93\xB7_\xC3\xA9t\xC3\xA9.HEIC";
  std::wstring wide = Utf8ToWide(utf8);
  ASSERT_EQ(wide.size(), 4u + 2u + 1u + 3u + 5u);
  EXPECT_EQ(static_cast<unsigned>(wide[4]), 0xD83Du);
  EXPECT_EQ(static_cast<unsigned>(wide[5]), 0xDCF7u);
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextConversionTest, ConvertsEmbeddedNulUnits) {
  const std::string utf8("a\0b", 3);
  std::wstring wide = Utf8ToWide(utf8);
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[1], L'\0');
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextConversionTest, ReplacesInvalidInputInsteadOfFailing) {
  // A lone continuation byte and an unpaired surrogate each become U+FFFD.
  std::wstring wide = Utf8ToWide("a\x80z");
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(static_cast<unsigned>(wide[1]), 0xFFFDu);
  std::wstring lone_surrogate = L"a?z";
  lone_surrogate[1] = static_cast<wchar_t>(0xD800);
  EXPECT_EQ(WideToUtf8(lone_surrogate), "a\xEF\xBF\xBDz");
}

TEST(LowerCaseUnitsTest, FoldsOnlyAsciiLetters) {
  std::wstring fullwidth = L"DCIM";
  fullwidth[0] = static_cast<wchar_t>(0xFF24);  // FULLWIDTH LATIN CAPITAL D
  std::wstring lowered = LowerCaseUnits(fullwidth);
  EXPECT_EQ(static_cast<unsigned>(lowered[0]), 0xFF24u);
  EXPECT_EQ(lowered.substr(1), L"cim");
  EXPECT_EQ(LowerCaseUnits(L"DcIm 100APPLE"), L"dcim 100apple");
}

TEST(ComApartmentGuardTest, JoinsAndLeavesTheMultithreadedApartment) {
  std::thread([] {
    {
      ComApartmentGuard guard;
      EXPECT_TRUE(guard.usable());
      EXPECT_EQ(guard.result(), S_OK);
      // Inside, the thread is in the MTA.
      HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      EXPECT_EQ(again, RPC_E_CHANGED_MODE);
    }
    // Left again: the thread can now join a single-threaded apartment.
    HRESULT after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(after, S_OK);
    if (SUCCEEDED(after)) CoUninitialize();
  }).join();
}

TEST(ComApartmentGuardTest, KeepsAnExistingSingleThreadedApartment) {
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      ComApartmentGuard guard;
      EXPECT_TRUE(guard.usable());
      EXPECT_EQ(guard.result(), RPC_E_CHANGED_MODE);
    }
    // The guard must not have left the apartment it did not join: the thread
    // is still single-threaded, so a multithreaded join is still refused.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace snapferry
