// Files over POSIX descriptors, with Windows's dispositions, share modes and
// error codes.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <winbase.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/src/failure_injection.h"
#include "platform/win32/src/wide_text.h"
#include "win32_standin/control.h"

namespace win32_standin {
namespace {

struct FileObject {
  int fd;
  dev_t device;
  ino_t inode;
  bool reads, writes, deletes;  // the access it was opened with
  DWORD share;
};

std::mutex files_mutex;  // guards the open-file list and every sharing check
std::vector<FileObject*>& OpenFiles() {
  static auto* files = new std::vector<FileObject*>();
  return *files;
}

internal::InjectedFailure& CreateFailure() {
  static internal::InjectedFailure failure;
  return failure;
}
internal::InjectedFailure& WriteFailure() {
  static internal::InjectedFailure failure;
  return failure;
}

std::string PosixPath(LPCWSTR name) {
  std::string path = internal::NarrowFromWide(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool ParentExists(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;  // the current directory
  if (slash == 0) return true;
  struct stat info;
  return stat(path.substr(0, slash).c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode);
}

// The Windows code for a failed call on `path`.
DWORD ErrorFromErrno(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

bool Conflicts(const FileObject& open, bool reads, bool writes, bool deletes,
               DWORD share) {
  return (reads && !(open.share & FILE_SHARE_READ)) ||
         (writes && !(open.share & FILE_SHARE_WRITE)) ||
         (deletes && !(open.share & FILE_SHARE_DELETE)) ||
         (open.reads && !(share & FILE_SHARE_READ)) ||
         (open.writes && !(share & FILE_SHARE_WRITE)) ||
         (open.deletes && !(share & FILE_SHARE_DELETE));
}

bool SharingBlocks(const struct stat& info, bool reads, bool writes,
                   bool deletes, DWORD share) {
  for (const FileObject* open : OpenFiles()) {
    if (open->device == info.st_dev && open->inode == info.st_ino &&
        Conflicts(*open, reads, writes, deletes, share)) {
      return true;
    }
  }
  return false;
}

FileObject* FindFile(HANDLE handle) {
  for (FileObject* open : OpenFiles()) {
    if (open == handle) return open;
  }
  return nullptr;
}

}  // namespace

void FailCreateFileW(DWORD error, int times) {
  CreateFailure().Arm(static_cast<int32_t>(error), times);
}

void FailWriteFile(DWORD error, int times) {
  WriteFailure().Arm(static_cast<int32_t>(error), times);
}

int OpenFileHandleCount() {
  std::lock_guard<std::mutex> lock(files_mutex);
  return static_cast<int>(OpenFiles().size());
}

namespace internal {
void ResetFileFailures() {
  CreateFailure().Clear();
  WriteFailure().Clear();
}
}  // namespace internal

}  // namespace win32_standin

using win32_standin::FileObject;

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                          LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
  int32_t injected;
  if (win32_standin::CreateFailure().Take(&injected)) {
    SetLastError(static_cast<DWORD>(injected));
    return INVALID_HANDLE_VALUE;
  }
  if (name == nullptr || disposition < CREATE_NEW ||
      disposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = win32_standin::PosixPath(name);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const bool reads = (access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE |
                                FILE_READ_DATA)) != 0;
  const bool writes = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA |
                                 FILE_APPEND_DATA)) != 0;
  const bool deletes = (access & (DELETE | GENERIC_ALL)) != 0;

  std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
  struct stat info;
  const bool existed = stat(path.c_str(), &info) == 0;
  if (existed && S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (existed && disposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  if (!existed &&
      (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) {
    SetLastError(win32_standin::ErrorFromErrno(ENOENT, path));
    return INVALID_HANDLE_VALUE;
  }
  // Checked before anything is truncated: a refused opener changes nothing.
  if (existed &&
      win32_standin::SharingBlocks(info, reads, writes, deletes, share)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  int flags = O_CLOEXEC;
  flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  if (disposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
    flags |= O_CREAT;
  if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
    if (!writes && disposition == TRUNCATE_EXISTING) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    flags |= O_TRUNC;
  }
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) {
    SetLastError(win32_standin::ErrorFromErrno(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  struct stat opened;
  fstat(fd, &opened);
  auto* file = new FileObject{fd,     opened.st_dev, opened.st_ino, reads,
                              writes, deletes,       share};
  win32_standin::OpenFiles().push_back(file);
  // Windows reports that an existing file was opened or overwritten.
  const bool reports_existing =
      existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reports_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return file;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD size,
                      LPDWORD written, LPOVERLAPPED) {
  if (written != nullptr) *written = 0;
  int fd;
  {
    std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
    FileObject* file = win32_standin::FindFile(handle);
    if (file == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (!file->writes) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    fd = file->fd;
  }
  int32_t injected;
  if (win32_standin::WriteFailure().Take(&injected)) {
    SetLastError(static_cast<DWORD>(injected));
    return FALSE;
  }
  const char* at = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < size) {
    const ssize_t count = write(fd, at + done, size - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      if (written != nullptr) *written = done;
      SetLastError(win32_standin::ErrorFromErrno(errno, std::string()));
      return FALSE;
    }
    done += static_cast<DWORD>(count);
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
    FileObject* file = win32_standin::FindFile(handle);
    if (file == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    // Windows needs write access to flush.
    if (!file->writes) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    fd = file->fd;
  }
  if (fsync(fd) != 0) {
    SetLastError(win32_standin::ErrorFromErrno(errno, std::string()));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  FileObject* file = nullptr;
  {
    std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
    auto& files = win32_standin::OpenFiles();
    auto it = std::find(files.begin(), files.end(), handle);
    if (it != files.end()) {
      file = *it;
      files.erase(it);
    }
  }
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  close(file->fd);
  delete file;
  return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = win32_standin::PosixPath(name);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    SetLastError(win32_standin::ErrorFromErrno(errno, path));
    return FALSE;
  }
  if (S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // Deleting opens the file for DELETE access, sharing everything.
  if (win32_standin::SharingBlocks(
          info, false, false, true,
          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(win32_standin::ErrorFromErrno(errno, path));
    return FALSE;
  }
  return TRUE;
}
