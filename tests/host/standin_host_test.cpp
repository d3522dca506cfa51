// The host over the Linux stand-in, whose control surface sets what Wine
// cannot: monitor DPI, work areas, the theme in the registry, the console
// and debugger, the command line, and failing window creation.

#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/flutter_window.h"
#include "host/process_entry.h"
#include "host/win32_window.h"
#include "messaging/engine_project.h"
#include "platform/engine/engine_control.h"
#include "tests/host/host_test_util.h"
#include "win32_standin/control.h"

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int);

namespace snapferry {
namespace {

constexpr wchar_t kPersonalize[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr DWORD kDarkModeAttribute = 20;

class StandinHostTest : public host_test::HostTest {
 protected:
  void SetUp() override {
    win32_standin::Reset();
    host_test::HostTest::SetUp();
  }
  void TearDown() override {
    host_test::HostTest::TearDown();
    win32_standin::Reset();
  }

  void OneMonitorAt(UINT dpi) {
    win32_standin::SetMonitors({{{0, 0, 3840, 2160}, {0, 0, 3840, 2120}, dpi}});
    win32_standin::SetSystemDpi(dpi);
  }
};

// ---- title bar theme -------------------------------------------------------

// What the window's dark-mode attribute was last set to: -1 when never.
int DarkMode(HWND hwnd) {
  std::vector<BYTE> value;
  if (!win32_standin::DwmAttribute(hwnd, kDarkModeAttribute, &value)) return -1;
  if (value.size() != sizeof(BOOL)) return -2;
  BOOL flag = FALSE;
  std::memcpy(&flag, value.data(), sizeof(flag));
  return flag ? 1 : 0;
}

TEST_F(StandinHostTest, TitleBarFollowsTheAppThemeAndIsLeftAloneWithoutOne) {
  {
    win32_standin::SetRegistryDword(HKEY_CURRENT_USER, kPersonalize,
                                    L"AppsUseLightTheme", 1);
    Win32Window light;
    ASSERT_TRUE(light.Create(L"Light", {10, 10}, {100, 100}));
    EXPECT_EQ(DarkMode(light.Handle()), 0);
  }
  {
    win32_standin::SetRegistryDword(HKEY_CURRENT_USER, kPersonalize,
                                    L"AppsUseLightTheme", 0);
    Win32Window dark;
    ASSERT_TRUE(dark.Create(L"Dark", {10, 10}, {100, 100}));
    EXPECT_EQ(DarkMode(dark.Handle()), 1);
  }
  win32_standin::Reset();
  Win32Window missing;
  ASSERT_TRUE(missing.Create(L"Missing", {10, 10}, {100, 100}));
  EXPECT_EQ(DarkMode(missing.Handle()), -1);
}

TEST_F(StandinHostTest, ThemeOfAnotherTypeIsIgnoredAndAChangeIsFollowed) {
  win32_standin::SetRegistryString(HKEY_CURRENT_USER, kPersonalize,
                                   L"AppsUseLightTheme", L"0");
  Win32Window window;
  ASSERT_TRUE(window.Create(L"Theme", {10, 10}, {100, 100}));
  EXPECT_EQ(DarkMode(window.Handle()), -1);

  win32_standin::SetRegistryDword(HKEY_CURRENT_USER, kPersonalize,
                                  L"AppsUseLightTheme", 0);
  EXPECT_EQ(SendMessageW(window.Handle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0),
            0);
  EXPECT_EQ(DarkMode(window.Handle()), 1);
}

// ---- creation
// ----------------------------------------------------------------

TEST_F(StandinHostTest, CreationFailureSkipsThemeAndOnCreated) {
  win32_standin::SetRegistryDword(HKEY_CURRENT_USER, kPersonalize,
                                  L"AppsUseLightTheme", 0);
  win32_standin::FailCreateWindowExW(ERROR_NOT_ENOUGH_MEMORY, 1);
  FlutterWindow window(flutter::EngineProject(L"data"));
  EXPECT_FALSE(window.Create(L"Failing", {10, 10}, {100, 100}));
  EXPECT_EQ(window.Handle(), nullptr);
  EXPECT_EQ(engine_control::GetCounts().engine_create_calls, 0);
}

TEST_F(StandinHostTest, NonClientDpiScalingIsTurnedOnWhereTheSystemHasIt) {
  Win32Window scaled;
  ASSERT_TRUE(scaled.Create(L"Scaled", {10, 10}, {100, 100}));
  EXPECT_TRUE(
      win32_standin::DescribeWindow(scaled.Handle()).non_client_dpi_scaling);

  win32_standin::SetNonClientDpiScalingAvailable(false);
  Win32Window plain;
  ASSERT_TRUE(plain.Create(L"Plain", {10, 10}, {100, 100}));
  EXPECT_FALSE(
      win32_standin::DescribeWindow(plain.Handle()).non_client_dpi_scaling);
}

TEST_F(StandinHostTest, WindowIsOverlappedHiddenAndTitled) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {100, 100}));
  const auto snapshot = win32_standin::DescribeWindow(window.Handle());
  EXPECT_EQ(snapshot.style & ~WS_VISIBLE,
            static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
  EXPECT_FALSE(snapshot.visible);
  EXPECT_EQ(snapshot.title, L"Snapferry");
  EXPECT_EQ(snapshot.class_name, kWindowClassName);
}

// A window taller than the screen is cut to the largest tracking size, the
// screen's height with the frame; its origin and width stay.
TEST_F(StandinHostTest, WindowTallerThanTheScreenIsCutToTheMaximumTrackSize) {
  win32_standin::SetMonitors({{{0, 0, 1024, 768}, {0, 0, 1024, 728}, 96}});
  engine_control::SetMonitorDpi(144);
  Win32Window window;
  ASSERT_TRUE(window.Create(L"Tall", {640, 200}, {640, 640}));
  RECT rect = {};
  GetWindowRect(window.Handle(), &rect);
  EXPECT_EQ(rect.left, 960);
  EXPECT_EQ(rect.top, 300);
  EXPECT_EQ(rect.right, 960 + 960);
  EXPECT_EQ(rect.bottom, 300 + 768 + 16);
}

// ---- minimum size
// -------------------------------------------------------------

class MinimumSizeTest
    : public StandinHostTest,
      public ::testing::WithParamInterface<std::tuple<UINT, LONG, LONG>> {};

TEST_P(MinimumSizeTest, MinimumTrackingSizeScalesWithTheWindowDpi) {
  const auto [dpi, width, height] = GetParam();
  OneMonitorAt(dpi);
  FlutterWindow window(flutter::EngineProject(L"data"));
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  ASSERT_EQ(GetDpiForWindow(window.Handle()), dpi);
  MINMAXINFO info = {};
  EXPECT_EQ(SendMessageW(window.Handle(), WM_GETMINMAXINFO, 0,
                         reinterpret_cast<LPARAM>(&info)),
            0);
  EXPECT_EQ(info.ptMinTrackSize.x, width);
  EXPECT_EQ(info.ptMinTrackSize.y, height);
}

INSTANTIATE_TEST_SUITE_P(Dpi, MinimumSizeTest,
                         ::testing::Values(std::make_tuple(96u, 520, 480),
                                           std::make_tuple(120u, 650, 600),
                                           std::make_tuple(144u, 780, 720)));

// ---- console ---------------------------------------------------------------

TEST_F(StandinHostTest, StartedFromAConsoleAttachesAndOpensNone) {
  win32_standin::SetParentConsole(true);
  win32_standin::SetDebuggerPresent(true);
  AttachOrOpenConsole();
  EXPECT_TRUE(win32_standin::ConsoleAttached());
  EXPECT_FALSE(win32_standin::ConsoleAllocated());
  EXPECT_EQ(engine_control::GetCounts().output_resyncs, 0);
}

TEST_F(StandinHostTest, WithoutConsoleOrDebuggerNothingIsOpened) {
  win32_standin::SetParentConsole(false);
  AttachOrOpenConsole();
  EXPECT_FALSE(win32_standin::ConsoleAttached());
  EXPECT_FALSE(win32_standin::ConsoleAllocated());
  EXPECT_EQ(engine_control::GetCounts().output_resyncs, 0);
}

TEST_F(StandinHostTest, UnderADebuggerWithoutConsoleANewOneGetsTheStreams) {
  win32_standin::SetParentConsole(false);
  win32_standin::SetDebuggerPresent(true);
  AttachOrOpenConsole();
  EXPECT_TRUE(win32_standin::ConsoleAllocated());
  EXPECT_EQ(engine_control::GetCounts().output_resyncs, 1);
  // The streams were reopened on the console and still write.
  EXPECT_GE(std::fputs("", stdout), 0);
  EXPECT_EQ(std::fflush(stdout), 0);
}

TEST_F(StandinHostTest, ConsoleThatCannotBeAllocatedIsSilentlyDoneWithout) {
  win32_standin::SetDebuggerPresent(true);
  win32_standin::SetConsoleAllocationFails(true);
  OpenDebugConsole();
  EXPECT_FALSE(win32_standin::ConsoleAllocated());
  EXPECT_EQ(engine_control::GetCounts().output_resyncs, 0);
}

// ---- command line ----------------------------------------------------------

TEST_F(StandinHostTest, CommandLineArgumentsSkipTheProgramAndKeepTheirOrder) {
  win32_standin::SetCommandLine(
      L"\"C:\\Program Files\\snapferry.exe\" --a \"b c\"");
  EXPECT_EQ(CommandLineArguments(), (std::vector<std::string>{"--a", "b c"}));
  win32_standin::SetCommandLine(L"snapferry.exe");
  EXPECT_EQ(CommandLineArguments(), std::vector<std::string>{});
}

TEST_F(StandinHostTest, ArgumentWithAnUnpairedSurrogateBecomesEmptyInPlace) {
  std::wstring line = L"snapferry.exe first ";
  line.push_back(static_cast<wchar_t>(0xD800));
  line += L"x last";
  win32_standin::SetCommandLine(line);
  EXPECT_EQ(CommandLineArguments(),
            (std::vector<std::string>{"first", "", "last"}));
}

// ---- whole entry -----------------------------------------------------------

TEST_F(StandinHostTest, EntryExitsWithOneWithoutALoopWhenTheWindowFails) {
  win32_standin::FailCreateWindowExW(ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(wWinMain(nullptr, nullptr, nullptr, 0), 1);
  int code = -1;
  EXPECT_FALSE(win32_standin::QuitPosted(&code));
  EXPECT_EQ(engine_control::GetCounts().engine_create_calls, 0);
  CoUninitialize();  // the entry leaves COM joined on this path
}

// A loop that ends while the window is still open: the window, its engine and
// their COM objects must still be gone before the apartment is left, and a
// GetMessageW that fails must end the loop rather than spin.
struct OpenWindowEnd {
  const char* name;
  bool get_message_fails;
  int exit_code;
};

class EntryEndTest : public StandinHostTest,
                     public ::testing::WithParamInterface<OpenWindowEnd> {};

TEST_P(EntryEndTest, LeavesTheApartmentOnceAfterTheWindowIsGone) {
  struct Seen {
    win32_standin::ApartmentState apartment;
    int native_windows;
    int window_objects;
    int engines;
  };
  std::vector<Seen> seen;
  const DWORD main_thread = GetCurrentThreadId();
  win32_standin::SetCoUninitializeObserver(
      [&](win32_standin::ApartmentState apartment) {
        if (GetCurrentThreadId() != main_thread) return;
        seen.push_back({apartment, win32_standin::LiveWindowCount(),
                        Win32Window::LiveWindowCount(),
                        engine_control::LiveEngineCount()});
      });
  bool ended = false;
  engine_control::SetTopLevelWindowProcHook(
      [&](HWND hwnd, UINT message, WPARAM wparam,
          LPARAM) -> std::optional<LRESULT> {
        if (message == WM_SHOWWINDOW && wparam && !ended) {
          ended = true;
          if (GetParam().get_message_fails) {
            // Bounded, and a close behind it: a loop that spins on the
            // failures still ends, with the wrong exit code.
            win32_standin::FailGetMessageW(ERROR_INVALID_PARAMETER, 100);
            PostMessageW(hwnd, WM_CLOSE, 0, 0);
          } else {
            PostQuitMessage(0);
          }
        }
        return std::nullopt;
      });

  EXPECT_EQ(wWinMain(nullptr, nullptr, nullptr, 0), GetParam().exit_code);
  win32_standin::SetCoUninitializeObserver(nullptr);
  engine_control::SetTopLevelWindowProcHook(nullptr);
  win32_standin::FailGetMessageW(ERROR_SUCCESS, 0);
  MSG quit;
  while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }

  ASSERT_TRUE(ended);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].apartment.model,
            win32_standin::ApartmentModel::kSingleThreaded);
  EXPECT_EQ(seen[0].apartment.depth, 1);
  EXPECT_EQ(seen[0].native_windows, 0);
  EXPECT_EQ(seen[0].window_objects, 0);
  EXPECT_EQ(seen[0].engines, 0);
  EXPECT_EQ(win32_standin::CurrentApartment().depth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, EntryEndTest,
    ::testing::Values(OpenWindowEnd{"QuitMessage", false, 0},
                      OpenWindowEnd{"GetMessageFails", true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- placement -------------------------------------------------------------

struct WorkAreaCase {
  UINT dpi;
  RECT work_area;
  bool query_fails;
  WindowPoint origin;
};

class PlacementTest : public StandinHostTest,
                      public ::testing::WithParamInterface<WorkAreaCase> {};

TEST_P(PlacementTest, MainWindowOriginCentresInTheGivenWorkArea) {
  const WorkAreaCase& c = GetParam();
  win32_standin::SetSystemDpi(c.dpi);
  win32_standin::SetWorkArea(c.work_area);
  win32_standin::SetWorkAreaQueryFails(c.query_fails);
  const WindowPoint origin = MainWindowOrigin();
  EXPECT_EQ(origin.x, c.origin.x);
  EXPECT_EQ(origin.y, c.origin.y);
}

INSTANTIATE_TEST_SUITE_P(
    WorkAreas, PlacementTest,
    ::testing::Values(WorkAreaCase{96, {0, 0, 1920, 1040}, false, {640, 200}},
                      WorkAreaCase{144, {0, 0, 2880, 1680}, false, {640, 240}},
                      WorkAreaCase{96, {0, 0, 600, 1040}, false, {0, 200}},
                      // The 1280 by 720 default when the query fails.
                      WorkAreaCase{96, {0, 0, 1920, 1040}, true, {320, 40}}));

}  // namespace
}  // namespace snapferry
