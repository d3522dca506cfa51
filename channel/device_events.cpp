#include "channel/device_events.h"

#include <dbt.h>
#include <portabledevice.h>

#include <cstddef>
#include <utility>

#include "wpd/device_connection.h"

namespace snapferry {
namespace {

// Interface paths are ASCII; other characters are compared as they are.
std::string FoldCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

flutter::EncodableValue DeviceEventValue(const char* event,
                                         const std::string& id) {
  using flutter::EncodableValue;
  return EncodableValue(flutter::ValueMap{
      {EncodableValue("event"), EncodableValue(std::string(event))},
      {EncodableValue("id"), EncodableValue(id)},
  });
}

std::optional<std::string> WpdInterfacePath(LPARAM data) {
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  constexpr size_t kNameOffset =
      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header == nullptr || header->dbch_size < kNameOffset ||
      header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
    return std::nullopt;
  }
  const auto* interface_change =
      reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
  if (!IsEqualGUID(interface_change->dbcc_classguid, GUID_DEVINTERFACE_WPD)) {
    return std::nullopt;
  }
  const size_t room = (header->dbch_size - kNameOffset) / sizeof(WCHAR);
  const WCHAR* name = interface_change->dbcc_name;
  size_t length = 0;
  while (length < room && name[length] != L'\0') ++length;
  if (length == 0) return std::nullopt;
  return WideToUtf8(std::wstring(name, length));
}

std::string DeviceEventFilter::Resolve(const std::string& name) const {
  const std::string folded = FoldCase(name);
  for (const std::string& id : listed_) {
    if (FoldCase(id) == folded) return id;
  }
  return name;
}

DeviceEventFilter::Device& DeviceEventFilter::At(const std::string& id) {
  return devices_[FoldCase(id)];
}

std::optional<flutter::EncodableValue> DeviceEventFilter::Arrived(
    const std::string& path, uint64_t last_session) {
  const std::string id = Resolve(path);
  Device& device = At(id);
  device = Device();
  device.sessions_before_arrival = last_session;
  return DeviceEventValue("arrived", id);
}

std::optional<flutter::EncodableValue> DeviceEventFilter::Removed(
    const std::string& path) {
  const std::string id = Resolve(path);
  Device& device = At(id);
  // The system and the device's own sessions both tell an unplug.
  if (device.gone) return std::nullopt;
  device.gone = true;
  return DeviceEventValue("removed", id);
}

std::optional<flutter::EncodableValue> DeviceEventFilter::FromSession(
    const std::string& id, DeviceEventKind kind, uint64_t session) {
  const Device& device = At(id);
  if (session <= device.sessions_before_arrival) return std::nullopt;
  if (kind == DeviceEventKind::kRemoved) return Removed(id);
  if (device.gone || device.reset_told) return std::nullopt;
  At(id).reset_told = true;
  return DeviceEventValue("reset", Resolve(id));
}

}  // namespace snapferry
