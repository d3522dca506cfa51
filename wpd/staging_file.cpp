#include "wpd/staging_file.h"

#include "wpd/object_op_result.h"
#include "wpd/staging_path.h"

namespace snapferry {
namespace {

// The failure code of the file call that just failed. A failure is never
// reported with a success code, even if the system left none behind.
HRESULT LastErrorHresult() {
  HRESULT hr = HresultFromWin32(GetLastError());
  return FAILED(hr) ? hr : E_FAIL;
}

bool SetDeleteMark(HANDLE file, bool mark) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = mark ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                    sizeof(disposition)) != FALSE;
}

}  // namespace

HRESULT StagingFile::Create(const std::string& staging_path) {
  HRESULT hr = FullStagingPath(staging_path, &path_);
  if (FAILED(hr)) return hr;
  // No sharing: nobody reads the staging file before it is complete. DELETE
  // lets the file be marked for deletion through this handle.
  handle_ = CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Taken before any other call can overwrite the thread's last error.
  // Nothing was created, so there is nothing to delete: the path may well
  // be someone else's file that could not be opened.
  if (handle_ == INVALID_HANDLE_VALUE) return LastErrorHresult();
  // A device or a pipe that took the name would swallow the bytes and let
  // the copy say "ok" without a file; it is not ours to remove.
  if (GetFileType(handle_) != FILE_TYPE_DISK) {
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return HresultFromWin32(ERROR_INVALID_NAME);
  }
  marked_ = SetDeleteMark(handle_, true);
  return S_OK;
}

HRESULT StagingFile::Write(const void* data, DWORD size) {
  DWORD written = 0;
  if (!WriteFile(handle_, data, size, &written, nullptr) || written != size) {
    return LastErrorHresult();
  }
  return S_OK;
}

HRESULT StagingFile::Flush() {
  return FlushFileBuffers(handle_) ? S_OK : LastErrorHresult();
}

void StagingFile::SetTimes(const FILETIME* created, const FILETIME* modified) {
  if (created != nullptr || modified != nullptr) {
    SetFileTime(handle_, created, nullptr, modified);
  }
}

HRESULT StagingFile::Keep() {
  // "ok" lets the user delete the phone's copy, so it needs the bytes on
  // disk: a flush, unmarking or close that fails is a failed write.
  HRESULT hr = Flush();
  if (SUCCEEDED(hr) && marked_ && !SetDeleteMark(handle_, false)) {
    hr = LastErrorHresult();
  }
  if (FAILED(hr)) {
    Discard();
    return hr;
  }
  marked_ = false;
  const BOOL closed = CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (!closed) {
    hr = LastErrorHresult();
    DeleteFileW(path_.c_str());
  }
  return hr;
}

void StagingFile::Discard() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  // A marked file went with its handle. Removing it by name as well could
  // remove a file that someone created under that name since.
  if (!marked_) DeleteFileW(path_.c_str());
  marked_ = false;
}

}  // namespace snapferry
