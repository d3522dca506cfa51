// On the Linux stand-in the simulator broadcasts through the stand-in's
// window manager, as the system would.
#include <windows.h>
#include <dbt.h>
#include <portabledevice.h>

#include "platform/wpd/simulator/device_broadcast.h"
#include "win32_standin/control.h"

namespace wpd_sim::internal {

bool CanBroadcastDeviceChanges() { return true; }

void BroadcastDeviceInterface(bool arrived, const std::wstring& path) {
  win32_standin::BroadcastDeviceInterfaceChange(
      arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
      GUID_DEVINTERFACE_WPD, path);
}

}  // namespace wpd_sim::internal
