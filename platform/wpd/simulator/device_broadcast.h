// How the simulator plays the system's part when a device is plugged in or
// pulled out: WM_DEVICECHANGE to the windows registered for WPD device
// interfaces. Internal to the simulator library; one implementation per
// platform.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_DEVICE_BROADCAST_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_DEVICE_BROADCAST_H_

#include <string>

namespace wpd_sim::internal {

// Whether BroadcastDeviceInterface reaches windows on this platform.
bool CanBroadcastDeviceChanges();

// DBT_DEVICEARRIVAL (`arrived`) or DBT_DEVICEREMOVECOMPLETE naming `path`
// to every window registered for GUID_DEVINTERFACE_WPD. Does not wait for
// the windows to handle it.
void BroadcastDeviceInterface(bool arrived, const std::wstring& path);

}  // namespace wpd_sim::internal

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_DEVICE_BROADCAST_H_
