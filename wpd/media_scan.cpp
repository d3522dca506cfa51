#include "wpd/media_scan.h"

#include <portabledevice.h>

#include <utility>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/media_walk.h"

namespace snapferry {
namespace {

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

namespace {

// Counts what the walk meets: storages, their first-level objects and their
// names, and files by class, everywhere and below dcim folders.
class ScanVisitor final : public WalkVisitor {
 public:
  explicit ScanVisitor(ScanResult* result) : result_(result) {}

  // Goes into every container: what a folder holds counts whatever its
  // name.
  bool Visit(const WalkedObject& object) override {
    if (object.parent_depth == 0 &&
        IsEqualGUID(object.content_type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT)) {
      ++storage_count_;
    }
    if (object.parent_depth == 1) {
      ++storage_children_;
      if (result_->storageChildren.size() < kMaxStorageChildren) {
        result_->storageChildren.push_back(WideToUtf8(object.name));
      }
    }
    if (object.is_container) {
      if (object.is_dcim) dcim_found_ = true;
    } else if (object.parent_depth >= 1) {
      ULONGLONG size = 0;
      if (FAILED(object.values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE,
                                                             &size))) {
        size = 0;
      }
      MediaClass media_class = ClassifyMedia(object.name);
      all_.Count(media_class, size);
      if (object.parent_in_dcim) dcim_.Count(media_class, size);
    }
    return true;
  }

  void Finish() {
    result_->dcimFound = dcim_found_;
    result_->counts = dcim_found_ ? dcim_ : all_;
    if (storage_count_ == 0) {
      result_->status = ScanStatus::kNoStorage;
    } else if (storage_children_ == 0) {
      result_->status = ScanStatus::kEmptyStorage;
    } else {
      result_->status = ScanStatus::kOk;
    }
  }

 private:
  ScanResult* result_;
  MediaCounters all_;
  MediaCounters dcim_;
  uint64_t storage_count_ = 0;
  uint64_t storage_children_ = 0;
  bool dcim_found_ = false;
};

}  // namespace

void WalkForScan(IPortableDeviceContent* content,
                 IPortableDeviceProperties* properties,
                 IPortableDeviceKeyCollection* keys, ScanResult* result,
                 const WentAwayCheck& went_away) {
  ScanVisitor visitor(result);
  const HRESULT hr = WalkObjects(content, properties, keys, visitor,
                                 &result->unread, went_away);
  if (FAILED(hr)) return StopWalk(hr, result);
  visitor.Finish();
}

ScanResult ScanMedia(const std::string& device_id, DeviceSessions* sessions) {
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    ScanResult result;
    result.status = ScanStatus::kError;
    result.error = kComInitialisationFailed;
    return result;
  }

  // The scan declares an older client version, so it has sessions of its
  // own, and names each step of opening in its texts.
  const SessionKey key{device_id, GENERIC_READ, kScanClientMinorVersion};
  for (int attempt = 0;; ++attempt) {
    SessionLease lease;
    OpenStep step = OpenStep::kOpen;
    HRESULT hr = DeviceSessions::Open(sessions, key, &lease, &step);
    if (step == OpenStep::kClientInformation) {
      return Failure(hr, "Create client values");
    }
    if (step == OpenStep::kCreateDevice) {
      return Failure(hr, "Create PortableDevice");
    }
    if (hr == E_ACCESSDENIED) {
      ScanResult result;
      result.status = ScanStatus::kAccessDenied;
      result.hresult = static_cast<int32_t>(hr);
      return result;
    }
    if (FAILED(hr)) return Failure(hr, "Open device");

    ScanResult result;
    ContentAccess access;
    hr = access.Prepare(lease.device());
    if (SUCCEEDED(hr)) {
      hr = access.AddKeys({WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME,
                           WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE});
    }
    if (FAILED(hr)) {
      result = Failure(hr, "Prepare content access");
    } else {
      // As the enumeration: a kept session first, then the probe.
      const WentAwayCheck went_away = [&](HRESULT) {
        if (lease.reused() && attempt == 0) return true;
        return DeviceSessions::DeviceGone(sessions, device_id);
      };
      WalkForScan(access.content.get(), access.properties.get(),
                  access.keys.get(), &result, went_away);
    }
    if (lease.CheckStale(result.hresult) && attempt == 0) {
      continue;
    }
    return result;
  }
}

}  // namespace snapferry
