// The environment the stand-in reports, and the control surface that sets it.
#include "platform/win32/src/environment.h"

#include <cwctype>

namespace win32_standin {
namespace internal {

Environment& Env() {
  static auto* environment = new Environment();
  return *environment;
}

void ResetEnvironment() {
  Environment& env = Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  env.system_dpi = 96;
  env.monitors = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96}};
  env.work_area_query_fails = false;
  env.registry.clear();
  env.parent_console = false;
  env.console_allocation_fails = false;
  env.debugger_present = false;
  env.console_attached = false;
  env.console_allocated = false;
  env.command_line.clear();
  env.non_client_dpi_scaling_available = true;
  env.icon_resources.clear();
}

size_t NearestMonitorLocked(POINT point) {
  const auto& monitors = Env().monitors;
  size_t best = 0;
  int64_t best_distance = -1;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const RECT& r = monitors[i].bounds;
    const int64_t dx = point.x < r.left     ? r.left - point.x
                       : point.x >= r.right ? point.x - r.right + 1
                                            : 0;
    const int64_t dy = point.y < r.top       ? r.top - point.y
                       : point.y >= r.bottom ? point.y - r.bottom + 1
                                             : 0;
    const int64_t distance = dx * dx + dy * dy;
    if (best_distance < 0 || distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  return best;
}

std::wstring RegistryKey(HKEY root, const std::wstring& subkey,
                         const std::wstring& name) {
  std::wstring key = std::to_wstring(reinterpret_cast<uintptr_t>(root)) +
                     L"\\" + subkey + L"\\" + name;
  for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
  return key;
}

}  // namespace internal

namespace {
// Starts from the defaults, before any test changes them.
const bool initialised = (internal::ResetEnvironment(), true);
}  // namespace

void SetMonitors(const std::vector<Monitor>& monitors) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  if (!monitors.empty()) internal::Env().monitors = monitors;
}

void SetSystemDpi(UINT dpi) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().system_dpi = dpi;
}

void SetWorkArea(const RECT& work_area) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().monitors[0].work_area = work_area;
}

void SetWorkAreaQueryFails(bool fails) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().work_area_query_fails = fails;
}

void SetRegistryDword(HKEY root, const std::wstring& subkey,
                      const std::wstring& name, DWORD value) {
  internal::RegistryValue entry{REG_DWORD, std::vector<BYTE>(4)};
  memcpy(entry.data.data(), &value, 4);
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().registry[internal::RegistryKey(root, subkey, name)] = entry;
}

void SetRegistryString(HKEY root, const std::wstring& subkey,
                       const std::wstring& name, const std::wstring& value) {
  // Stored as Windows does: UTF-16 units, two bytes each, with the NUL.
  internal::RegistryValue entry{REG_SZ, {}};
  for (wchar_t c : value) {
    entry.data.push_back(static_cast<BYTE>(c & 0xFF));
    entry.data.push_back(static_cast<BYTE>((c >> 8) & 0xFF));
  }
  entry.data.push_back(0);
  entry.data.push_back(0);
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().registry[internal::RegistryKey(root, subkey, name)] = entry;
}

void SetParentConsole(bool exists) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().parent_console = exists;
}

void SetConsoleAllocationFails(bool fails) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().console_allocation_fails = fails;
}

void SetDebuggerPresent(bool present) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().debugger_present = present;
}

bool ConsoleAttached() {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  return internal::Env().console_attached;
}

bool ConsoleAllocated() {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  return internal::Env().console_allocated;
}

void SetCommandLine(const std::wstring& command_line) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().command_line = command_line;
}

void SetNonClientDpiScalingAvailable(bool available) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().non_client_dpi_scaling_available = available;
}

void AddIconResource(WORD id) {
  std::lock_guard<std::mutex> lock(internal::Env().mutex);
  internal::Env().icon_resources.insert(id);
}

}  // namespace win32_standin
