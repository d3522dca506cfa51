#include "importer/folder_lock.h"

#include <windows.h>

#include <utility>

#include "importer/file_placement.h"

namespace importer {
namespace {

// True when a lock file that refused us with ERROR_ACCESS_DENIED is one
// whose deletion is pending (its holder released it, and a scanner still
// has it open): even its attributes are refused then. A read-only file or
// a folder we may not write to answers its attributes, and is a failure.
bool DeletionPending(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
         GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

FolderLock::FolderLock(FolderLock&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

FolderLockOutcome FolderLock::Take(const std::string& folder, uint32_t* error) {
  Release();
  // Not delete-on-close: a name that vanished with its holder would let the
  // next import create a second lock file beside a holder still running.
  const std::wstring path = Win32Path(JoinPath(folder, kFolderLockFileName));
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (error != nullptr) *error = code;
    const bool held = code == ERROR_SHARING_VIOLATION ||
                      (code == ERROR_ACCESS_DENIED && DeletionPending(path));
    return held ? FolderLockOutcome::kHeldByAnotherImport
                : FolderLockOutcome::kFailed;
  }
  handle_ = file;
  path_ = path;
  return FolderLockOutcome::kTaken;
}

void FolderLock::Release() {
  if (handle_ == nullptr) return;
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  // Another import may have opened it since the close: then this fails
  // with a sharing violation and the file stays, as it should.
  DeleteFileW(path_.c_str());
  path_.clear();
}

}  // namespace importer
