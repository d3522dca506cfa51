// The console and the debugger, as the environment says.
#include <windows.h>

#include "platform/win32/src/environment.h"

BOOL WINAPI AttachConsole(DWORD process_id) {
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  if (process_id != ATTACH_PARENT_PROCESS || !env.parent_console ||
      env.console_attached || env.console_allocated) {
    // Windows's answers: no parent console, or one is already attached.
    SetLastError(env.console_attached || env.console_allocated
                     ? ERROR_ACCESS_DENIED
                     : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  env.console_attached = true;
  return TRUE;
}

BOOL WINAPI AllocConsole() {
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  if (env.console_allocation_fails || env.console_attached ||
      env.console_allocated) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  env.console_allocated = true;
  return TRUE;
}

BOOL WINAPI IsDebuggerPresent() {
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  return env.debugger_present ? TRUE : FALSE;
}
