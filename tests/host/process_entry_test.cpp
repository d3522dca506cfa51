// The process entry: argument conversion, the main window's placement, and
// wWinMain run in this process from start to exit code.

#include "host/process_entry.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "platform/engine/engine_control.h"
#include "tests/host/host_test_util.h"

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int);

namespace snapferry {
namespace {

TEST(ArgumentToUtf8Test, ConvertsValidTextIncludingPairsOutsideTheBmp) {
  EXPECT_EQ(ArgumentToUtf8(L"--script"), "--script");
  EXPECT_EQ(ArgumentToUtf8(L""), "");
  // U+00E9, U+20AC, and U+1F4F7 written as its surrogate pair.
  const wchar_t text[] = {0x00E9, 0x20AC, 0xD83D, 0xDCF7, 0};
  EXPECT_EQ(ArgumentToUtf8(text), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xB7");
}

TEST(ArgumentToUtf8Test, NullAndUnpairedSurrogatesGiveEmptyText) {
  EXPECT_EQ(ArgumentToUtf8(nullptr), "");
  const wchar_t lone_high[] = {L'a', 0xD83D, L'b', 0};
  EXPECT_EQ(ArgumentToUtf8(lone_high), "");
  const wchar_t lone_low_at_end[] = {L'a', 0xDCF7, 0};
  EXPECT_EQ(ArgumentToUtf8(lone_low_at_end), "");
}

TEST(ArgumentToUtf8Test, ArgumentsAreCutToTheirFirst32767Units) {
  std::wstring long_argument(40000, L'x');
  EXPECT_EQ(ArgumentToUtf8(long_argument.c_str()), std::string(32767, 'x'));
}

struct PlacementCase {
  RECT work_area;
  UINT dpi;
  WindowPoint origin;
};

class CenteredOriginTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(CenteredOriginTest, CentresWhereTheWindowFitsElseKeepsTheEdge) {
  const PlacementCase& c = GetParam();
  const WindowPoint origin = CenteredOrigin(c.work_area, c.dpi, {640, 640});
  EXPECT_EQ(origin.x, c.origin.x);
  EXPECT_EQ(origin.y, c.origin.y);
}

INSTANTIATE_TEST_SUITE_P(
    WorkAreas, CenteredOriginTest,
    ::testing::Values(
        PlacementCase{{0, 0, 1920, 1040}, 96, {640, 200}},
        // 150 %: logical 1920 by 1120.
        PlacementCase{{0, 0, 2880, 1680}, 144, {640, 240}},
        // Exactly 640 wide: no centring on that axis.
        PlacementCase{{0, 0, 640, 1040}, 96, {0, 200}},
        // Narrower than the window, at 150 %: left / scale.
        PlacementCase{{150, 30, 900, 930}, 144, {100, 20}},
        // A taskbar on the left moves the area's origin.
        PlacementCase{{62, 0, 1920, 1080}, 96, {62 + 609, 220}},
        // 125 %: 1536 wide (truncated from 1536.0), 816 high (816.8).
        PlacementCase{{0, 0, 1920, 1021}, 120, {448, 88}}));

class WinMainTest : public host_test::HostTest {};

TEST_F(WinMainTest, ExitsWithOneAndNoLoopWhenTheViewCannotBeCreated) {
  engine_control::FailViewControllerCreation(true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(wWinMain(nullptr, nullptr, nullptr, 0), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to create view controller.\n");
  EXPECT_EQ(engine_control::LiveEngineCount(), 0);
  // COM was left as it was joined: this thread is still in the
  // single-threaded apartment.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

TEST_F(WinMainTest, RunsTheCentredWindowUntilItClosesAndExitsWithZero) {
  HWND shown = nullptr;
  RECT shown_rect = {};
  // The engine sees the window's messages: when the window is shown, note
  // where it is and close it, as a person would.
  engine_control::SetTopLevelWindowProcHook(
      [&](HWND hwnd, UINT message, WPARAM wparam,
          LPARAM) -> std::optional<LRESULT> {
        if (message == WM_SHOWWINDOW && wparam && shown == nullptr) {
          shown = hwnd;
          GetWindowRect(hwnd, &shown_rect);
          PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }
        return std::nullopt;
      });

  EXPECT_EQ(wWinMain(nullptr, nullptr, nullptr, 0), 0);

  ASSERT_NE(shown, nullptr);
  EXPECT_FALSE(IsWindow(shown));
  EXPECT_EQ(engine_control::LiveEngineCount(), 0);
  const WindowPoint origin = MainWindowOrigin();
  const double scale = GetDpiForSystem() / 96.0;
  EXPECT_EQ(shown_rect.left, static_cast<LONG>(origin.x * scale));
  EXPECT_EQ(shown_rect.top, static_cast<LONG>(origin.y * scale));
  EXPECT_EQ(shown_rect.right - shown_rect.left, static_cast<LONG>(640 * scale));

  auto properties = engine_control::LastProperties();
  ASSERT_TRUE(properties.has_value());
  EXPECT_EQ(properties->assets_path, L"data\\flutter_assets");
  EXPECT_EQ(properties->icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(properties->aot_library_path, L"data\\app.so");
  EXPECT_EQ(properties->arguments, CommandLineArguments());

  // COM was left again after the loop.
  const HRESULT fresh = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(fresh, S_OK);
  CoUninitialize();
}

// A thread already in the multithreaded apartment cannot join a
// single-threaded one: the entry runs without its own join, and must not
// leave the apartment it never joined.
TEST_F(WinMainTest, LeavesComAloneWhenItsOwnJoinFailed) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  engine_control::SetTopLevelWindowProcHook(
      [](HWND hwnd, UINT message, WPARAM wparam,
         LPARAM) -> std::optional<LRESULT> {
        if (message == WM_SHOWWINDOW && wparam) {
          PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }
        return std::nullopt;
      });

  EXPECT_EQ(wWinMain(nullptr, nullptr, nullptr, 0), 0);
  engine_control::SetTopLevelWindowProcHook(nullptr);

  // Still in the multithreaded apartment this test joined.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(again, S_FALSE);
  if (again == S_FALSE) CoUninitialize();
  if (SUCCEEDED(again)) CoUninitialize();
}

}  // namespace
}  // namespace snapferry
