// A file of the camera roll as the import sees it: where it came from on
// the phone and where it goes in the folder.

#ifndef SNAPFERRY_IMPORTER_MEDIA_FILE_H_
#define SNAPFERRY_IMPORTER_MEDIA_FILE_H_

#include <cstdint>
#include <string>

#include "messaging/encodable_value.h"

namespace importer {

// Copies (and thumbnail requests) of one file in one import: a file whose
// copy keeps meeting a went-away code, whether the phone comes back or
// never left, fails after this many.
inline constexpr int kAttemptsPerFile = 3;

struct MediaFile {
  std::string object_id;
  std::string name;         // made safe
  std::string folder_name;  // made safe; empty: the top folder
  std::string folder;       // full path
  int64_t size = 0;         // as listed; 0: the listing did not tell
};

// The file of one listed entry, in its folder under `destination`.
MediaFile FileOf(const flutter::EncodableValue& entry,
                 const std::string& destination);

// A file's identity across connections (object ids change on a replug): its
// folder and name (Ledger::Key).
std::string Key(const MediaFile& file);

// How lines name the file: "202610_a/IMG_0001.HEIC".
std::string DisplayName(const MediaFile& file);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_MEDIA_FILE_H_
