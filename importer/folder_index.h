// What the destination's folders already hold, each read once: the plan
// and the check at the end ask about every file of the roll, and searching
// a folder once per file reads a large folder over and over (10,000 files
// already there took seconds).
//
// A folder is read in one pass the first time it is asked about, and its
// names are kept by the photo name each could be a copy of: the name itself
// and, for "IMG_0001 (2).HEIC", also IMG_0001.HEIC with number 2, ASCII
// letter case ignored. That is only a sieve: a candidate counts when the
// file system finds it under the photo's own spelling, so names compare as
// the folder's file system compares them (loosely on Windows, strictly on
// Linux), with no platform test here.

#ifndef SNAPFERRY_IMPORTER_FOLDER_INDEX_H_
#define SNAPFERRY_IMPORTER_FOLDER_INDEX_H_

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

namespace importer {

// Folders are read as they stood when first asked about: make a new index
// once files were placed.
class FolderIndex {
 public:
  // The name under which `folder` (UTF-8 path) holds a file of `size` bytes
  // (any size when `size` is negative) named `name` or one of its numbered
  // variants, the lowest number first; none otherwise, and none in a folder
  // that cannot be read. Folders never count.
  std::optional<std::string> FindCopy(const std::string& folder,
                                      const std::string& name, int64_t size);

 private:
  // The numbers listed, by the name they would be a copy of in ASCII lower
  // case: 1 for the name itself.
  using Listing = std::unordered_map<std::string, std::set<int>>;
  const Listing& Read(const std::string& folder);

  std::unordered_map<std::string, Listing> folders_;  // by path
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_FOLDER_INDEX_H_
