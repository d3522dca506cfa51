// "snapferry/wpd_devices": devices plugged in, pulled out or reset, each
// event a map {"event": "arrived" | "removed" | "reset", "id": the device
// id}. Arrivals and removals come from the system (WM_DEVICECHANGE for the
// WPD device interface); resets, and removals again, from the sessions open
// at the time (DeviceEventWatch). DeviceEventFilter decides, on the UI
// thread, what the listener is told.

#ifndef SNAPFERRY_CHANNEL_DEVICE_EVENTS_H_
#define SNAPFERRY_CHANNEL_DEVICE_EVENTS_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "messaging/encodable_value.h"
#include "wpd/device_event_watch.h"

namespace snapferry {

// The payload.
flutter::EncodableValue DeviceEventValue(const char* event,
                                         const std::string& id);

// The interface path a WM_DEVICECHANGE names, in UTF-8, when `data` (its
// lParam) is a DEV_BROADCAST_DEVICEINTERFACE_W of GUID_DEVINTERFACE_WPD
// with a non-empty name; nothing otherwise. The name is read only as far as
// the structure's own size says, up to its first NUL.
std::optional<std::string> WpdInterfacePath(LPARAM data);

class DeviceEventFilter {
 public:
  // The ids listDevices answered last, in the letter case given.
  void SetListed(std::vector<std::string> ids) { listed_ = std::move(ids); }
  // `name` as listDevices last gave it (letters compared without regard to
  // case, as Windows compares interface paths), else `name` itself.
  std::string Resolve(const std::string& name) const;

  // Each returns the event to send, if any. `last_session` is the number of
  // the last session advised so far (DeviceEventWatch::LastSession).
  std::optional<flutter::EncodableValue> Arrived(const std::string& path,
                                                 uint64_t last_session);
  std::optional<flutter::EncodableValue> Removed(const std::string& path);
  // From the session numbered `session`: dropped when the device arrived
  // since it was advised (the event is of an earlier connection, told
  // late), when the device is gone already, and for a second reset of the
  // same connection.
  std::optional<flutter::EncodableValue> FromSession(const std::string& id,
                                                     DeviceEventKind kind,
                                                     uint64_t session);

  // What was learnt of the devices goes with the listener; the list stays.
  void ForgetDevices() { devices_.clear(); }

 private:
  struct Device {
    bool gone = false;
    bool reset_told = false;
    uint64_t sessions_before_arrival = 0;
  };
  // The device under `id` folded to one letter case.
  Device& At(const std::string& id);

  std::vector<std::string> listed_;
  std::map<std::string, Device> devices_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_DEVICE_EVENTS_H_
