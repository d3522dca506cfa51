// What the stand-in's environment reports (monitors, DPI, registry, console,
// debugger, command line, modules), set through the control surface.
#ifndef SNAPFERRY_PLATFORM_WIN32_SRC_ENVIRONMENT_H_
#define SNAPFERRY_PLATFORM_WIN32_SRC_ENVIRONMENT_H_

#include <windows.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "win32_standin/control.h"

namespace win32_standin::internal {

struct RegistryValue {
  DWORD type;
  std::vector<BYTE> data;
};

struct Environment {
  std::mutex mutex;
  UINT system_dpi = 96;
  std::vector<Monitor> monitors;  // the first is the primary
  bool work_area_query_fails = false;
  // Keyed by "root\subkey\name", lower case.
  std::map<std::wstring, RegistryValue> registry;
  bool parent_console = false;
  bool console_allocation_fails = false;
  bool debugger_present = false;
  bool console_attached = false;
  bool console_allocated = false;
  std::wstring command_line;
  bool non_client_dpi_scaling_available = true;
  std::set<WORD> icon_resources;
};

Environment& Env();
void ResetEnvironment();

// The monitor nearest to `point` (its index in Env().monitors); the lock on
// Env().mutex must be held.
size_t NearestMonitorLocked(POINT point);

// The key under which a registry value is kept.
std::wstring RegistryKey(HKEY root, const std::wstring& subkey,
                         const std::wstring& name);

}  // namespace win32_standin::internal

#endif  // SNAPFERRY_PLATFORM_WIN32_SRC_ENVIRONMENT_H_
