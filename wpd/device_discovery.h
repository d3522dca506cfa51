#ifndef SNAPFERRY_WPD_DEVICE_DISCOVERY_H_
#define SNAPFERRY_WPD_DEVICE_DISCOVERY_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <string>
#include <vector>

namespace snapferry {

// One portable device as the device manager knows it. Texts are UTF-8; a
// text the manager cannot give is empty.
struct DeviceInfo {
  std::string id;  // the device path every other operation takes
  std::string friendlyName;
  std::string manufacturer;
  std::string model;  // the manager's device description
  bool isApple = false;
};

// What ListDevices found: every device in the manager's order, or, when the
// message is not empty, the reason why there is no list.
struct DeviceList {
  std::vector<DeviceInfo> devices;
  std::string message;
};

// Lists every portable device that Windows knows, Apple or not; the
// interface decides what to offer. Joins COM itself.
DeviceList ListDevices();

// Whether `device_id` is in the manager's list now (refreshed first),
// letters compared without regard to case; the HRESULT of the step that
// failed when the list could not be read. Called with COM joined.
HRESULT FindListedDevice(const std::string& device_id, bool* listed);

// The three texts the device manager keeps for a device.
enum class DeviceText { kFriendlyName, kManufacturer, kDescription };

// Reads one manager text (measure, then fill); empty when it cannot.
std::wstring GetDeviceString(IPortableDeviceManager* manager,
                             const std::wstring& device_id, DeviceText which);

// Whether the texts look like an iPhone or iPad: "apple", "iphone" or
// "ipad" anywhere in them, A to Z folded. Owners rename their phones, so the
// manufacturer and description count as much as the friendly name.
bool LooksLikeAppleDevice(const std::wstring& friendly_name,
                          const std::wstring& manufacturer,
                          const std::wstring& description);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_DEVICE_DISCOVERY_H_
