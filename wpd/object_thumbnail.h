#ifndef SNAPFERRY_WPD_OBJECT_THUMBNAIL_H_
#define SNAPFERRY_WPD_OBJECT_THUMBNAIL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace snapferry {

class DeviceSessions;
class PendingCopies;

// How a cancel reaches a running thumbnail read: `requested` is asked
// before the stream opens and between reads, and the open stream is in
// `streams`, whose CancelAll ends a read that hangs in the device.
struct ThumbnailCancel {
  std::function<bool()> requested;
  PendingCopies* streams = nullptr;
};

// A thumbnail larger than this is taken as none: a phone's are 5 to 12 KB,
// and more is not read into memory.
inline constexpr size_t kMaxThumbnailBytes = 1 << 20;  // 1 MiB

struct ThumbnailResult {
  // Whether the object has a thumbnail; `bytes` holds it when it has.
  bool present = false;
  std::vector<uint8_t> bytes;
  // The read was cancelled: nothing else holds.
  bool cancelled = false;
  // Empty unless the read failed; a non-empty one marks the failure.
  std::string message;
  int32_t hresult = 0;  // the failing step's HRESULT
};

// Reads the object's WPD_RESOURCE_THUMBNAIL to its end. No thumbnail (the
// device answers GetStream with ERROR_NOT_FOUND, E_NOTIMPL,
// ERROR_NOT_SUPPORTED or E_INVALIDARG, or the resource is empty or larger
// than kMaxThumbnailBytes) is not a failure: `present` stays false. Any other
// failure is told as "<step> failed (HRESULT 0x...)" with the steps "Open
// device", "Open transfer", "Open thumbnail stream" and "Read from device";
// a worker that cannot join COM gets "COM initialisation failed" and
// hresult 0. Runs on the calling thread in a COM apartment of its own, on a
// session of `sessions` (null: one opened and closed for this read). Once
// `cancel` says so, the read ends `cancelled`, whatever an aborted read
// answered: the code belongs to the device, the cancel to the user.
ThumbnailResult ReadThumbnail(const std::string& device_id,
                              const std::string& object_id,
                              DeviceSessions* sessions = nullptr,
                              const ThumbnailCancel& cancel = {});

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_OBJECT_THUMBNAIL_H_
