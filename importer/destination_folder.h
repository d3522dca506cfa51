// The folder the import writes into: held under its lock for the whole
// import, and the folders the import made in it (and for thumbnails),
// removed again at the end when nothing landed in them.

#ifndef SNAPFERRY_IMPORTER_DESTINATION_FOLDER_H_
#define SNAPFERRY_IMPORTER_DESTINATION_FOLDER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "importer/folder_lock.h"

namespace importer {

class DestinationFolder {
 public:
  // `path`: full.
  explicit DestinationFolder(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Makes the folder if need be and takes its lock (`error` as
  // FolderLock::Take). Once it is taken, removes the staging files an import
  // that was ended at once left behind: holding the lock proves no other
  // import writes them. `removed` gets their paths.
  FolderLockOutcome Lock(uint32_t* error, std::vector<std::string>* removed);

  // Makes `folder` and any missing folders above it, remembering those it
  // made (MakeFolders).
  bool Make(const std::string& folder, uint32_t* error);

  // Lets go of the lock and removes the folders made that stayed empty.
  void Release();

 private:
  const std::string path_;
  FolderLock lock_;
  std::vector<std::string> made_;  // outermost first
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_DESTINATION_FOLDER_H_
