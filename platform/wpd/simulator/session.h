// One open session on a simulated device, shared by the device object and
// everything obtained from it. Internal to the simulator library.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_SESSION_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_SESSION_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/wpd/simulator/state.h"

namespace wpd_sim {

// One successful Open of one device object, on one connection of its
// device. Objects obtained from the device share it and stop working once it
// is closed, as WPD's do, or once the device is unplugged.
struct Session {
  Session(std::shared_ptr<DeviceState> device, DWORD access,
          uint32_t connection)
      : device(std::move(device)), access(access), connection(connection) {}
  ~Session() {
    if (open.load()) {
      std::lock_guard<std::mutex> lock(device->mu);
      --device->open_sessions;
    }
  }
  const std::shared_ptr<DeviceState> device;
  const DWORD access;
  const uint32_t connection;
  std::atomic<bool> open{true};
  std::atomic<uint64_t> cancels{0};  // IPortableDevice::Cancel calls
};

// What a call through the session answers before doing any work: S_OK while
// the device object is open and its connection lasts.
inline HRESULT Usable(const Session& session) {
  if (!session.open.load()) return E_WPD_DEVICE_NOT_OPEN;
  if (session.device->live_connection.load() != session.connection) {
    return session.device->setup.gone_hresult;
  }
  return S_OK;
}

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_SESSION_H_
