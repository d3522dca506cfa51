#include <windows.h>

#include "gtest/gtest.h"
#include "tests/platform/win32/window_test_support.h"

namespace {

using win32_test::Handler;
using win32_test::Log;
using win32_test::Received;
using win32_test::WindowTest;

using WindowPlacement = WindowTest;

TEST_F(WindowPlacement, ChildFillsWhatItIsMovedToAndHearsOfNewSizesOnly) {
  HWND parent = CreateTopLevel();
  HWND child = CreateChild(parent);
  Log().clear();
  ASSERT_TRUE(MoveWindow(child, 0, 0, 320, 200, TRUE));
  RECT client;
  ASSERT_TRUE(GetClientRect(child, &client));
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 200);
  std::vector<Received> sizes;
  for (const Received& r : Log()) {
    if (r.hwnd == child && r.message == WM_SIZE) sizes.push_back(r);
  }
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_EQ(LOWORD(sizes[0].lparam), 320);
  EXPECT_EQ(HIWORD(sizes[0].lparam), 200);

  Log().clear();
  ASSERT_TRUE(MoveWindow(child, 5, 5, 320, 200, TRUE));
  EXPECT_TRUE(Messages(child, {WM_SIZE}).empty());
  EXPECT_EQ(Messages(child, {WM_MOVE}), (std::vector<UINT>{WM_MOVE}));

  // The child's window rectangle sits inside the parent's client area.
  RECT parent_rect, child_rect;
  GetWindowRect(parent, &parent_rect);
  GetWindowRect(child, &child_rect);
  EXPECT_GE(child_rect.left, parent_rect.left + 5);
  EXPECT_GE(child_rect.top, parent_rect.top + 5);
  EXPECT_EQ(child_rect.right - child_rect.left, 320);
}

TEST_F(WindowPlacement, ClientAreaIsTheWindowLessItsFrame) {
  HWND hwnd = CreateTopLevel();
  RECT window_rect, client;
  GetWindowRect(hwnd, &window_rect);
  GetClientRect(hwnd, &client);
  EXPECT_EQ(window_rect.right - window_rect.left, 400);
  EXPECT_EQ(window_rect.bottom - window_rect.top, 300);
  EXPECT_EQ(client.left, 0);
  EXPECT_EQ(client.top, 0);
  EXPECT_GT(client.right, 300);
  EXPECT_LT(client.right, 400);
  EXPECT_GT(client.bottom, 200);
  EXPECT_LT(client.bottom, 300);
}

TEST_F(WindowPlacement, SizingATopLevelWindowHonoursItsMinimumTrackingSize) {
  Handler() = [](HWND, UINT message, WPARAM, LPARAM lparam) {
    if (message != WM_GETMINMAXINFO) return false;
    reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {520, 480};
    return true;
  };
  HWND hwnd = CreateTopLevel();
  ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 0, 0, 200, 100,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  RECT rect;
  GetWindowRect(hwnd, &rect);
  EXPECT_EQ(rect.right - rect.left, 520);
  EXPECT_EQ(rect.bottom - rect.top, 480);
}

TEST_F(WindowPlacement, SetWindowPosMovesExactlyWithoutActivating) {
  HWND hwnd = CreateTopLevel();
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  Log().clear();
  ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 100, 120, 700, 600,
                           SWP_NOZORDER | SWP_NOACTIVATE));
  RECT rect;
  GetWindowRect(hwnd, &rect);
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.top, 120);
  EXPECT_EQ(rect.right, 800);
  EXPECT_EQ(rect.bottom, 720);
  EXPECT_TRUE(Messages(hwnd, {WM_ACTIVATE}).empty());
}

TEST_F(WindowPlacement,
       ShowAnswersThePreviousVisibilityAndChildrenFollowTheirParent) {
  HWND parent = CreateTopLevel();
  HWND child = CreateChild(parent);
  EXPECT_FALSE(IsWindowVisible(child));  // WS_VISIBLE, but its parent is hidden
  EXPECT_FALSE(ShowWindow(parent, SW_SHOWNORMAL));
  EXPECT_TRUE(IsWindowVisible(parent));
  EXPECT_TRUE(IsWindowVisible(child));
  EXPECT_TRUE(ShowWindow(parent, SW_SHOWNORMAL));
  EXPECT_TRUE(ShowWindow(parent, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(child));
  EXPECT_EQ(Messages(parent, {WM_SHOWWINDOW}),
            (std::vector<UINT>{WM_SHOWWINDOW, WM_SHOWWINDOW}));
}

TEST_F(WindowPlacement,
       ShowingNormallyActivatesAndDefaultActivationFocusesTheWindow) {
  HWND hwnd = CreateTopLevel();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  EXPECT_EQ(GetActiveWindow(), hwnd);
  EXPECT_EQ(GetFocus(), hwnd);
  const auto activations = Messages(hwnd, {WM_ACTIVATE, WM_SETFOCUS});
  ASSERT_GE(activations.size(), 2u);
  EXPECT_EQ(activations.front(), static_cast<UINT>(WM_ACTIVATE));
}

TEST_F(WindowPlacement, FocusMovesWithKillFocusThenSetFocus) {
  HWND parent = CreateTopLevel();
  ShowWindow(parent, SW_SHOWNORMAL);
  HWND child = CreateChild(parent);
  Log().clear();
  EXPECT_EQ(SetFocus(child), parent);
  EXPECT_EQ(GetFocus(), child);
  std::vector<Received> focus;
  for (const Received& r : Log()) {
    if (r.message == WM_KILLFOCUS || r.message == WM_SETFOCUS)
      focus.push_back(r);
  }
  ASSERT_EQ(focus.size(), 2u);
  EXPECT_EQ(focus[0].hwnd, parent);
  EXPECT_EQ(focus[0].message, static_cast<UINT>(WM_KILLFOCUS));
  EXPECT_EQ(reinterpret_cast<HWND>(focus[0].wparam), child);
  EXPECT_EQ(focus[1].hwnd, child);
  EXPECT_EQ(focus[1].message, static_cast<UINT>(WM_SETFOCUS));
}

TEST_F(WindowPlacement, SetParentMovesAChildBetweenParents) {
  HWND first = CreateTopLevel();
  HWND second = CreateTopLevel();
  HWND child = CreateChild(first);
  EXPECT_EQ(SetParent(child, second), first);
  EXPECT_EQ(GetParent(child), second);
  // Destroying the new parent takes the child with it.
  DestroyWindow(second);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_TRUE(IsWindow(first));
}

TEST_F(WindowPlacement,
       InvalidatedVisibleWindowIsPaintedOnceWhenTheQueueIsIdle) {
  HWND hwnd = CreateTopLevel();
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  UpdateWindow(hwnd);
  Log().clear();
  InvalidateRect(hwnd, nullptr, FALSE);
  PostMessageW(hwnd, WM_APP + 4, 0, 0);
  PostQuitMessage(0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
  // The posted message comes first; the quit message ends the loop before the
  // low-priority paint.
  EXPECT_EQ(Messages(hwnd, {WM_APP + 4, WM_PAINT}),
            (std::vector<UINT>{WM_APP + 4}));
  EXPECT_TRUE(PeekMessageW(&msg, hwnd, WM_PAINT, WM_PAINT, PM_REMOVE));
  DispatchMessageW(&msg);
  EXPECT_FALSE(PeekMessageW(&msg, hwnd, WM_PAINT, WM_PAINT, PM_REMOVE));
}

}  // namespace
