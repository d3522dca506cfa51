#include "wpd/unplug_probe.h"

#include <portabledeviceapi.h>

#include <thread>

#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/device_discovery.h"

namespace snapferry {

HRESULT ProbeDevicePresent(const std::string& device_id, bool* present) {
  *present = false;
  bool listed = false;
  HRESULT hr = FindListedDevice(device_id, &listed);
  if (FAILED(hr)) return hr;
  if (!listed) return S_OK;
  ComPtr<IPortableDevice> device;
  // Any failure to open counts: 0x80070002 is what an unplugged device's
  // path answers, and a device that cannot be opened cannot be walked.
  if (FAILED(OpenDevice(device_id, GENERIC_READ, device))) return S_OK;
  device->Close();
  *present = true;
  return S_OK;
}

UnplugProbe::UnplugProbe(std::chrono::milliseconds pause) : pause_(pause) {}

void UnplugProbe::SetPause(std::chrono::milliseconds pause) {
  std::lock_guard<std::mutex> lock(mutex_);
  pause_ = pause;
}

bool UnplugProbe::DeviceGone(const std::string& device_id) {
  std::chrono::milliseconds pause{0};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (found_present_.count(device_id) == 0) pause = pause_;
  }
  if (pause.count() > 0) std::this_thread::sleep_for(pause);
  bool present = false;
  const HRESULT hr = ProbeDevicePresent(device_id, &present);
  const bool gone = FAILED(hr) || !present;
  std::lock_guard<std::mutex> lock(mutex_);
  if (gone) {
    found_present_.erase(device_id);
  } else {
    found_present_.insert(device_id);
  }
  return gone;
}

void UnplugProbe::Forget(const std::string& device_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  found_present_.erase(device_id);
}

}  // namespace snapferry
