#include "wpd/media_scan.h"

#include <portabledevice.h>

#include <utility>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/media_walk.h"

namespace snapferry {
namespace {

struct PendingContainer {
  std::wstring id;
  bool inDcim;
  int32_t depth;
};

ScanResult Failure(HRESULT hr, const char* step) {
  ScanResult result;
  result.status = ScanStatus::kError;
  result.hresult = static_cast<int32_t>(hr);
  result.error = FormatHresultFailure(step, hr);
  return result;
}

// The device went away mid-walk: what was seen so far is not the device's
// content, so none of it is reported.
void StopWalk(HRESULT hr, ScanResult* result) {
  *result = Failure(hr, "Enumerate objects");
}

}  // namespace

const char* ScanStatusText(ScanStatus status) {
  switch (status) {
    case ScanStatus::kOk:
      return "ok";
    case ScanStatus::kAccessDenied:
      return "accessDenied";
    case ScanStatus::kNoStorage:
      return "noStorage";
    case ScanStatus::kEmptyStorage:
      return "emptyStorage";
    case ScanStatus::kError:
      break;
  }
  return "error";
}

void MediaCounters::Count(MediaClass media_class, uint64_t size) {
  switch (media_class) {
    case MediaClass::kPhoto:
      ++photos;
      break;
    case MediaClass::kVideo:
      ++videos;
      break;
    case MediaClass::kScreenshot:
      ++screenshots;
      break;
    case MediaClass::kSidecar:
      ++sidecars;
      break;
    case MediaClass::kOther:
      ++others;
      break;
  }
  totalBytes += size;
}

void WalkForScan(IPortableDeviceContent* content,
                 IPortableDeviceProperties* properties,
                 IPortableDeviceKeyCollection* keys, ScanResult* result) {
  MediaCounters all;
  MediaCounters dcim;
  uint64_t storage_count = 0;
  uint64_t storage_children = 0;
  bool dcim_found = false;

  ContainerSet taken(WPD_DEVICE_OBJECT_ID);
  std::vector<PendingContainer> stack;
  stack.push_back({WPD_DEVICE_OBJECT_ID, false, 0});
  ObjectIdBatch batch;
  while (!stack.empty()) {
    PendingContainer entry = std::move(stack.back());
    stack.pop_back();

    ComPtr<IEnumPortableDeviceObjectIDs> enumerator;
    HRESULT hr =
        content->EnumObjects(0, entry.id.c_str(), nullptr, enumerator.Put());
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

          if (entry.depth == 0 &&
              IsEqualGUID(content_type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT)) {
            ++storage_count;
          }
          if (entry.depth == 1) {
            ++storage_children;
            if (result->storageChildren.size() < kMaxStorageChildren) {
              result->storageChildren.push_back(WideToUtf8(name));
            }
          }
          if (IsContainer(content_type)) {
            bool is_dcim = IsDcimName(name);
            if (is_dcim) dcim_found = true;
            if (taken.Insert(id)) {
              stack.push_back({id, is_dcim || entry.inDcim, entry.depth + 1});
            }
          } else if (entry.depth >= 1) {
            ULONGLONG size = 0;
            if (FAILED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE,
                                                            &size))) {
              size = 0;
            }
            MediaClass media_class = ClassifyMedia(name);
            all.Count(media_class, size);
            if (entry.inDcim) dcim.Count(media_class, size);
          }
        }
        batch.Free(i);
      }
    }
    if (IsDeviceGone(hr)) return StopWalk(hr, result);
  }

  result->dcimFound = dcim_found;
  result->counts = dcim_found ? dcim : all;
  if (storage_count == 0) {
    result->status = ScanStatus::kNoStorage;
  } else if (storage_children == 0) {
    result->status = ScanStatus::kEmptyStorage;
  } else {
    result->status = ScanStatus::kOk;
  }
}

ScanResult ScanMedia(const std::string& device_id) {
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    ScanResult result;
    result.status = ScanStatus::kError;
    result.error = kComInitialisationFailed;
    return result;
  }

  // The scan opens the device itself rather than through OpenDevice: it
  // declares an older client version and names each step in its texts.
  ComPtr<IPortableDeviceValues> client_info;
  HRESULT hr = CreateClientInformation(kScanClientMinorVersion, GENERIC_READ,
                                       client_info);
  if (FAILED(hr)) return Failure(hr, "Create client values");
  ComPtr<IPortableDevice> device;
  hr = CoCreateInstance(CLSID_PortableDeviceFTM, nullptr, CLSCTX_INPROC_SERVER,
                        IID_IPortableDevice, device.PutVoid());
  if (FAILED(hr)) return Failure(hr, "Create PortableDevice");
  hr = device->Open(Utf8ToWide(device_id).c_str(), client_info.get());
  if (hr == E_ACCESSDENIED) {
    ScanResult result;
    result.status = ScanStatus::kAccessDenied;
    result.hresult = static_cast<int32_t>(hr);
    return result;
  }
  if (FAILED(hr)) return Failure(hr, "Open device");
  client_info.Reset();

  ContentAccess access;
  hr = access.Prepare(device.get());
  if (SUCCEEDED(hr)) {
    hr = access.AddKeys({WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME,
                         WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE});
  }
  if (FAILED(hr)) {
    device->Close();
    return Failure(hr, "Prepare content access");
  }

  ScanResult result;
  WalkForScan(access.content.get(), access.properties.get(), access.keys.get(),
              &result);
  device->Close();
  return result;
}

}  // namespace snapferry
