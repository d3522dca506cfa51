// Invalidation and WM_PAINT: an invalid, visible window gets WM_PAINT when its
// thread's queue holds nothing more urgent; painting validates it.
#include <windows.h>

#include "platform/win32/src/window_state.h"

using namespace win32_standin::internal;

namespace {

bool SetNeedsPaint(HWND hwnd, bool value) {
  DWORD thread;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    window->needs_paint = value;
    thread = window->thread;
  }
  if (value) WakeQueue(thread);
  return true;
}

}  // namespace

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT*, BOOL) {
  if (hwnd == nullptr)
    return TRUE;  // Windows repaints everything; nothing here
  return SetNeedsPaint(hwnd, true) ? TRUE : FALSE;
}

BOOL WINAPI ValidateRect(HWND hwnd, const RECT*) {
  if (hwnd == nullptr) return TRUE;
  return SetNeedsPaint(hwnd, false) ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
  bool paint;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    paint = window->needs_paint;
  }
  if (paint && IsWindowVisible(hwnd)) Send(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
  if (paint == nullptr || !SetNeedsPaint(hwnd, false)) return nullptr;
  *paint = PAINTSTRUCT{};
  paint->hdc = reinterpret_cast<HDC>(0x50000);
  GetClientRect(hwnd, &paint->rcPaint);
  return paint->hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }
