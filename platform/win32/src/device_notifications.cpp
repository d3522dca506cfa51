// Device-interface notifications: the registrations windows make with
// RegisterDeviceNotificationW, and the WM_DEVICECHANGE the system sends them
// when an interface of their class arrives or goes
// (win32_standin::BroadcastDeviceInterfaceChange plays the system's part).
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/src/window_state.h"
#include "win32_standin/control.h"

namespace win32_standin::internal {
namespace {

struct Registration {
  HWND window;
  GUID interface_class;
  bool all_classes;
};

std::mutex registrations_mutex;
// Owned; the address is the handle handed out.
std::vector<std::unique_ptr<Registration>>& Registrations() {
  static auto* registrations = new std::vector<std::unique_ptr<Registration>>();
  return *registrations;
}

constexpr size_t kNameOffset =
    offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);

}  // namespace
}  // namespace win32_standin::internal

using namespace win32_standin::internal;

HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE recipient, LPVOID filter,
                                              DWORD flags) {
  // Only window recipients here; services do not run on this stand-in.
  if ((flags & ~DWORD{DEVICE_NOTIFY_ALL_INTERFACE_CLASSES}) !=
      DEVICE_NOTIFY_WINDOW_HANDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!IsWindow(static_cast<HWND>(recipient))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
  if (header == nullptr || header->dbch_size < sizeof(DEV_BROADCAST_HDR) ||
      header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      header->dbch_size < kNameOffset) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  const auto* wanted =
      static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(filter);
  auto registration = std::make_unique<Registration>(
      Registration{static_cast<HWND>(recipient), wanted->dbcc_classguid,
                   (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0});
  HDEVNOTIFY handle = registration.get();
  std::lock_guard<std::mutex> lock(registrations_mutex);
  Registrations().push_back(std::move(registration));
  return handle;
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY handle) {
  std::lock_guard<std::mutex> lock(registrations_mutex);
  auto& registrations = Registrations();
  for (auto it = registrations.begin(); it != registrations.end(); ++it) {
    if (it->get() == handle) {
      registrations.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

namespace win32_standin {

int DeviceNotificationRegistrations() {
  std::lock_guard<std::mutex> lock(internal::registrations_mutex);
  return static_cast<int>(internal::Registrations().size());
}

int BroadcastDeviceInterfaceChange(WPARAM event, REFGUID interface_class,
                                   const std::wstring& path) {
  std::vector<HWND> targets;
  {
    std::lock_guard<std::mutex> lock(internal::registrations_mutex);
    for (const auto& registration : internal::Registrations()) {
      if (registration->all_classes ||
          std::memcmp(&registration->interface_class, &interface_class,
                      sizeof(GUID)) == 0) {
        targets.push_back(registration->window);
      }
    }
  }
  // Each window gets a structure of its own, the path NUL-terminated after
  // it, as Windows hands out.
  const size_t size = internal::kNameOffset + (path.size() + 1) * sizeof(WCHAR);
  int told = 0;
  for (HWND window : targets) {
    std::vector<unsigned char> payload(
        std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)), 0);
    auto* broadcast =
        reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(payload.data());
    broadcast->dbcc_size = static_cast<DWORD>(size);
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = interface_class;
    std::memcpy(broadcast->dbcc_name, path.data(), path.size() * sizeof(WCHAR));
    if (internal::SendFromSystem(window, WM_DEVICECHANGE, event,
                                 std::move(payload))) {
      ++told;
    }
  }
  return told;
}

}  // namespace win32_standin
