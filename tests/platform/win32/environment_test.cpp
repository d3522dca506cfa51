#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

TEST(MulDiv, RoundsHalfAwayFromZeroAndRefusesZeroAndOverflow) {
  EXPECT_EQ(MulDiv(520, 120, 96), 650);
  EXPECT_EQ(MulDiv(480, 144, 96), 720);
  EXPECT_EQ(MulDiv(5, 1, 2), 3);
  EXPECT_EQ(MulDiv(-5, 1, 2), -3);
  EXPECT_EQ(MulDiv(5, -1, 2), -3);
  EXPECT_EQ(MulDiv(7, 1, 3), 2);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 1), -1);
}

std::vector<std::wstring> Split(const wchar_t* line) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(line, &count);
  std::vector<std::wstring> out;
  if (arguments == nullptr) return out;
  for (int i = 0; i < count; ++i) out.push_back(arguments[i]);
  EXPECT_EQ(LocalFree(arguments), nullptr);
  return out;
}

TEST(CommandLineToArgv, FollowsWindowsQuotingRules) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(Split(L"app.exe one two"), (V{L"app.exe", L"one", L"two"}));
  EXPECT_EQ(Split(L"\"C:\\Program Files\\app.exe\" \"a b\"  c"),
            (V{L"C:\\Program Files\\app.exe", L"a b", L"c"}));
  EXPECT_EQ(Split(L"app a\\\\b \\\"q\\\" \"x\\\\\" y"),
            (V{L"app", L"a\\\\b", L"\"q\"", L"x\\", L"y"}));
  EXPECT_EQ(Split(L"app \"\""), (V{L"app", L""}));
  EXPECT_EQ(Split(L"app.exe"), (V{L"app.exe"}));
  EXPECT_EQ(Split(L"app \"a\"\"b\""), (V{L"app", L"a\"b"}));
}

TEST(Registry, MissingValueIsFileNotFound) {
  DWORD value = 0;
  DWORD size = sizeof value;
  EXPECT_EQ(
      RegGetValueW(HKEY_CURRENT_USER, L"Software\\Snapferry\\NoSuchKey",
                   L"NoSuchValue", RRF_RT_REG_DWORD, nullptr, &value, &size),
      ERROR_FILE_NOT_FOUND);
}

TEST(Modules, ExecutableAndUser32AreThere) {
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  HMODULE user32 = LoadLibraryA("User32.dll");
  ASSERT_NE(user32, nullptr);
  EXPECT_NE(GetProcAddress(user32, "EnableNonClientDpiScaling"), nullptr);
  EXPECT_EQ(GetProcAddress(user32, "NoSuchFunctionAnywhere"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(user32));
  EXPECT_NE(LoadCursorW(nullptr, IDC_ARROW), nullptr);
}

TEST(Monitors, WorkAreaAndDpiAreSensible) {
  RECT work = {0, 0, 1280, 720};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_GT(work.right - work.left, 0);
  EXPECT_GT(work.bottom - work.top, 0);
  EXPECT_GE(GetDpiForSystem(), 96u);
  EXPECT_NE(
      MonitorFromPoint(POINT{work.left, work.top}, MONITOR_DEFAULTTONEAREST),
      nullptr);
  EXPECT_NE(MonitorFromPoint(POINT{-100000, -100000}, MONITOR_DEFAULTTONEAREST),
            nullptr);
  EXPECT_EQ(MonitorFromPoint(POINT{-100000, -100000}, MONITOR_DEFAULTTONULL),
            nullptr);
}

}  // namespace
