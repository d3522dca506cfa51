// Position, size, visibility, parent, activation and focus of windows.
#include <windows.h>

#include <algorithm>

#include "platform/win32/src/window_state.h"

namespace {

using namespace win32_standin::internal;

constexpr UINT kNoClientSize = 0x0800;
constexpr UINT kNoClientMove = 0x1000;

// The screen position of the window's client-area origin; lock held.
POINT ClientOriginLocked(const Window& window) {
  POINT origin = {window.rect.left, window.rect.top};
  if (const Window* parent = FindWindowLocked(window.parent)) {
    const POINT parent_origin = ClientOriginLocked(*parent);
    origin.x += parent_origin.x;
    origin.y += parent_origin.y;
  }
  const RECT insets = FrameInsets(window.style, WindowDpiLocked(window));
  origin.x += insets.left;
  origin.y += insets.top;
  return origin;
}

}  // namespace

namespace win32_standin::internal {

void Activate(HWND top) {
  HWND previous;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto& ui = table.threads[GetCurrentThreadId()];
    previous = ui.active;
    if (previous == top) return;
    ui.active = top;
  }
  if (previous != nullptr && IsWindow(previous)) {
    Send(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(top));
  }
  if (top != nullptr)
    Send(top, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
}

}  // namespace win32_standin::internal

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  const Window* window = FindWindowLocked(hwnd);
  if (window == nullptr) return FALSE;
  // Visible means this window and every ancestor have WS_VISIBLE.
  for (; window != nullptr; window = FindWindowLocked(window->parent)) {
    if (!(window->style & WS_VISIBLE)) return FALSE;
    if (window->parent == nullptr) break;
  }
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  const Window* window = FindWindowLocked(hwnd);
  if (window == nullptr || rect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = window->rect;
  if (const Window* parent = FindWindowLocked(window->parent)) {
    const POINT origin = ClientOriginLocked(*parent);
    rect->left += origin.x;
    rect->right += origin.x;
    rect->top += origin.y;
    rect->bottom += origin.y;
  }
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  const Window* window = FindWindowLocked(hwnd);
  if (window == nullptr || rect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  const SIZE size = ClientSizeLocked(*window);
  *rect = {0, 0, size.cx, size.cy};
  return TRUE;
}

UINT WINAPI GetDpiForWindow(HWND hwnd) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  const Window* window = FindWindowLocked(hwnd);
  return window == nullptr ? 0 : WindowDpiLocked(*window);
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND insert_after, int x, int y, int cx,
                         int cy, UINT flags) {
  WINDOWPOS pos = {hwnd, insert_after, x, y, cx, cy, flags};
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    const Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (flags & SWP_NOMOVE) {
      pos.x = window->rect.left;
      pos.y = window->rect.top;
    }
    if (flags & SWP_NOSIZE) {
      pos.cx = window->rect.right - window->rect.left;
      pos.cy = window->rect.bottom - window->rect.top;
    }
  }
  if (!(flags & SWP_NOSENDCHANGING)) {
    Send(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
  }
  if (pos.cx < 0) pos.cx = 0;
  if (pos.cy < 0) pos.cy = 0;
  bool became_visible = false;
  bool top_level = false;
  DWORD thread = 0;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) return FALSE;
    thread = window->thread;
    const POINT old_origin = ClientOriginLocked(*window);
    const SIZE old_size = ClientSizeLocked(*window);
    window->rect = {pos.x, pos.y, pos.x + pos.cx, pos.y + pos.cy};
    if (flags & SWP_SHOWWINDOW) {
      became_visible = !(window->style & WS_VISIBLE);
      window->style |= WS_VISIBLE;
    }
    if (flags & SWP_HIDEWINDOW) window->style &= ~WS_VISIBLE;
    const POINT new_origin = ClientOriginLocked(*window);
    const SIZE new_size = ClientSizeLocked(*window);
    if (new_origin.x == old_origin.x && new_origin.y == old_origin.y) {
      pos.flags |= kNoClientMove;
    }
    if (new_size.cx == old_size.cx && new_size.cy == old_size.cy) {
      pos.flags |= kNoClientSize;
    }
    // What is newly shown or resized needs painting.
    if (!(flags & SWP_NOREDRAW) &&
        (became_visible || !(pos.flags & kNoClientSize))) {
      window->needs_paint = true;
    }
    top_level = window->parent == nullptr;
  }
  WakeQueue(thread);
  Send(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  if (!(flags & SWP_NOACTIVATE) && top_level && IsWindowVisible(hwnd))
    Activate(hwnd);
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height,
                       BOOL repaint) {
  return SetWindowPos(
      hwnd, nullptr, x, y, width, height,
      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI ShowWindow(HWND hwnd, int command) {
  bool was_visible;
  bool top_level;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    const Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    was_visible = (window->style & WS_VISIBLE) != 0;
    top_level = window->parent == nullptr;
  }
  if (command == SW_HIDE) {
    if (!was_visible) return FALSE;
    Send(hwnd, WM_SHOWWINDOW, FALSE, 0);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                     SWP_NOACTIVATE);
    return TRUE;
  }
  const bool activates =
      top_level && command != SW_SHOWNA && command != SW_SHOWNOACTIVATE &&
      command != SW_SHOWMINNOACTIVE && command != SW_MINIMIZE;
  if (!was_visible) Send(hwnd, WM_SHOWWINDOW, TRUE, 0);
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                   (activates ? 0 : SWP_NOACTIVATE));
  return was_visible ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND hwnd) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  const Window* window = FindWindowLocked(hwnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return window->parent;
}

HWND WINAPI SetParent(HWND child, HWND new_parent) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  Window* window = FindWindowLocked(child);
  Window* parent = FindWindowLocked(new_parent);
  if (window == nullptr || (new_parent != nullptr && parent == nullptr)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  // Windows answers the old parent, or the desktop for a top-level window;
  // the stand-in has no desktop window and answers NULL for it.
  HWND previous = window->parent;
  if (Window* old_parent = FindWindowLocked(previous)) {
    auto& siblings = old_parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), child),
                   siblings.end());
  }
  window->parent = new_parent;
  if (parent != nullptr) {
    parent->children.insert(parent->children.begin(), child);
  } else {
    window->style &= ~WS_CHILD;
  }
  return previous;
}

HWND WINAPI GetFocus() {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.threads[GetCurrentThreadId()].focus;
}

HWND WINAPI GetActiveWindow() {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.threads[GetCurrentThreadId()].active;
}

HWND WINAPI SetFocus(HWND hwnd) {
  HWND previous;
  HWND top = nullptr;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    previous = table.threads[GetCurrentThreadId()].focus;
    if (hwnd != nullptr) {
      const Window* window = FindWindowLocked(hwnd);
      if (window == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (window->thread != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      top = TopLevelLocked(hwnd);
    }
  }
  // Focusing a window of an inactive top-level window activates it first;
  // its WM_ACTIVATE may move the focus on its own.
  if (top != nullptr && GetActiveWindow() != top) Activate(top);
  HWND current;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto& ui = table.threads[GetCurrentThreadId()];
    current = ui.focus;
    if (current == hwnd) return previous;
    ui.focus = hwnd;
  }
  if (current != nullptr && IsWindow(current)) {
    Send(current, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  }
  if (hwnd != nullptr)
    Send(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(current), 0);
  return previous;
}
