#include "channel/method_replies.h"

#include <string>
#include <type_traits>
#include <variant>

#include "wpd/device_connection.h"

namespace snapferry {
namespace {

using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;

EncodableValue Int64(int64_t value) { return EncodableValue(value); }

// Counters are unsigned on the device side; the wire has only signed 64-bit
// integers, so the bits go across unchanged.
EncodableValue Int64(uint64_t value) {
  return EncodableValue(static_cast<int64_t>(value));
}

EncodableValue Text(const std::string& text) { return EncodableValue(text); }

EncodableValue PropertiesToValue(const std::vector<PropertyEntry>& entries) {
  ValueList list;
  list.reserve(entries.size());
  for (const PropertyEntry& entry : entries) {
    ValueMap map{{Text("key"), Text(entry.key)},
                 {Text("type"), Text(entry.type)}};
    if (!std::holds_alternative<std::monostate>(entry.value)) {
      map.emplace(Text("value"),
                  std::visit(
                      [](const auto& value) -> EncodableValue {
                        using T = std::decay_t<decltype(value)>;
                        if constexpr (std::is_same_v<T, std::monostate>) {
                          return EncodableValue();
                        } else {
                          return EncodableValue(value);
                        }
                      },
                      entry.value));
    }
    list.emplace_back(std::move(map));
  }
  return EncodableValue(std::move(list));
}

EncodableValue StorageToValue(const DescribedStorage& storage) {
  ValueList folders;
  for (const DescribedFolder& folder : storage.folders) {
    folders.emplace_back(ValueMap{{Text("path"), Text(folder.path)},
                                  {Text("depth"), Int64(int64_t{folder.depth})},
                                  {Text("children"), Int64(folder.children)}});
  }
  return EncodableValue(
      ValueMap{{Text("objectId"), Text(storage.objectId)},
               {Text("properties"), PropertiesToValue(storage.properties)},
               {Text("folders"), EncodableValue(std::move(folders))}});
}

}  // namespace

EncodableValue DeviceListToValue(const std::vector<DeviceInfo>& devices) {
  ValueList list;
  list.reserve(devices.size());
  for (const DeviceInfo& device : devices) {
    list.emplace_back(ValueMap{
        {Text("id"), Text(device.id)},
        {Text("friendlyName"), Text(device.friendlyName)},
        {Text("manufacturer"), Text(device.manufacturer)},
        {Text("model"), Text(device.model)},
        {Text("isApple"), EncodableValue(device.isApple)},
    });
  }
  return EncodableValue(std::move(list));
}

EncodableValue ScanResultToValue(const ScanResult& result) {
  ValueList children;
  children.reserve(result.storageChildren.size());
  for (const std::string& name : result.storageChildren) {
    children.push_back(Text(name));
  }
  return EncodableValue(ValueMap{
      {Text("status"), Text(ScanStatusText(result.status))},
      {Text("error"), Text(result.error)},
      {Text("hresult"), Int64(static_cast<int64_t>(result.hresult))},
      {Text("dcimFound"), EncodableValue(result.dcimFound)},
      {Text("storageChildren"), EncodableValue(std::move(children))},
      {Text("photos"), Int64(result.counts.photos)},
      {Text("videos"), Int64(result.counts.videos)},
      {Text("screenshots"), Int64(result.counts.screenshots)},
      {Text("sidecars"), Int64(result.counts.sidecars)},
      {Text("others"), Int64(result.counts.others)},
      {Text("totalBytes"), Int64(result.counts.totalBytes)},
  });
}

EncodableValue MediaEntriesToValue(const std::vector<MediaEntry>& entries) {
  ValueList list;
  list.reserve(entries.size());
  for (const MediaEntry& entry : entries) {
    list.emplace_back(ValueMap{
        {Text("objectId"), Text(entry.objectId)},
        {Text("name"), Text(entry.name)},
        {Text("parentPath"), Text(entry.parentPath)},
        {Text("size"), Int64(entry.size)},
        {Text("date"), Text(std::string(entry.date.view()))},
    });
  }
  return EncodableValue(std::move(list));
}

const char* ObjectOpStatusText(ObjectOpStatus status) {
  switch (status) {
    case ObjectOpStatus::kOk:
      return "ok";
    case ObjectOpStatus::kCancelled:
      return "cancelled";
    case ObjectOpStatus::kNotPermitted:
      return "notPermitted";
    default:
      return "error";
  }
}

EncodableValue ObjectOpResultToValue(const ObjectOpResult& result) {
  ValueMap map{
      {Text("status"), Text(ObjectOpStatusText(result.status))},
      {Text("bytesWritten"), Int64(result.bytesWritten)},
      {Text("hresult"),
       Int64(static_cast<int64_t>(static_cast<int32_t>(result.hresult)))},
      {Text("error"), Text(result.error)},
  };
  if (result.objectSize) map[Text("objectSize")] = Int64(*result.objectSize);
  return EncodableValue(std::move(map));
}

EncodableValue CanDeleteAnswerToValue(int32_t answer) {
  if (answer < 0) return EncodableValue();
  return EncodableValue(answer == 1);
}

EncodableValue DeviceDescriptionToValue(const std::string& device_id,
                                        const DeviceDescription& description) {
  ValueList storages;
  for (const DescribedStorage& storage : description.storages) {
    storages.push_back(StorageToValue(storage));
  }
  ValueList media;
  for (const DescribedObject& file : description.media) {
    media.emplace_back(
        ValueMap{{Text("objectId"), Text(file.objectId)},
                 {Text("name"), Text(file.name)},
                 {Text("properties"), PropertiesToValue(file.properties)}});
  }
  ValueMap call_counts;
  for (const auto& [call, count] : description.walkCallCounts) {
    call_counts.emplace(Text(call), Int64(count));
  }
  ValueList failures;
  for (const DescribeFailure& failure : description.failures) {
    failures.emplace_back(ValueMap{
        {Text("step"), Text(failure.step)},
        {Text("objectId"), Text(failure.objectId)},
        {Text("hresult"), Int64(int64_t{failure.hresult})},
        {Text("message"),
         Text(FormatHresultFailure(failure.step.c_str(), failure.hresult))}});
  }
  return EncodableValue(ValueMap{
      {Text("id"), Text(device_id)},
      {Text("openMicroseconds"), Int64(description.openMicroseconds)},
      {Text("bulkReads"), EncodableValue(description.bulkReads)},
      {Text("device"), PropertiesToValue(description.device)},
      {Text("storages"), EncodableValue(std::move(storages))},
      {Text("foldersCut"), EncodableValue(description.foldersCut)},
      {Text("media"), EncodableValue(std::move(media))},
      {Text("walkMicroseconds"), Int64(description.walkMicroseconds)},
      {Text("walkObjects"), Int64(description.walkObjects)},
      {Text("walkCalls"), Int64(description.walkCalls)},
      {Text("walkCallCounts"), EncodableValue(std::move(call_counts))},
      {Text("failures"), EncodableValue(std::move(failures))},
      {Text("failuresCut"), EncodableValue(description.failuresCut)},
  });
}

}  // namespace snapferry
