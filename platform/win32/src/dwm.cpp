// Window attributes for the desktop window manager, kept for tests to read.
#include <windows.h>
#include <dwmapi.h>

#include "platform/win32/src/window_state.h"

HRESULT WINAPI DwmSetWindowAttribute(HWND hwnd, DWORD attribute, LPCVOID value,
                                     DWORD size) {
  if (value == nullptr) return E_INVALIDARG;
  auto& table = win32_standin::internal::Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto* window = win32_standin::internal::FindWindowLocked(hwnd);
  if (window == nullptr) return E_HANDLE;
  const auto* bytes = static_cast<const BYTE*>(value);
  window->dwm_attributes[attribute].assign(bytes, bytes + size);
  return S_OK;
}
