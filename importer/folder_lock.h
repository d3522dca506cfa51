// One import per destination folder. An import holds a lock file in the
// folder, opened without sharing, for as long as it runs: a second import
// into the same folder cannot open it, from any process, and the system
// lets go of it when the holder ends, however it ends. A lock file left by
// a killed import is simply opened again by the next one.

#ifndef SNAPFERRY_IMPORTER_FOLDER_LOCK_H_
#define SNAPFERRY_IMPORTER_FOLDER_LOCK_H_

#include <cstdint>
#include <string>

namespace importer {

// The lock file's name in the destination folder (hidden on both
// platforms). It is never imported and never counts as already there.
inline constexpr char kFolderLockFileName[] = ".snapferry-import.lock";

enum class FolderLockOutcome {
  kTaken,
  kHeldByAnotherImport,
  kFailed,  // the folder is missing or cannot hold the lock file
};

class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock() { Release(); }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;

  // Takes the lock on `folder` (UTF-8 path; it must exist), after releasing
  // any lock held before. Unless it is taken, `error` (when not null) gets
  // the system's code: ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED when
  // another import holds it, the code of the failure otherwise.
  FolderLockOutcome Take(const std::string& folder, uint32_t* error);

  // Closes the lock file and removes it where it can: a removal that fails
  // is fine, another import may hold the file by now. Nothing when no lock
  // is held.
  void Release();

  bool held() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;  // the lock file's HANDLE while held
  std::wstring path_;       // the lock file's path while held
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_FOLDER_LOCK_H_
