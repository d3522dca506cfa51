#ifndef SNAPFERRY_WPD_MEDIA_ENUMERATION_H_
#define SNAPFERRY_WPD_MEDIA_ENUMERATION_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wpd/device_sessions.h"
#include "wpd/media_walk.h"

namespace snapferry {


// One media file on the device. Texts are UTF-8.
struct MediaEntry {
  std::string objectId;
  std::string name;        // original file name, else object name
  std::string parentPath;  // the name of the containing folder, one level
  uint64_t size = 0;       // 0 when the device does not say
  DateText date;           // creation date, else modification date, else ""
  // WPD_OBJECT_PERSISTENT_UNIQUE_ID, "" when unreadable. Not in the reply:
  // kept to check that an id still names this object (listed_objects.h).
  std::string persistentId;
};

struct EnumerationResult {
  std::vector<MediaEntry> entries;
  // What the walk passed over (media_walk.h): only at or below dcim folders
  // when the device has one. Empty on failure.
  std::vector<UnreadItem> unread;
  std::string message;  // empty on success; a non-empty one marks failure
  int32_t hresult = 0;  // the failing step's HRESULT
};

// Told of each entry as it is collected, in result order, on the walking
// thread. The result holds every entry told, except on a device where a
// folder named dcim turns up only after files outside such folders were
// collected: the result then drops those, told already. The walk cannot know
// sooner without holding every entry back to its end, and a phone of today
// has no dcim folder at all, while older ones list it before their files.
using MediaEntryCallback = std::function<void(const MediaEntry&)>;

// Lists the device's photos, videos, screenshots and sidecars; only those
// at or below a folder named dcim when the device has one. Joins COM itself.
// The session comes from `sessions` when given; a kept one that answers
// that the device went away before any entry was told is dropped and the
// listing starts again on a new one. A went-away code after that is probed
// (DeviceSessions::DeviceGone): if the device is still there, what answered
// it is passed over and recorded as unread; if not, the listing fails.
EnumerationResult EnumerateMedia(const std::string& device_id,
                                 const MediaEntryCallback& on_entry = nullptr,
                                 DeviceSessions* sessions = nullptr);

// The walk of an opened device, over content access prepared with the
// enumeration's seven keys: fills `result->entries` and `result->unread`,
// or the failure when `went_away` (WalkObjects) stops the walk. Separate
// from EnumerateMedia so that a test can walk a content interface of its
// own making.
void WalkForEnumeration(IPortableDeviceContent* content,
                        IPortableDeviceProperties* properties,
                        IPortableDeviceKeyCollection* keys,
                        EnumerationResult* result,
                        const MediaEntryCallback& on_entry = nullptr,
                        const WentAwayCheck& went_away = nullptr);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_MEDIA_ENUMERATION_H_
