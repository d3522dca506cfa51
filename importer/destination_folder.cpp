#include "importer/destination_folder.h"

#include "importer/file_placement.h"
#include "importer/staging_cleanup.h"

namespace importer {

FolderLockOutcome DestinationFolder::Lock(uint32_t* error,
                                          std::vector<std::string>* removed) {
  // A failure to make it shows as the lock's own.
  MakeFolders(path_, &made_, nullptr);
  const FolderLockOutcome outcome = lock_.Take(path_, error);
  if (outcome == FolderLockOutcome::kTaken) {
    *removed = RemoveLeftStagingFiles(path_);
  }
  return outcome;
}

bool DestinationFolder::Make(const std::string& folder, uint32_t* error) {
  return MakeFolders(folder, &made_, error);
}

void DestinationFolder::Release() {
  lock_.Release();
  // A folder made for files that all failed goes again: removing a folder
  // that is not empty fails and leaves it. Innermost first.
  for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
    RemoveEmptyFolder(*folder);
  }
}

}  // namespace importer
