#include "wpd/media_enumeration.h"

#include <portabledevice.h>

#include <algorithm>
#include <utility>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/media_classification.h"
#include "wpd/media_walk.h"

namespace snapferry {
namespace {

struct PendingFolder {
  std::wstring id;
  std::string path;  // the container's own name
  bool inDcim;
  int32_t depth;
};

// The device went away mid-walk: a partial list would pass for the whole
// device, so none of it is reported.
void StopWalk(HRESULT hr, EnumerationResult* result) {
  result->entries.clear();
  result->hresult = static_cast<int32_t>(hr);
  result->message = FormatHresultFailure("Enumerate objects", hr);
}

}  // namespace

void WalkForEnumeration(IPortableDeviceContent* content,
                        IPortableDeviceProperties* properties,
                        IPortableDeviceKeyCollection* keys,
                        EnumerationResult* result) {
  std::vector<MediaEntry>& entries = result->entries;
  // Whether each collected entry lies at or below a dcim folder; once one
  // such folder is known, entries outside them are no longer collected, as
  // the final filter would drop them anyway.
  std::vector<bool> in_dcim;
  bool dcim_found = false;

  ContainerSet taken(WPD_DEVICE_OBJECT_ID);
  std::vector<PendingFolder> stack;
  stack.push_back({WPD_DEVICE_OBJECT_ID, std::string(), false, 0});
  ObjectIdBatch batch;
  while (!stack.empty()) {
    PendingFolder parent = std::move(stack.back());
    stack.pop_back();

    ComPtr<IEnumPortableDeviceObjectIDs> enumerator;
    HRESULT hr =
        content->EnumObjects(0, parent.id.c_str(), nullptr, enumerator.Put());
    if (IsDeviceGone(hr)) return StopWalk(hr, result);
    if (FAILED(hr)) continue;
    for (ULONG fetched; (fetched = batch.Fetch(enumerator.get(), &hr)) > 0;) {
      for (ULONG i = 0; i < fetched; ++i) {
        LPCWSTR id = batch.at(i);
        ComPtr<IPortableDeviceValues> values;
        hr = id != nullptr ? properties->GetValues(id, keys, values.Put())
                           : E_POINTER;
        if (IsDeviceGone(hr)) return StopWalk(hr, result);
        if (SUCCEEDED(hr)) {
          GUID content_type = GUID_NULL;
          values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &content_type);
          std::wstring name = ReadObjectName(values.get());

          if (IsContainer(content_type)) {
            bool is_dcim = IsDcimName(name);
            if (is_dcim) dcim_found = true;
            if (taken.Insert(id)) {
              stack.push_back({id, WideToUtf8(name), is_dcim || parent.inDcim,
                               parent.depth + 1});
            }
          } else if (parent.depth >= 1 && (parent.inDcim || !dcim_found) &&
                     ClassifyMedia(name) != MediaClass::kOther) {
            MediaEntry entry;
            entry.objectId = WideToUtf8(id);
            entry.name = WideToUtf8(name);
            entry.parentPath = parent.path;
            ULONGLONG size = 0;
            if (FAILED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE,
                                                            &size))) {
              size = 0;
            }
            entry.size = size;
            entry.date =
                FormatPropertyDate(values.get(), WPD_OBJECT_DATE_CREATED);
            if (entry.date.empty()) {
              entry.date =
                  FormatPropertyDate(values.get(), WPD_OBJECT_DATE_MODIFIED);
            }
            entries.push_back(std::move(entry));
            in_dcim.push_back(parent.inDcim);
          }
        }
        batch.Free(i);
      }
    }
    if (IsDeviceGone(hr)) return StopWalk(hr, result);
  }

  if (dcim_found) {
    // Keep the order; drop what was collected before the first dcim folder
    // turned up outside of it.
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!in_dcim[i]) continue;
      if (kept != i) entries[kept] = std::move(entries[i]);
      ++kept;
    }
    entries.resize(kept);
  }
}

EnumerationResult EnumerateMedia(const std::string& device_id) {
  EnumerationResult result;
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    result.message = kComInitialisationFailed;
    return result;
  }
  ComPtr<IPortableDevice> device;
  HRESULT hr = OpenDevice(device_id, GENERIC_READ, device);
  if (FAILED(hr)) {
    result.hresult = static_cast<int32_t>(hr);
    result.message = FormatHresultFailure("Open device", hr);
    return result;
  }
  ContentAccess access;
  hr = access.Prepare(device.get());
  if (SUCCEEDED(hr)) {
    hr = access.AddKeys({WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME,
                         WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE,
                         WPD_OBJECT_DATE_CREATED, WPD_OBJECT_DATE_MODIFIED});
  }
  if (FAILED(hr)) {
    device->Close();
    result.hresult = static_cast<int32_t>(hr);
    result.message = FormatHresultFailure("Prepare content access", hr);
    return result;
  }

  WalkForEnumeration(access.content.get(), access.properties.get(),
                     access.keys.get(), &result);
  device->Close();
  return result;
}

}  // namespace snapferry
