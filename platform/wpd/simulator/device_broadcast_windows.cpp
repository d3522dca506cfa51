// On Windows only the system broadcasts device-interface changes, and a
// process cannot ask it to for a device that does not exist: tests send
// WM_DEVICECHANGE to their window themselves
// (Simulator::BroadcastsDeviceChanges() tells them when).
#include "platform/wpd/simulator/device_broadcast.h"

namespace wpd_sim::internal {

bool CanBroadcastDeviceChanges() { return false; }

void BroadcastDeviceInterface(bool, const std::wstring&) {}

}  // namespace wpd_sim::internal
