// Monitors, DPI, the work area, screen metrics and MulDiv.
#include <windows.h>
#include <shellscalingapi.h>

#include <cstdlib>

#include "platform/win32/src/environment.h"

namespace {
HMONITOR MonitorHandle(size_t index) {
  return reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x10001 + index));
}
}  // namespace

HMONITOR WINAPI MonitorFromPoint(POINT point, DWORD flags) {
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  for (size_t i = 0; i < env.monitors.size(); ++i) {
    const RECT& r = env.monitors[i].bounds;
    if (point.x >= r.left && point.x < r.right && point.y >= r.top &&
        point.y < r.bottom) {
      return MonitorHandle(i);
    }
  }
  if (flags == MONITOR_DEFAULTTONULL) return nullptr;
  if (flags == MONITOR_DEFAULTTOPRIMARY) return MonitorHandle(0);
  return MonitorHandle(win32_standin::internal::NearestMonitorLocked(point));
}

HRESULT WINAPI GetDpiForMonitor(HMONITOR monitor, MONITOR_DPI_TYPE, UINT* dpi_x,
                                UINT* dpi_y) {
  if (dpi_x == nullptr || dpi_y == nullptr) return E_INVALIDARG;
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  const uintptr_t index = reinterpret_cast<uintptr_t>(monitor) - 0x10001;
  if (index >= env.monitors.size()) return E_INVALIDARG;
  *dpi_x = *dpi_y = env.monitors[index].dpi;
  return S_OK;
}

UINT WINAPI GetDpiForSystem() {
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  return env.system_dpi;
}

BOOL WINAPI SystemParametersInfoW(UINT action, UINT, PVOID param, UINT) {
  if (action != SPI_GETWORKAREA || param == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  if (env.work_area_query_fails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *static_cast<RECT*>(param) = env.monitors[0].work_area;
  return TRUE;
}

// The primary monitor's size; the largest tracking size is that with the
// frame (8 pixels a side) around it, as at 96 DPI on Windows 10. Other
// metrics are not provided and read 0, as unknown ones do on Windows.
int WINAPI GetSystemMetrics(int index) {
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  const RECT& bounds = env.monitors[0].bounds;
  switch (index) {
    case SM_CXSCREEN:
      return bounds.right - bounds.left;
    case SM_CYSCREEN:
      return bounds.bottom - bounds.top;
    case SM_CXMAXTRACK:
      return bounds.right - bounds.left + 16;
    case SM_CYMAXTRACK:
      return bounds.bottom - bounds.top + 16;
    default:
      return 0;
  }
}

int WINAPI MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const int64_t product = static_cast<int64_t>(number) * numerator;
  // Rounded half away from zero, like Windows.
  int64_t quotient = product / denominator;
  const int64_t remainder = product % denominator;
  if (std::llabs(remainder) * 2 >=
      std::llabs(static_cast<int64_t>(denominator))) {
    quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
  }
  if (quotient > INT32_MAX || quotient < INT32_MIN) return -1;
  return static_cast<int>(quotient);
}
