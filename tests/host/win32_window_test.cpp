// The top-level window on the platform: scaling, message routing, the hosted
// child, the quit message and the window class's lifetime.

#include "host/win32_window.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/engine/engine_control.h"
#include "tests/host/host_test_util.h"

namespace snapferry {
namespace {

class TestWindow : public Win32Window {
 public:
  bool on_created_result = true;
  int on_created_calls = 0;
  int on_destroyed_calls = 0;

 protected:
  bool OnCreated() override {
    ++on_created_calls;
    return on_created_result;
  }
  void OnDestroyed() override { ++on_destroyed_calls; }
};

RECT WindowRect(HWND hwnd) {
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  return rect;
}

// Registering the class again fails exactly while it is registered.
bool ClassRegistered() {
  WNDCLASSW probe = {};
  probe.lpfnWndProc = DefWindowProcW;
  probe.hInstance = GetModuleHandleW(nullptr);
  probe.lpszClassName = kWindowClassName;
  if (RegisterClassW(&probe) == 0) return true;
  UnregisterClassW(kWindowClassName, GetModuleHandleW(nullptr));
  return false;
}

// A plain child window class of the test's own.
HWND MakeChild() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW child_class = {};
    child_class.lpfnWndProc = DefWindowProcW;
    child_class.hInstance = GetModuleHandleW(nullptr);
    child_class.lpszClassName = L"HostTestChild";
    RegisterClassW(&child_class);
    registered = true;
  }
  // Parked under a hidden window until embedded, as the engine's view is.
  static HWND parking =
      CreateWindowExW(0, L"HostTestChild", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                      nullptr, GetModuleHandleW(nullptr), nullptr);
  return CreateWindowExW(0, L"HostTestChild", L"", WS_CHILD | WS_VISIBLE, 0, 0,
                         10, 10, parking, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

using Win32WindowTest = host_test::HostTest;

struct ScaleCase {
  UINT dpi;
  RECT expected;
};

class Win32WindowScaleTest : public ::testing::TestWithParam<ScaleCase> {
 protected:
  void SetUp() override { engine_control::Reset(); }
  void TearDown() override { engine_control::Reset(); }
};

// The system holds a new top-level window to its largest tracking size (the
// screen with the frame around it): on a screen smaller than the window the
// size is cut there and the origin kept.
TEST_P(Win32WindowScaleTest, CreatesHiddenAtOriginAndSizeScaledToMonitorDpi) {
  engine_control::SetMonitorDpi(GetParam().dpi);
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Scaled", {640, 200}, {640, 640}));
  ASSERT_NE(window.Handle(), nullptr);
  const RECT& scaled = GetParam().expected;
  const LONG width = std::min<LONG>(scaled.right - scaled.left,
                                    GetSystemMetrics(SM_CXMAXTRACK));
  const LONG height = std::min<LONG>(scaled.bottom - scaled.top,
                                     GetSystemMetrics(SM_CYMAXTRACK));
  const RECT rect = WindowRect(window.Handle());
  EXPECT_EQ(rect.left, scaled.left);
  EXPECT_EQ(rect.top, scaled.top);
  EXPECT_EQ(rect.right, scaled.left + width);
  EXPECT_EQ(rect.bottom, scaled.top + height);
  EXPECT_FALSE(IsWindowVisible(window.Handle()));
  EXPECT_EQ(window.on_created_calls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Dpi, Win32WindowScaleTest,
    ::testing::Values(ScaleCase{96, {640, 200, 1280, 840}},
                      ScaleCase{120, {800, 250, 1600, 1050}},
                      // 150 %: every product is exact.
                      ScaleCase{144, {960, 300, 1920, 1260}}));

// At 175 %, 333 logical pixels are 582.75 physical ones.
TEST_F(Win32WindowTest, ScaledProductsAreTruncatedTowardZero) {
  engine_control::SetMonitorDpi(168);
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Truncated", {640, 200}, {333, 333}));
  const RECT rect = WindowRect(window.Handle());
  EXPECT_EQ(rect.right - rect.left, 582);
  EXPECT_EQ(rect.bottom - rect.top, 582);
}

TEST_F(Win32WindowTest, CreateAnswersWhatOnCreatedAnswers) {
  TestWindow window;
  window.on_created_result = false;
  EXPECT_FALSE(window.Create(L"Refused", {10, 10}, {100, 100}));
  EXPECT_EQ(window.on_created_calls, 1);
}

TEST_F(Win32WindowTest, SecondCreateReplacesTheFirstWindow) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"First", {10, 10}, {100, 100}));
  HWND first = window.Handle();
  const int destroyed_before = window.on_destroyed_calls;
  ASSERT_TRUE(window.Create(L"Second", {20, 20}, {100, 100}));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(IsWindow(window.Handle()));
  EXPECT_NE(window.Handle(), first);
  EXPECT_GT(window.on_destroyed_calls, destroyed_before);
}

TEST_F(Win32WindowTest, DestroyingTheWindowPostsQuitWithCodeZeroOnlyWhenAsked) {
  MSG stale;
  while (PeekMessageW(&stale, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  {
    TestWindow window;
    ASSERT_TRUE(window.Create(L"Quiet", {10, 10}, {100, 100}));
    const int destroyed_before = window.on_destroyed_calls;
    DestroyWindow(window.Handle());
    EXPECT_EQ(window.Handle(), nullptr);
    EXPECT_EQ(window.on_destroyed_calls, destroyed_before + 1);
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  }
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Quitting", {10, 10}, {100, 100}));
  window.SetQuitWhenDestroyed(true);
  DestroyWindow(window.Handle());
  EXPECT_EQ(window.Handle(), nullptr);
  MSG quit;
  ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(Win32WindowTest, EmbeddedChildFillsTheClientAreaAndFollowsResizes) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Host", {10, 10}, {300, 200}));
  HWND child = MakeChild();
  ASSERT_NE(child, nullptr);
  window.EmbedChild(child);
  EXPECT_EQ(GetParent(child), window.Handle());

  auto expect_child_fills_client = [&] {
    RECT client = window.ClientArea();
    RECT child_rect = {};
    GetClientRect(child, &child_rect);
    EXPECT_EQ(child_rect.right - child_rect.left, client.right - client.left);
    EXPECT_EQ(child_rect.bottom - child_rect.top, client.bottom - client.top);
    EXPECT_GT(client.right - client.left, 0);
  };
  expect_child_fills_client();

  SetWindowPos(window.Handle(), nullptr, 0, 0, 500, 400,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  expect_child_fills_client();
  RECT client = window.ClientArea();
  EXPECT_GT(client.right - client.left, 300);
}

TEST_F(Win32WindowTest, DpiChangeMovesTheWindowToExactlyTheSuggestedRectangle) {
  TestWindow window;
  ASSERT_TRUE(window.Create(L"Moving", {10, 10}, {300, 200}));
  RECT suggested = {123, 45, 123 + 456, 45 + 321};
  EXPECT_EQ(SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(120, 120),
                         reinterpret_cast<LPARAM>(&suggested)),
            0);
  const RECT rect = WindowRect(window.Handle());
  EXPECT_EQ(rect.left, 123);
  EXPECT_EQ(rect.top, 45);
  EXPECT_EQ(rect.right, 123 + 456);
  EXPECT_EQ(rect.bottom, 45 + 321);
  EXPECT_FALSE(IsWindowVisible(window.Handle()));
}

TEST_F(Win32WindowTest, ClassGoesWithTheLastWindowAndReturnsWithTheNextCreate) {
  ASSERT_EQ(Win32Window::LiveWindowCount(), 0);
  {
    TestWindow first;
    ASSERT_TRUE(first.Create(L"One", {10, 10}, {100, 100}));
    EXPECT_TRUE(ClassRegistered());
    {
      TestWindow second;
      ASSERT_TRUE(second.Create(L"Two", {10, 10}, {100, 100}));
      EXPECT_EQ(Win32Window::LiveWindowCount(), 2);
    }
    // Another window object still exists: the class stays.
    EXPECT_TRUE(ClassRegistered());
    EXPECT_TRUE(IsWindow(first.Handle()));
  }
  EXPECT_EQ(Win32Window::LiveWindowCount(), 0);
  EXPECT_FALSE(ClassRegistered());

  TestWindow again;
  EXPECT_TRUE(again.Create(L"Again", {10, 10}, {100, 100}));
  EXPECT_TRUE(ClassRegistered());
}

}  // namespace
}  // namespace snapferry
