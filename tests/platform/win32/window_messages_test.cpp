#include <windows.h>

#include <atomic>
#include <thread>

#include "gtest/gtest.h"
#include "tests/platform/win32/window_test_support.h"

namespace {

using win32_test::Handler;
using win32_test::Log;
using win32_test::Received;
using win32_test::WindowTest;

using WindowMessages = WindowTest;

constexpr UINT kReplyReady = WM_APP + 0x42;

TEST_F(WindowMessages, CreationSendsNcCreateWithTheParameterBeforeCreate) {
  int marker = 0;
  void* seen_in_nc_create = nullptr;
  void* seen_in_create = nullptr;
  Handler() = [&](HWND, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      seen_in_nc_create =
          reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams;
    } else if (message == WM_CREATE) {
      seen_in_create = reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams;
    }
    return false;
  };
  HWND hwnd = CreateTopLevel(&marker);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(seen_in_nc_create, &marker);
  EXPECT_EQ(seen_in_create, &marker);
  // Only WM_GETMINMAXINFO may come before WM_NCCREATE.
  ASSERT_FALSE(Log().empty());
  size_t first = 0;
  while (first < Log().size() && Log()[first].message == WM_GETMINMAXINFO)
    ++first;
  ASSERT_LT(first, Log().size());
  EXPECT_EQ(Log()[first].message, static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(Messages(hwnd, {WM_NCCREATE, WM_CREATE}),
            (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  EXPECT_FALSE(IsWindowVisible(hwnd));
}

TEST_F(WindowMessages,
       DestroyingAParentDestroysParentFirstAndFreesChildrenFirst) {
  HWND parent = CreateTopLevel();
  HWND child = CreateChild(parent);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(GetParent(child), parent);
  Log().clear();
  ASSERT_TRUE(DestroyWindow(parent));
  std::vector<std::pair<HWND, UINT>> order;
  for (const Received& r : Log()) {
    if (r.message == WM_DESTROY || r.message == WM_NCDESTROY)
      order.push_back({r.hwnd, r.message});
  }
  const std::vector<std::pair<HWND, UINT>> expected = {{parent, WM_DESTROY},
                                                       {child, WM_DESTROY},
                                                       {child, WM_NCDESTROY},
                                                       {parent, WM_NCDESTROY}};
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(child));
}

TEST_F(WindowMessages, CloseIsADestroyByDefault) {
  HWND hwnd = CreateTopLevel();
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(Messages(hwnd, {WM_CLOSE, WM_DESTROY, WM_NCDESTROY}),
            (std::vector<UINT>{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
}

// The path every device reply takes: a worker posts to the window, the loop
// on the window's thread receives it, and the quit code ends the loop.
TEST_F(WindowMessages, MessagePostedFromAWorkerReachesTheLoopAndQuitEndsIt) {
  std::atomic<DWORD> handling_thread{0};
  Handler() = [&](HWND hwnd, UINT message, WPARAM wparam, LPARAM) {
    if (message == kReplyReady) {
      handling_thread = GetCurrentThreadId();
      EXPECT_EQ(wparam, 7u);
      DestroyWindow(hwnd);
      return true;
    }
    if (message == WM_DESTROY) PostQuitMessage(3);
    return false;
  };
  HWND hwnd = CreateTopLevel();
  ASSERT_NE(hwnd, nullptr);
  BOOL posted = FALSE;
  std::thread worker([&] { posted = PostMessageW(hwnd, kReplyReady, 7, 0); });
  worker.join();
  EXPECT_TRUE(posted);

  MSG msg;
  BOOL result;
  int loops = 0;
  while ((result = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    ASSERT_NE(result, -1);
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    ASSERT_LT(++loops, 1000);
  }
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(handling_thread.load(), GetCurrentThreadId());
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessageW(hwnd, kReplyReady, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(WindowMessages, QuitComesAfterEveryMessagePostedBeforeAndAfterIt) {
  HWND hwnd = CreateTopLevel();
  PostMessageW(hwnd, WM_APP + 1, 0, 0);
  PostQuitMessage(5);
  PostMessageW(hwnd, WM_APP + 2, 0, 0);
  std::vector<UINT> seen;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message >= WM_APP) seen.push_back(msg.message);
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(seen, (std::vector<UINT>{WM_APP + 1, WM_APP + 2}));
  EXPECT_EQ(msg.wParam, 5u);
}

TEST_F(WindowMessages, ManyWorkersPostingLoseNothingAndKeepEachWorkersOrder) {
  HWND hwnd = CreateTopLevel();
  constexpr int kWorkers = 4;
  constexpr int kEach = 200;
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([hwnd, w] {
      for (int i = 0; i < kEach; ++i) PostMessageW(hwnd, kReplyReady, w, i);
    });
  }
  for (auto& worker : workers) worker.join();
  PostQuitMessage(0);
  std::vector<int> next(kWorkers, 0);
  int total = 0;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message != kReplyReady) continue;
    const int w = static_cast<int>(msg.wParam);
    EXPECT_EQ(msg.lParam, next[w]);
    next[w] = static_cast<int>(msg.lParam) + 1;
    ++total;
  }
  EXPECT_EQ(total, kWorkers * kEach);
}

TEST_F(WindowMessages, SendFromAnotherThreadRunsOnTheWindowsThread) {
  std::atomic<DWORD> ran_on{0};
  Handler() = [&](HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_APP + 9) ran_on = GetCurrentThreadId();
    return false;
  };
  HWND hwnd = CreateTopLevel();
  std::thread sender([&] {
    SendMessageW(hwnd, WM_APP + 9, 0, 0);
    PostMessageW(hwnd, WM_APP + 10, 0, 0);
  });
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    DispatchMessageW(&msg);
    if (msg.message == WM_APP + 10) break;
  }
  sender.join();
  EXPECT_EQ(ran_on.load(), GetCurrentThreadId());
}

TEST_F(WindowMessages, TimerMessagesArriveUntilKilled) {
  HWND hwnd = CreateTopLevel();
  ASSERT_NE(SetTimer(hwnd, 42, 10, nullptr), 0u);
  int ticks = 0;
  MSG msg;
  while (ticks < 2 && GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_TIMER && msg.hwnd == hwnd) {
      EXPECT_EQ(msg.wParam, 42u);
      ++ticks;
    }
    DispatchMessageW(&msg);
  }
  EXPECT_TRUE(KillTimer(hwnd, 42));
  EXPECT_FALSE(KillTimer(hwnd, 42));
}

TEST_F(WindowMessages, MessagesWaitingForADestroyedWindowAreDropped) {
  BOOL posted_while_destroying = FALSE;
  Handler() = [&](HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_DESTROY)
      posted_while_destroying = PostMessageW(hwnd, WM_APP + 3, 0, 0);
    return false;
  };
  HWND hwnd = CreateTopLevel();
  PostMessageW(hwnd, WM_APP + 3, 0, 0);
  DestroyWindow(hwnd);
  EXPECT_TRUE(posted_while_destroying);
  PostQuitMessage(0);
  int delivered = 0;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_APP + 3) ++delivered;
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(delivered, 0);
}

TEST_F(WindowMessages, UserDataKeepsAPointerAndAnswersThePreviousValue) {
  HWND hwnd = CreateTopLevel();
  int object = 0;
  SetLastError(0);
  EXPECT_EQ(SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(&object)),
            0);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA),
            reinterpret_cast<LONG_PTR>(&object));
  EXPECT_EQ(SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0),
            reinterpret_cast<LONG_PTR>(&object));
}

TEST_F(WindowMessages, ClassesAreRegisteredOnceAndOutliveNoWindow) {
  WNDCLASSW again = {};
  again.lpfnWndProc = win32_test::RecordingProc;
  again.hInstance = GetModuleHandleW(nullptr);
  again.lpszClassName = win32_test::kClassName;
  EXPECT_EQ(RegisterClassW(&again), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  HWND hwnd = CreateTopLevel();
  EXPECT_FALSE(
      UnregisterClassW(win32_test::kClassName, GetModuleHandleW(nullptr)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  DestroyWindow(hwnd);
  EXPECT_EQ(CreateWindowExW(0, L"SNAPFERRY_NO_SUCH_CLASS", L"",
                            WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr),
            nullptr);
}

TEST_F(WindowMessages,
       CreateAnsweringMinusOneFreesTheWindowWithoutDestroyMessage) {
  Handler() = [](HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_CREATE;
  };
  // Handled WM_CREATE answers 0: creation succeeds.
  HWND created = CreateTopLevel();
  EXPECT_NE(created, nullptr);
  Handler() = nullptr;
  Log().clear();
  WNDCLASSW failing = {};
  failing.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wparam,
                           LPARAM lparam) -> LRESULT {
    Log().push_back({hwnd, message, wparam, lparam});
    if (message == WM_CREATE) return -1;
    return DefWindowProcW(hwnd, message, wparam, lparam);
  };
  failing.hInstance = GetModuleHandleW(nullptr);
  failing.lpszClassName = L"SNAPFERRY_WIN32_FAILING_WINDOW";
  ASSERT_NE(RegisterClassW(&failing), 0);
  EXPECT_EQ(CreateWindowExW(0, failing.lpszClassName, L"", WS_OVERLAPPEDWINDOW,
                            0, 0, 100, 100, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr),
            nullptr);
  EXPECT_EQ(Messages(nullptr, {WM_CREATE, WM_DESTROY, WM_NCDESTROY}),
            (std::vector<UINT>{WM_CREATE, WM_NCDESTROY}));
  UnregisterClassW(failing.lpszClassName, GetModuleHandleW(nullptr));
}

}  // namespace
