// What WPD shows of one device, for a diagnostics screen and a report a
// person can send back: the device object's and storages' properties, the
// folder tree near the top, every property of the first files, whether the
// device reads properties in bulk, and what one walk of it costs. Only
// reads: nothing on the device is changed, and the serial number is never
// asked for.
#ifndef SNAPFERRY_WPD_DEVICE_DESCRIPTION_H_
#define SNAPFERRY_WPD_DEVICE_DESCRIPTION_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "wpd/device_sessions.h"
#include "wpd/property_entries.h"

namespace snapferry {

// Folders described below each storage, how deep and how many in all; files
// whose every property is read.
inline constexpr int32_t kDescribedFolderDepth = 3;
inline constexpr size_t kDescribedFolderLimit = 100;
inline constexpr size_t kDescribedMediaLimit = 20;
// Failures listed; a device gone mid-walk could fail every call left.
inline constexpr size_t kDescribedFailureLimit = 100;

struct DescribedFolder {
  std::string path;      // the folder names from the storage down, "/" between
  int32_t depth = 0;     // 1 right below the storage
  int64_t children = 0;  // objects the walk read in it
};

struct DescribedStorage {
  std::string objectId;
  std::vector<PropertyEntry> properties;
  std::vector<DescribedFolder> folders;  // depth first, in listing order
};

struct DescribedObject {
  std::string objectId;
  std::string name;
  std::vector<PropertyEntry> properties;  // all the device gives
};

struct DescribeFailure {
  std::string step;
  std::string objectId;  // "" when the call named none
  int32_t hresult = 0;
};

struct DeviceDescription {
  // Set when COM could not be joined or the device not opened: nothing
  // else is then filled in.
  std::string message;
  int32_t hresult = 0;

  int64_t openMicroseconds = 0;
  bool bulkReads = false;
  std::vector<PropertyEntry> device;
  std::vector<DescribedStorage> storages;
  bool foldersCut = false;  // more folders than kDescribedFolderLimit
  std::vector<DescribedObject> media;
  int64_t walkMicroseconds = 0;
  int64_t walkObjects = 0;
  int64_t walkCalls = 0;
  std::vector<std::pair<std::string, int64_t>> walkCallCounts;
  std::vector<DescribeFailure> failures;  // the first kDescribedFailureLimit
  bool failuresCut = false;
};

// Opens the device read-only for itself (never a kept session: the time of
// Open is that of a real open), describes it and closes it. Joins COM
// itself. `sessions`, when given, only lends its unplug probe: a walk that
// meets a went-away code stops only when the device is no longer listed,
// and otherwise passes over what it could not read, as an enumeration does.
DeviceDescription DescribeDevice(const std::string& device_id,
                                 DeviceSessions* sessions = nullptr);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_DEVICE_DESCRIPTION_H_
