// The window table and the geometry helpers shared by the window functions.
#include "platform/win32/src/window_state.h"

#include <cwctype>

#include "platform/win32/src/environment.h"

namespace win32_standin::internal {

WindowTable& Windows() {
  static auto* table = new WindowTable();
  return *table;
}

Window* FindWindowLocked(HWND hwnd) {
  auto& windows = Windows().windows;
  const auto found = windows.find(hwnd);
  return found == windows.end() ? nullptr : found->second.get();
}

WindowClass* FindClassLocked(LPCWSTR name) {
  if (name == nullptr) return nullptr;
  for (auto& window_class : Windows().classes) {
    if (IS_INTRESOURCE(name)) {
      if (window_class.atom ==
          static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name))) {
        return &window_class;
      }
      continue;
    }
    // Class names are matched without regard to case.
    const std::wstring& known = window_class.name;
    size_t i = 0;
    for (; name[i] != L'\0' && i < known.size(); ++i) {
      if (std::towlower(name[i]) != std::towlower(known[i])) break;
    }
    if (name[i] == L'\0' && i == known.size()) return &window_class;
  }
  return nullptr;
}

RECT FrameInsets(DWORD style, UINT dpi) {
  // Windows 10's metrics at 96 DPI: an 8-pixel sizing frame and a 23-pixel
  // caption, scaled with the DPI.
  RECT insets = {0, 0, 0, 0};
  if (style & WS_CHILD) {
    if (style & WS_BORDER) insets = {1, 1, 1, 1};
    return insets;
  }
  if (style & (WS_THICKFRAME | WS_CAPTION)) {
    const LONG side = MulDiv(8, static_cast<int>(dpi), 96);
    insets = {side, side, side, side};
  } else if (style & WS_BORDER) {
    insets = {1, 1, 1, 1};
  }
  if ((style & WS_CAPTION) == WS_CAPTION) {
    insets.top += MulDiv(23, static_cast<int>(dpi), 96);
  }
  return insets;
}

HWND TopLevelLocked(HWND hwnd) {
  Window* window = FindWindowLocked(hwnd);
  while (window != nullptr && window->parent != nullptr) {
    Window* parent = FindWindowLocked(window->parent);
    if (parent == nullptr) break;
    window = parent;
  }
  return window ? window->handle : nullptr;
}

UINT WindowDpiLocked(const Window& window) {
  const Window* top = FindWindowLocked(TopLevelLocked(window.handle));
  if (top == nullptr) top = &window;
  const POINT centre = {(top->rect.left + top->rect.right) / 2,
                        (top->rect.top + top->rect.bottom) / 2};
  auto& env = Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  return env.monitors[NearestMonitorLocked(centre)].dpi;
}

SIZE ClientSizeLocked(const Window& window) {
  const RECT insets = FrameInsets(window.style, WindowDpiLocked(window));
  SIZE size = {
      window.rect.right - window.rect.left - insets.left - insets.right,
      window.rect.bottom - window.rect.top - insets.top - insets.bottom};
  if (size.cx < 0) size.cx = 0;
  if (size.cy < 0) size.cy = 0;
  return size;
}

}  // namespace win32_standin::internal
