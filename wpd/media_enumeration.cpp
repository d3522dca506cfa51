#include "wpd/media_enumeration.h"

#include <portabledevice.h>

#include <utility>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/listed_objects.h"
#include "wpd/media_classification.h"
#include "wpd/media_walk.h"

namespace snapferry {
namespace {

// Collects the media files the walk meets. Once a dcim folder is known,
// files outside dcim folders are no longer collected (the final filter
// would drop them); those collected before are dropped at the end, in
// place, keeping the order.
class EnumerationVisitor final : public WalkVisitor {
 public:
  EnumerationVisitor(std::vector<MediaEntry>* entries,
                     const MediaEntryCallback& on_entry)
      : entries_(entries), on_entry_(on_entry) {}

  bool Visit(const WalkedObject& object) override {
    if (object.is_container) {
      if (object.is_dcim && !dcim_found_) {
        dcim_found_ = true;
        outside_dcim_ = entries_->size();
      }
      return true;
    }
    if (object.parent_depth < 1 || (!object.parent_in_dcim && dcim_found_) ||
        ClassifyMedia(object.name) == MediaClass::kOther) {
      return true;
    }
    MediaEntry& entry = entries_->emplace_back();
    AssignUtf8(object.id, &entry.objectId);
    AssignUtf8(object.name, &entry.name);
    entry.parentPath = object.parent_path;
    ReadListedProperties(object.values, &entry.size, &entry.date,
                         &entry.persistentId);
    if (on_entry_) on_entry_(entry);
    return true;
  }

  void Finish() {
    // Everything collected before the first dcim folder lies outside such
    // folders (a file is met after the folders that hold it), and nothing
    // outside them is collected after it.
    entries_->erase(entries_->begin(), entries_->begin() + outside_dcim_);
  }

 private:
  std::vector<MediaEntry>* entries_;
  const MediaEntryCallback& on_entry_;
  bool dcim_found_ = false;
  // Entries collected before the first dcim folder was met.
  size_t outside_dcim_ = 0;
};

// The device went away mid-walk: a partial list would pass for the whole
// device, so none of it is reported.
void StopWalk(HRESULT hr, EnumerationResult* result) {
  result->entries.clear();
  result->unread.clear();
  result->hresult = static_cast<int32_t>(hr);
  result->message = FormatHresultFailure("Enumerate objects", hr);
}

}  // namespace

void WalkForEnumeration(IPortableDeviceContent* content,
                        IPortableDeviceProperties* properties,
                        IPortableDeviceKeyCollection* keys,
                        EnumerationResult* result,
                        const MediaEntryCallback& on_entry,
                        const WentAwayCheck& went_away) {
  EnumerationVisitor visitor(&result->entries, on_entry);
  const HRESULT hr = WalkObjects(content, properties, keys, visitor,
                                 &result->unread, went_away);
  if (FAILED(hr)) return StopWalk(hr, result);
  visitor.Finish();
}

EnumerationResult EnumerateMedia(const std::string& device_id,
                                 const MediaEntryCallback& on_entry,
                                 DeviceSessions* sessions) {
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    EnumerationResult result;
    result.message = kComInitialisationFailed;
    return result;
  }
  // Whether the caller has been told of an entry: after that the listing is
  // not started again.
  bool told = false;
  const MediaEntryCallback tell = [&](const MediaEntry& entry) {
    told = true;
    if (on_entry) on_entry(entry);
  };
  for (int attempt = 0;; ++attempt) {
    EnumerationResult result;
    SessionLease lease;
    HRESULT hr =
        DeviceSessions::Open(sessions, {device_id, GENERIC_READ}, &lease);
    if (FAILED(hr)) {
      result.hresult = static_cast<int32_t>(hr);
      result.message = FormatHresultFailure("Open device", hr);
      return result;
    }
    ContentAccess access;
    hr = access.Prepare(lease.device());
    if (SUCCEEDED(hr)) {
      hr = access.AddKeys({WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME,
                           WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE,
                           WPD_OBJECT_DATE_CREATED, WPD_OBJECT_DATE_MODIFIED,
                           WPD_OBJECT_PERSISTENT_UNIQUE_ID});
    }
    if (FAILED(hr)) {
      result.hresult = static_cast<int32_t>(hr);
      result.message = FormatHresultFailure("Prepare content access", hr);
    } else {
      // A kept session that answers a went-away code before anything was
      // told is tried once more on a fresh one (below); after that, only a
      // probe can tell a phone that went away from one that could not
      // serve one file.
      const WentAwayCheck went_away = [&](HRESULT) {
        if (lease.reused() && attempt == 0 && !told) return true;
        return DeviceSessions::DeviceGone(sessions, device_id);
      };
      WalkForEnumeration(access.content.get(), access.properties.get(),
                         access.keys.get(), &result, tell, went_away);
    }
    if (lease.CheckStale(result.hresult) && attempt == 0 && !told) continue;
    return result;
  }
}

}  // namespace snapferry
