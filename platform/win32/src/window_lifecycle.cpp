// Window classes, window creation and destruction with Windows's message
// order, window data, and default message processing.
#include <windows.h>

#include <algorithm>
#include <functional>

#include "platform/win32/src/environment.h"
#include "platform/win32/src/failure_injection.h"
#include "platform/win32/src/window_state.h"
#include "win32_standin/control.h"

namespace win32_standin {
namespace {

internal::InjectedFailure& CreateWindowFailure() {
  static internal::InjectedFailure failure;
  return failure;
}

// Default minimum and maximum tracking sizes, then the window's say.
MINMAXINFO MinMaxInfo(HWND hwnd) {
  MINMAXINFO info = {};
  {
    auto& env = internal::Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    const RECT& work = env.monitors[0].work_area;
    info.ptMaxSize = {work.right - work.left + 16, work.bottom - work.top + 16};
    info.ptMaxPosition = {-8, -8};
    info.ptMinTrackSize = {136, 39};
  }
  info.ptMaxTrackSize = {GetSystemMetrics(SM_CXMAXTRACK),
                         GetSystemMetrics(SM_CYMAXTRACK)};
  internal::Send(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  return info;
}

bool TakesMinMaxInfo(DWORD style) {
  return (style & WS_THICKFRAME) || !(style & (WS_POPUP | WS_CHILD));
}

// Sends WM_DESTROY to the window and then to its children, top first.
void SendDestroy(HWND hwnd) {
  internal::Send(hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  {
    auto& table = internal::Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (auto* window = internal::FindWindowLocked(hwnd))
      children = window->children;
  }
  for (HWND child : children) SendDestroy(child);
}

// Frees the children first, each after its WM_NCDESTROY, then the window.
void FreeWindow(HWND hwnd) {
  std::vector<HWND> children;
  {
    auto& table = internal::Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (auto* window = internal::FindWindowLocked(hwnd))
      children = window->children;
  }
  for (HWND child : children) FreeWindow(child);
  internal::Send(hwnd, WM_NCDESTROY, 0, 0);
  DWORD thread = 0;
  {
    auto& table = internal::Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto* window = internal::FindWindowLocked(hwnd);
    if (window == nullptr) return;
    thread = window->thread;
    if (auto* parent = internal::FindWindowLocked(window->parent)) {
      auto& siblings = parent->children;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd),
                     siblings.end());
    }
    auto& ui = table.threads[thread];
    if (ui.focus == hwnd) ui.focus = nullptr;
    if (ui.active == hwnd) ui.active = nullptr;
    table.windows.erase(hwnd);
  }
  internal::ForgetWindowMessages(thread, hwnd);
}

void MarkDestroying(HWND hwnd) {
  // Lock held by the caller.
  if (auto* window = internal::FindWindowLocked(hwnd)) {
    window->destroying = true;
    for (HWND child : window->children) MarkDestroying(child);
  }
}

}  // namespace

void FailCreateWindowExW(DWORD error, int times) {
  CreateWindowFailure().Arm(static_cast<int32_t>(error), times);
}

int LiveWindowCount() {
  auto& table = internal::Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  return static_cast<int>(table.windows.size());
}

WindowSnapshot DescribeWindow(HWND hwnd) {
  WindowSnapshot snapshot{};
  {
    auto& table = internal::Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto* window = internal::FindWindowLocked(hwnd);
    if (window == nullptr) return snapshot;
    snapshot.exists = true;
    snapshot.parent = window->parent;
    snapshot.style = window->style;
    snapshot.title = window->title;
    snapshot.non_client_dpi_scaling = window->non_client_dpi_scaling;
    for (const auto& window_class : table.classes) {
      if (window_class.atom == window->class_atom)
        snapshot.class_name = window_class.name;
    }
  }
  snapshot.visible = IsWindowVisible(hwnd) != FALSE;
  GetWindowRect(hwnd, &snapshot.window_rect);
  GetClientRect(hwnd, &snapshot.client_rect);
  return snapshot;
}

bool DwmAttribute(HWND hwnd, DWORD attribute, std::vector<BYTE>* value) {
  auto& table = internal::Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto* window = internal::FindWindowLocked(hwnd);
  if (window == nullptr) return false;
  const auto found = window->dwm_attributes.find(attribute);
  if (found == window->dwm_attributes.end()) return false;
  if (value != nullptr) *value = found->second;
  return true;
}

namespace internal {
void ResetWindowFailures() { CreateWindowFailure().Clear(); }
}  // namespace internal

}  // namespace win32_standin

using namespace win32_standin::internal;

ATOM WINAPI RegisterClassW(const WNDCLASSW* info) {
  if (info == nullptr || info->lpszClassName == nullptr ||
      info->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (FindClassLocked(info->lpszClassName) != nullptr) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  WindowClass window_class{info->lpszClassName, table.next_atom++, *info};
  window_class.info.lpszClassName = nullptr;  // the caller's string may go
  table.classes.push_back(window_class);
  return table.classes.back().atom;
}

BOOL WINAPI UnregisterClassW(LPCWSTR name, HINSTANCE) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  WindowClass* window_class = FindClassLocked(name);
  if (window_class == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (const auto& entry : table.windows) {
    if (entry.second->class_atom == window_class->atom) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  }
  const ATOM atom = window_class->atom;
  table.classes.erase(
      std::remove_if(table.classes.begin(), table.classes.end(),
                     [&](const WindowClass& c) { return c.atom == atom; }),
      table.classes.end());
  return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR title,
                            DWORD style, int x, int y, int width, int height,
                            HWND parent, HMENU menu, HINSTANCE instance,
                            LPVOID param) {
  int32_t injected;
  if (win32_standin::CreateWindowFailure().Take(&injected)) {
    SetLastError(static_cast<DWORD>(injected));
    return nullptr;
  }
  // A message-only window: here a top-level window that nothing shows.
  if (parent == HWND_MESSAGE) parent = nullptr;
  HWND hwnd;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    WindowClass* window_class = FindClassLocked(class_name);
    if (window_class == nullptr) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    Window* parent_window = FindWindowLocked(parent);
    if (parent != nullptr && parent_window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if ((style & WS_CHILD) && parent == nullptr) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    // Default placement: the work area's corner, three quarters of its size.
    if (!(style & WS_CHILD)) {
      auto& env = Env();
      std::lock_guard<std::mutex> env_lock(env.mutex);
      const RECT& work = env.monitors[0].work_area;
      if (x == CW_USEDEFAULT) {
        x = work.left;
        y = work.top;
      }
      if (width == CW_USEDEFAULT) {
        width = (work.right - work.left) * 3 / 4;
        height = (work.bottom - work.top) * 3 / 4;
      }
    } else {
      if (x == CW_USEDEFAULT) x = y = 0;
      if (width == CW_USEDEFAULT) width = height = 0;
    }
    auto window = std::make_unique<Window>();
    hwnd = reinterpret_cast<HWND>(table.next_handle);
    table.next_handle += 0x10;
    window->handle = hwnd;
    window->thread = GetCurrentThreadId();
    window->class_atom = window_class->atom;
    window->proc = window_class->info.lpfnWndProc;
    window->instance = instance;
    window->title = title ? title : L"";
    // WS_VISIBLE is applied by showing the window once it exists.
    window->style = style & ~WS_VISIBLE;
    window->ex_style = ex_style;
    window->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
    if (style & WS_CHILD) {
      window->parent = parent;
      window->id = reinterpret_cast<LONG_PTR>(menu);
      parent_window->children.insert(parent_window->children.begin(), hwnd);
    }
    table.windows[hwnd] = std::move(window);
  }
  QueueOf(GetCurrentThreadId());

  CREATESTRUCTW create = {param,  instance,   menu,
                          parent, height,     width,
                          y,      x,          static_cast<LONG>(style),
                          title,  class_name, ex_style};
  if (win32_standin::TakesMinMaxInfo(style)) {
    const MINMAXINFO limits = win32_standin::MinMaxInfo(hwnd);
    create.cx = std::max(std::min<int>(create.cx, limits.ptMaxTrackSize.x),
                         static_cast<int>(limits.ptMinTrackSize.x));
    create.cy = std::max(std::min<int>(create.cy, limits.ptMaxTrackSize.y),
                         static_cast<int>(limits.ptMinTrackSize.y));
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (auto* window = FindWindowLocked(hwnd)) {
      window->rect.right = window->rect.left + create.cx;
      window->rect.bottom = window->rect.top + create.cy;
    }
  }
  if (!Send(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    win32_standin::FreeWindow(hwnd);
    return nullptr;
  }
  RECT client = {x, y, x + create.cx, y + create.cy};
  Send(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&client));
  if (Send(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    // Refused creation: the window is freed with WM_NCDESTROY alone, without
    // WM_DESTROY, as Windows does.
    {
      auto& table = Windows();
      std::lock_guard<std::mutex> lock(table.mutex);
      win32_standin::MarkDestroying(hwnd);
    }
    win32_standin::FreeWindow(hwnd);
    return nullptr;
  }
  if (!IsWindow(hwnd)) return nullptr;  // destroyed while being created
  RECT client_rect;
  GetClientRect(hwnd, &client_rect);
  Send(hwnd, WM_SIZE, SIZE_RESTORED,
       MAKELPARAM(client_rect.right, client_rect.bottom));
  Send(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (window->thread != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (window->destroy_called) return TRUE;  // already under way
    window->destroy_called = true;
  }
  if (IsWindowVisible(hwnd)) {
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                     SWP_NOACTIVATE);
  }
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    win32_standin::MarkDestroying(hwnd);
  }
  win32_standin::SendDestroy(hwnd);
  win32_standin::FreeWindow(hwnd);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  return FindWindowLocked(hwnd) != nullptr ? TRUE : FALSE;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hwnd, int index) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  Window* window = FindWindowLocked(hwnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWLP_USERDATA:
      return window->user_data;
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(window->proc);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(window->instance);
    case GWLP_ID:
      return window->id;
    case GWL_STYLE:
      return static_cast<LONG>(window->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(window->ex_style);
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  Window* window = FindWindowLocked(hwnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR previous;
  switch (index) {
    case GWLP_USERDATA:
      previous = window->user_data;
      window->user_data = value;
      return previous;
    case GWLP_WNDPROC:
      previous = reinterpret_cast<LONG_PTR>(window->proc);
      window->proc = reinterpret_cast<WNDPROC>(value);
      return previous;
    case GWLP_ID:
      previous = window->id;
      window->id = value;
      return previous;
    case GWL_STYLE:
      previous = static_cast<LONG>(window->style);
      window->style = static_cast<DWORD>(value);
      return previous;
    case GWL_EXSTYLE:
      previous = static_cast<LONG>(window->ex_style);
      window->ex_style = static_cast<DWORD>(value);
      return previous;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT message, WPARAM wparam,
                              LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) SetFocus(hwnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hwnd, &paint);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_WINDOWPOSCHANGING: {
      // Sizing a resizable window honours its minimum and maximum sizes.
      auto* pos = reinterpret_cast<WINDOWPOS*>(lparam);
      if (pos == nullptr || (pos->flags & SWP_NOSIZE)) return 0;
      const DWORD style =
          static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
      if (!win32_standin::TakesMinMaxInfo(style)) return 0;
      const MINMAXINFO limits = win32_standin::MinMaxInfo(hwnd);
      pos->cx = std::max<int>(std::min<int>(pos->cx, limits.ptMaxTrackSize.x),
                              limits.ptMinTrackSize.x);
      pos->cy = std::max<int>(std::min<int>(pos->cy, limits.ptMaxTrackSize.y),
                              limits.ptMinTrackSize.y);
      return 0;
    }
    case WM_WINDOWPOSCHANGED: {
      // The client area's move and size are announced from here, as Windows
      // does; a window that handles WM_WINDOWPOSCHANGED itself gets neither.
      auto* pos = reinterpret_cast<WINDOWPOS*>(lparam);
      if (pos == nullptr) return 0;
      if (!(pos->flags & 0x1000 /* no client move */)) {
        RECT rect;
        GetWindowRect(hwnd, &rect);
        Send(hwnd, WM_MOVE, 0, MAKELPARAM(pos->x, pos->y));
      }
      if (!(pos->flags & 0x0800 /* no client size */)) {
        RECT client;
        GetClientRect(hwnd, &client);
        Send(hwnd, WM_SIZE, SIZE_RESTORED,
             MAKELPARAM(client.right, client.bottom));
      }
      return 0;
    }
    default:
      return 0;
  }
}
