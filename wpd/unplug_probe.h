// Whether a device that answered a went-away code really went away. A real
// iPhone answers 0x8007001F (ERROR_GEN_FAILURE) for one file it cannot serve
// while it stays plugged in, and a walk that took that for an unplug would
// fail the whole listing over one file. So a walk that meets such a code
// asks the system: a fresh device list, and an Open of the device outside
// any kept session.

#ifndef SNAPFERRY_WPD_UNPLUG_PROBE_H_
#define SNAPFERRY_WPD_UNPLUG_PROBE_H_

#include <objbase.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>

namespace snapferry {

// Whether `device_id` is in a fresh device list and opens (it is closed
// again at once). True in *present only when both hold; the HRESULT of the
// step that failed when the probe itself could not be made (the device list
// could not be read), S_OK otherwise. Called in the multithreaded apartment.
HRESULT ProbeDevicePresent(const std::string& device_id, bool* present);

// The probe as walks make it, with the pause before it. Windows takes a
// moment to notice an unplug: right after one a device may still be listed
// and even open. So the first probe of a device waits `pause` first. Once a
// probe found the device there, later probes of it do not wait, until a
// probe finds it gone or Forget is called (a session of it ended on a
// went-away code, so the next may be a new connection). Thread-safe; no
// lock is held while probing or waiting.
class UnplugProbe {
 public:
  static constexpr std::chrono::milliseconds kDefaultPause{1000};

  explicit UnplugProbe(std::chrono::milliseconds pause = kDefaultPause);
  UnplugProbe(const UnplugProbe&) = delete;
  UnplugProbe& operator=(const UnplugProbe&) = delete;

  void SetPause(std::chrono::milliseconds pause);

  // True when the device went away: not listed, not openable, or the probe
  // failed. Called in the multithreaded apartment.
  bool DeviceGone(const std::string& device_id);

  // The device's next probe waits again.
  void Forget(const std::string& device_id);

 private:
  std::mutex mutex_;  // guards what follows
  std::chrono::milliseconds pause_;
  std::set<std::string> found_present_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_UNPLUG_PROBE_H_
