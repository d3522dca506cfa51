// Each device operation's whole result as one line of text, so that a test
// can write the outcome it expects as a table entry and a mismatch shows
// every field at once.
#ifndef SNAPFERRY_TESTS_WPD_DEVICE_OUTCOME_H_
#define SNAPFERRY_TESTS_WPD_DEVICE_OUTCOME_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/wpd/object_op_test_util.h"
#include "wpd/device_discovery.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/object_op_result.h"
#include "wpd/object_thumbnail.h"

namespace snapferry {
namespace test {

inline std::string Hex(int32_t hr) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// "error: <message>", or one "<name>|<manufacturer>|<model>|<apple>" per
// device (ids are checked apart).
inline std::string Outcome(const DeviceList& list) {
  if (!list.message.empty()) return "error: " + list.message;
  std::string text;
  for (const DeviceInfo& device : list.devices) {
    text += device.friendlyName + "|" + device.manufacturer + "|" +
            device.model + "|" + (device.isApple ? "apple" : "other") + ";";
  }
  return text;
}

// " unread <folder>/<objectId> <hresult>;" per item the walk passed over.
inline std::string Outcome(const std::vector<UnreadItem>& unread) {
  std::string text;
  for (const UnreadItem& item : unread) {
    text += " unread " + item.folder + "/" + item.objectId + " " +
            Hex(item.hresult) + ";";
  }
  return text;
}

// "<status> <hresult> \"<error>\" dcim=<0|1> [<children>] <photos>/<videos>/
// <screenshots>/<sidecars>/<others> <bytes>", then the unread items.
inline std::string Outcome(const ScanResult& scan) {
  std::string children;
  for (size_t i = 0; i < scan.storageChildren.size(); ++i) {
    children += (i == 0 ? "" : ",") + scan.storageChildren[i];
  }
  const MediaCounters& c = scan.counts;
  return std::string(ScanStatusText(scan.status)) + " " + Hex(scan.hresult) +
         " \"" + scan.error + "\" dcim=" + (scan.dcimFound ? "1" : "0") + " [" +
         children + "] " + std::to_string(c.photos) + "/" +
         std::to_string(c.videos) + "/" + std::to_string(c.screenshots) + "/" +
         std::to_string(c.sidecars) + "/" + std::to_string(c.others) + " " +
         std::to_string(c.totalBytes) + Outcome(scan.unread);
}

// "error <hresult> \"<message>\"", or "ok" and one
// "<id> <name> <parent> <size> <date>;" per entry, then the unread items.
inline std::string Outcome(const EnumerationResult& listing) {
  if (!listing.message.empty()) {
    return "error " + Hex(listing.hresult) + " \"" + listing.message + "\"";
  }
  std::string text = "ok";
  for (const MediaEntry& entry : listing.entries) {
    text += " " + entry.objectId + " " + entry.name + " " + entry.parentPath +
            " " + std::to_string(entry.size) + " " +
            std::string(entry.date.view()) + ";";
  }
  return text + Outcome(listing.unread);
}

inline std::string Outcome(const ObjectOpResult& result) {
  return Describe(result);
}

// "error <hresult> \"<message>\"", "none", or "thumbnail <size>" when the
// bytes are the simulator's pattern (byte i is i mod 251), else
// "thumbnail <size> corrupt".
inline std::string Outcome(const ThumbnailResult& thumbnail) {
  if (!thumbnail.message.empty()) {
    return "error " + Hex(thumbnail.hresult) + " \"" + thumbnail.message + "\"";
  }
  if (!thumbnail.present) return "none";
  bool pattern = true;
  for (size_t i = 0; i < thumbnail.bytes.size(); ++i) {
    pattern = pattern && thumbnail.bytes[i] == i % 251;
  }
  return "thumbnail " + std::to_string(thumbnail.bytes.size()) +
         (pattern ? "" : " corrupt");
}

inline std::string Outcome(int32_t can_delete) {
  return "canDelete=" + std::to_string(can_delete);
}

}  // namespace test
}  // namespace snapferry

#endif  // SNAPFERRY_TESTS_WPD_DEVICE_OUTCOME_H_
