#ifndef SNAPFERRY_WPD_MEDIA_SCAN_H_
#define SNAPFERRY_WPD_MEDIA_SCAN_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "wpd/device_sessions.h"
#include "wpd/media_classification.h"
#include "wpd/media_walk.h"

namespace snapferry {


// What a scan found out about the device's storage.
enum class ScanStatus : int {
  kOk = 0,            // storage found, with something in it
  kAccessDenied = 1,  // the device refused to open (E_ACCESSDENIED)
  kNoStorage = 2,     // no functional object under the root
  kEmptyStorage = 3,  // storage, but nothing directly inside any of it
  kError = 4,         // another failure; the error text names the step
};

// The text the interface knows the status by ("ok", "accessDenied", ...).
const char* ScanStatusText(ScanStatus status);

struct MediaCounters {
  uint64_t photos = 0;
  uint64_t videos = 0;
  uint64_t screenshots = 0;
  uint64_t sidecars = 0;
  uint64_t others = 0;
  uint64_t totalBytes = 0;

  // One more file of `media_class`, `size` bytes long.
  void Count(MediaClass media_class, uint64_t size);
};

struct ScanResult {
  ScanStatus status = ScanStatus::kOk;
  bool dcimFound = false;
  int32_t hresult = 0;  // the failing HRESULT, 0 when none
  // Names of the first objects inside the storages, at most 12.
  std::vector<std::string> storageChildren;
  // Below the camera-roll folders when there are any, else everywhere.
  MediaCounters counts;
  std::string error;  // empty when none
  // What the walk passed over (media_walk.h), by the same dcim rule as the
  // counts. Empty on failure; not part of the reply.
  std::vector<UnreadItem> unread;
};

inline constexpr size_t kMaxStorageChildren = 12;

// Opens the device, walks its whole tree and says what it holds. Always
// gives a result; failures are described inside it. Joins COM itself. The
// session comes from `sessions` when given (the scan's own: it declares
// another client version); a kept one that answers that the device went
// away is dropped and the scan starts again on a new one; after that a
// went-away code is probed, as the enumeration does.
ScanResult ScanMedia(const std::string& device_id,
                     DeviceSessions* sessions = nullptr);

// The walk of an opened device, over content access prepared with the
// scan's four keys: fills the counts, names, dcimFound, unread items and
// status of `result`, or the failure when `went_away` (WalkObjects) stops
// the walk. Separate from ScanMedia so that a test can walk a content
// interface of its own making.
void WalkForScan(IPortableDeviceContent* content,
                 IPortableDeviceProperties* properties,
                 IPortableDeviceKeyCollection* keys, ScanResult* result,
                 const WentAwayCheck& went_away = nullptr);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_MEDIA_SCAN_H_
