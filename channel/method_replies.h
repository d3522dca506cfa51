// Device records turned into the values the interface receives. Every
// integer goes out as a 64-bit integer, however small, so the interface
// always reads one type; HRESULTs are widened with their sign.

#ifndef SNAPFERRY_CHANNEL_METHOD_REPLIES_H_
#define SNAPFERRY_CHANNEL_METHOD_REPLIES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "messaging/encodable_value.h"
#include "wpd/device_description.h"
#include "wpd/device_discovery.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/object_op_result.h"

namespace snapferry {

// A list of device maps: "id", "friendlyName", "manufacturer", "model"
// (strings) and "isApple" (bool).
flutter::EncodableValue DeviceListToValue(
    const std::vector<DeviceInfo>& devices);

// The scan map: "status", "error", "hresult", "dcimFound",
// "storageChildren", the five class counters and "totalBytes".
flutter::EncodableValue ScanResultToValue(const ScanResult& result);

// A list of entry maps: "objectId", "name", "parentPath", "size", "date".
flutter::EncodableValue MediaEntriesToValue(
    const std::vector<MediaEntry>& entries);

// The copy and deletion map: "status", "bytesWritten", "hresult", "error";
// a copy's also "objectSize" when it read the object's size.
flutter::EncodableValue ObjectOpResultToValue(const ObjectOpResult& result);

// The canDelete answer: null when the device gave none (negative), true for
// 1, false otherwise.
flutter::EncodableValue CanDeleteAnswerToValue(int32_t answer);

// The describeDevice map (channel/README.md): the description of a device
// that opened; the failures listed with their "<step> failed (HRESULT
// 0x...)" message.
flutter::EncodableValue DeviceDescriptionToValue(
    const std::string& device_id, const DeviceDescription& description);

// The text "status" carries for a copy or deletion.
const char* ObjectOpStatusText(ObjectOpStatus status);

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_METHOD_REPLIES_H_
