#ifndef SNAPFERRY_WPD_STAGING_FILE_H_
#define SNAPFERRY_WPD_STAGING_FILE_H_

#include <windows.h>

#include <string>

namespace snapferry {

// The staging file of one copy. It is marked for deletion as soon as it is
// created, so the file system removes it when its handle goes, however the
// process ends; only Keep() clears the mark, once the bytes are on disk.
// Destroying an open StagingFile discards it.
class StagingFile {
 public:
  StagingFile() = default;
  ~StagingFile() { Discard(); }
  StagingFile(const StagingFile&) = delete;
  StagingFile& operator=(const StagingFile&) = delete;

  // Creates (or truncates) the file at `staging_path` (UTF-8) with no
  // sharing. Returns S_OK, or the failure with nothing created or removed:
  // HRESULT_FROM_WIN32 of the system's error, or of ERROR_INVALID_NAME for a
  // path that is not an ordinary file's (see FullStagingPath) or that turns
  // out to name a device or pipe rather than a disk file.
  HRESULT Create(const std::string& staging_path);

  // Writes all of `data`; on failure returns the error as an HRESULT
  // (never a success code).
  HRESULT Write(const void* data, DWORD size);

  // Puts what was written so far on disk; on failure returns the error as
  // an HRESULT (never a success code). The file stays open and marked.
  HRESULT Flush();

  // Sets the creation and last-write times (UTC; either may be null).
  // A failure changes nothing else and is not reported.
  void SetTimes(const FILETIME* created, const FILETIME* modified);

  // Flushes, clears the mark and closes. On failure the file is gone and
  // the error is returned.
  HRESULT Keep();

  // Closes and removes the file, if open.
  void Discard();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
  // False where the file system refused the mark: the file is then removed
  // by name when discarded, as it is the only way left.
  bool marked_ = false;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_STAGING_FILE_H_
