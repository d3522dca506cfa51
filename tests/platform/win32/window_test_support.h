// A window class for the window tests whose procedure records every message
// it receives and can be given a handler per test.
#ifndef SNAPFERRY_TESTS_PLATFORM_WIN32_WINDOW_TEST_SUPPORT_H_
#define SNAPFERRY_TESTS_PLATFORM_WIN32_WINDOW_TEST_SUPPORT_H_

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "gtest/gtest.h"

namespace win32_test {

struct Received {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

inline std::vector<Received>& Log() {
  static std::vector<Received> log;
  return log;
}

// Runs before default processing; returning true means "handled, answer 0".
inline std::function<bool(HWND, UINT, WPARAM, LPARAM)>& Handler() {
  static std::function<bool(HWND, UINT, WPARAM, LPARAM)> handler;
  return handler;
}

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wparam,
                                      LPARAM lparam) {
  Log().push_back({hwnd, message, wparam, lparam});
  if (Handler() && Handler()(hwnd, message, wparam, lparam)) return 0;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

constexpr const wchar_t* kClassName = L"SNAPFERRY_WIN32_TEST_WINDOW";

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log().clear();
    Handler() = nullptr;
    WNDCLASSW window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = RecordingProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kClassName;
    ASSERT_NE(RegisterClassW(&window_class), 0);
  }
  void TearDown() override {
    for (HWND hwnd : created_) {
      if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }
    Handler() = nullptr;
    UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
    // Drop whatever the test left in the queue, a quit message included.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  HWND CreateTopLevel(void* param = nullptr) {
    HWND hwnd = CreateWindowExW(0, kClassName, L"Test", WS_OVERLAPPEDWINDOW, 10,
                                20, 400, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), param);
    created_.push_back(hwnd);
    return hwnd;
  }
  HWND CreateChild(HWND parent) {
    HWND hwnd = CreateWindowExW(0, kClassName, L"Child", WS_CHILD | WS_VISIBLE,
                                0, 0, 100, 50, parent, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    created_.push_back(hwnd);
    return hwnd;
  }

  // The messages `hwnd` received, in order, keeping only those in `kinds`.
  static std::vector<UINT> Messages(HWND hwnd, std::vector<UINT> kinds) {
    std::vector<UINT> out;
    for (const Received& r : Log()) {
      if ((hwnd == nullptr || r.hwnd == hwnd) &&
          std::find(kinds.begin(), kinds.end(), r.message) != kinds.end()) {
        out.push_back(r.message);
      }
    }
    return out;
  }

  std::vector<HWND> created_;
};

}  // namespace win32_test

#endif  // SNAPFERRY_TESTS_PLATFORM_WIN32_WINDOW_TEST_SUPPORT_H_
