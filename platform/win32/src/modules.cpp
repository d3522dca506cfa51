// Modules, icons and cursors: the executable, and User32.dll for the one
// entry point the system looks up there.
#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <string>

#include <unistd.h>

#include "platform/win32/src/environment.h"
#include "platform/win32/src/window_state.h"

namespace {

HMODULE const kExecutable = reinterpret_cast<HMODULE>(0x400000);
HMODULE const kUser32 = reinterpret_cast<HMODULE>(0x7FF810000000);
std::atomic<int> user32_loads{0};

// Recorded for tests; the system calls it while handling WM_NCCREATE.
BOOL WINAPI EnableNonClientDpiScaling(HWND hwnd) {
  auto& table = win32_standin::internal::Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto* window = win32_standin::internal::FindWindowLocked(hwnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  window->non_client_dpi_scaling = true;
  return TRUE;
}

}  // namespace

DWORD WINAPI GetCurrentThreadId() {
  static std::atomic<DWORD> next{0x100};
  thread_local DWORD id = next.fetch_add(4);
  return id;
}

DWORD WINAPI GetCurrentProcessId() {
  return static_cast<DWORD>(getpid());
}

void WINAPI ExitProcess(UINT exit_code) { _exit(static_cast<int>(exit_code)); }

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) return kExecutable;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  std::string lower = name ? name : "";
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "user32.dll" || lower == "user32") {
    ++user32_loads;
    return kUser32;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == kUser32 && name != nullptr && !IS_INTRESOURCE(name) &&
      std::strcmp(name, "EnableNonClientDpiScaling") == 0) {
    auto& env = win32_standin::internal::Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    if (env.non_client_dpi_scaling_available) {
      return reinterpret_cast<FARPROC>(
          reinterpret_cast<void*>(&EnableNonClientDpiScaling));
    }
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (module == kUser32 && user32_loads.fetch_sub(1) > 0) return TRUE;
  if (module == kUser32) ++user32_loads;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name) {
  if (!IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const WORD id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  if (instance == nullptr) {
    // The system's stock icons (IDI_APPLICATION and its neighbours).
    if (id >= 32512 && id <= 32518) {
      return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x20000 + id));
    }
  } else if (instance == kExecutable) {
    auto& env = win32_standin::internal::Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    if (env.icon_resources.count(id) != 0) {
      return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x30000 + id));
    }
  }
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  const auto id = reinterpret_cast<ULONG_PTR>(name);
  if (instance == nullptr && IS_INTRESOURCE(name) && id >= 32512 &&
      id <= 32651) {
    return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x40000 + id));
  }
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}
