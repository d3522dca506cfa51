// Where the stand-in knowingly answers differently from Wine, because
// Windows's own answer is undocumented and Wine's is an accident.
#include <windows.h>
#include <oleauto.h>

#include <limits>
#include <string>

#include "gtest/gtest.h"
#include "win32_standin/control.h"

namespace {

// Wine lets NaN through its range test and reports 30 December 1899; the
// stand-in refuses it, so a corrupt date reads as "no date".
TEST(StandinDeviations, NotANumberDateIsRefused) {
  SYSTEMTIME st = {};
  EXPECT_FALSE(
      VariantTimeToSystemTime(std::numeric_limits<double>::quiet_NaN(), &st));
}

}  // namespace

namespace {

// Windows documents that CP_UTF8 takes no flags but the invalid-character one
// and no default character; Wine accepts them. The stand-in keeps to the
// documentation, so such a call fails here as it would on Windows.
TEST(StandinDeviations, Utf8ConversionsRefuseFlagsWindowsDocumentsAsInvalid) {
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "ab", 2, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  char narrow[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, L"ab", 2, narrow,
                                8, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  BOOL used = FALSE;
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, 0, L"ab", 2, narrow, 8, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Wine writes the high half of a pair that does not fit and reports success;
// the stand-in reports the short buffer. The system always measures first.
TEST(StandinDeviations, PairThatDoesNotFitIsAShortBuffer) {
  WCHAR wide[1];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// wchar_t is 32 bits here; an element above 0xFFFF is no UTF-16 unit.
TEST(StandinDeviations, ElementAboveSixteenBitsIsAnInvalidUnit) {
  const wchar_t text[] = {L'a', static_cast<wchar_t>(0x1F600)};
  char narrow[8];
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, 0, text, 2, narrow, 8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(narrow, 4), "a\xEF\xBF\xBD");
}

}  // namespace

namespace {

// Windows reports ERROR_CANNOT_FIND_WND_CLASS for an unknown class; Wine
// reports ERROR_CLASS_DOES_NOT_EXIST. The stand-in gives Windows's code.
TEST(StandinDeviations, UnknownWindowClassIsCannotFindClass) {
  EXPECT_EQ(CreateWindowExW(0, L"SNAPFERRY_NO_SUCH_CLASS", L"",
                            WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
}

}  // namespace

namespace {

// Windows's time conversion checks the day against the month's length;
// Wine's takes 29 February of a common year. The stand-in refuses it, so a
// date that never was gives no file time.
TEST(StandinDeviations, DayBeyondTheMonthIsRefused) {
  SYSTEMTIME no_such_day = {2023, 2, 0, 29, 0, 0, 0, 0};
  FILETIME time = {};
  EXPECT_FALSE(SystemTimeToFileTime(&no_such_day, &time));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace

namespace {

// Windows refuses to open a file whose deletion is pending
// (STATUS_DELETE_PENDING, ERROR_ACCESS_DENIED) even when its holder shares
// everything, or to tell its attributes; Wine opens it and tells them. The
// stand-in keeps Windows's answer.
TEST(StandinDeviations, FileWhoseDeletionIsPendingCannotBeOpened) {
  const DWORD share_all =
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const wchar_t* path = L"standin_deviation_pending.jpg";
  HANDLE holder = CreateFileW(path, GENERIC_WRITE | DELETE, share_all, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  FILE_DISPOSITION_INFO mark = {};
  mark.DeleteFile = TRUE;
  ASSERT_TRUE(SetFileInformationByHandle(holder, FileDispositionInfo, &mark,
                                         sizeof(mark)));
  EXPECT_EQ(CreateFileW(path, GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileW(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  WIN32_FILE_ATTRIBUTE_DATA data;
  EXPECT_FALSE(GetFileAttributesExW(path, GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(holder);
  EXPECT_EQ(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace

namespace {

// Windows refuses posts beyond a queue's quota (10,000 messages by default);
// Wine takes them all. Room made by taking a message is room again.
TEST(StandinDeviations, PostedMessagesBeyondTheQueueQuotaAreRefused) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  size_t posted = 0;
  while (posted <= win32_standin::kPostedMessageQuota &&
         PostMessageW(nullptr, WM_APP, posted, 0)) {
    ++posted;
  }
  EXPECT_EQ(posted, win32_standin::kPostedMessageQuota);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.wParam, 0u);
  EXPECT_TRUE(PostMessageW(nullptr, WM_APP, 0, 0));
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace
