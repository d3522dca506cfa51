// Files over POSIX descriptors, with Windows's dispositions, share modes and
// error codes.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <winbase.h>

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/src/failure_injection.h"
#include "platform/win32/src/wide_text.h"
#include "win32_standin/control.h"

namespace win32_standin {
namespace internal {
// The device a path names ("NUL" for "nul.txt"), or empty for a file.
std::wstring DosDeviceName(const std::wstring& name);
}  // namespace internal

namespace {

struct FileObject {
  int fd;
  dev_t device;
  ino_t inode;
  bool reads, writes, deletes;  // the access it was opened with
  DWORD share;
  int lock;  // the flock it holds for other processes: 0, LOCK_SH, LOCK_EX
  std::string path;  // as opened, for giving a marked file its name back
  // Set while the file is marked for deletion: its folder and name, which
  // this process cannot open or delete meanwhile.
  bool delete_pending = false;
  dev_t folder_device = 0;
  ino_t folder_inode = 0;
  std::string leaf;
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

internal::InjectedFailure& FlushFailure() {
  static internal::InjectedFailure failure;
  return failure;
}

using internal::PosixPath;

bool IsNullDevice(const std::wstring& device) {
  return device.size() == 3 && std::towupper(device[0]) == L'N' &&
         std::towupper(device[1]) == L'U' && std::towupper(device[2]) == L'L';
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}
std::string LeafOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

// The error for opening `path` with the given access when it names a file
// of this process whose deletion is pending: a sharing violation when the
// holder's share mode refuses the opener (sharing is checked first, as Wine
// does), else access denied (STATUS_DELETE_PENDING). ERROR_SUCCESS when no
// deletion is pending there.
DWORD DeletionPendingError(const std::string& path, bool reads, bool writes,
                           bool deletes, DWORD share) {
  struct stat folder;
  if (stat(FolderOf(path).c_str(), &folder) != 0) return ERROR_SUCCESS;
  const std::string leaf = LeafOf(path);
  for (const FileObject* open : OpenFiles()) {
    if (open->delete_pending && open->folder_device == folder.st_dev &&
        open->folder_inode == folder.st_ino && open->leaf == leaf) {
      return Conflicts(*open, reads, writes, deletes, share)
                 ? static_cast<DWORD>(ERROR_SHARING_VIOLATION)
                 : static_cast<DWORD>(ERROR_ACCESS_DENIED);
    }
  }
  return ERROR_SUCCESS;
}

FileObject* FindFile(HANDLE handle) {
  for (FileObject* open : OpenFiles()) {
    if (open == handle) return open;
  }
  return nullptr;
}

// Other processes see share mode 0 through an advisory lock on the file: a
// handle with data access and no sharing holds LOCK_EX, any other handle
// with data access LOCK_SH, so each refuses the other. The system drops the
// lock when the process ends, also when it is killed, as Windows closes a
// killed process's handles. Share modes other than 0 bind this process only.
int CrossProcessLock(bool data_access, DWORD share) {
  if (!data_access) return 0;  // Windows checks no sharing for such a handle
  return share == 0 ? LOCK_EX : LOCK_SH;
}

// Takes `lock` on `fd`: false when another process's handle refuses it. A
// file system without flock shares files as if nobody held one.
bool TakeCrossProcessLock(int fd, int lock) {
  if (lock == 0 || flock(fd, lock | LOCK_NB) == 0) return true;
  return errno != EWOULDBLOCK;
}

// True when `path` still names the file open on `fd`: a lock taken on a
// file whose name another process removed meanwhile keeps nobody out.
bool NameStillLeadsTo(const std::string& path, int fd) {
  struct stat named, opened;
  return stat(path.c_str(), &named) == 0 && fstat(fd, &opened) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

}  // namespace

void FailCreateFileW(DWORD error, int times) {
  CreateFailure().Arm(static_cast<int32_t>(error), times);
}

void FailWriteFile(DWORD error, int times) {
  WriteFailure().Arm(static_cast<int32_t>(error), times);
}

void FailFlushFileBuffers(DWORD error, int times) {
  FlushFailure().Arm(static_cast<int32_t>(error), times);
}

int OpenFileHandleCount() {
  std::lock_guard<std::mutex> lock(files_mutex);
  return static_cast<int>(OpenFiles().size());
}

namespace internal {
void ResetFileFailures() {
  CreateFailure().Clear();
  WriteFailure().Clear();
  FlushFailure().Clear();
}

DWORD PendingDeletionError(const std::string& path) {
  std::lock_guard<std::mutex> lock(files_mutex);
  return DeletionPendingError(
      path, false, false, false,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

DWORD RenameSharingError(const std::string& from) {
  // A rename opens its source for DELETE access, sharing everything.
  const DWORD every_share =
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  std::lock_guard<std::mutex> lock(files_mutex);
  if (const DWORD pending =
          DeletionPendingError(from, false, false, true, every_share)) {
    return pending;
  }
  struct stat info;
  if (stat(from.c_str(), &info) == 0 &&
      SharingBlocks(info, false, false, true, every_share)) {
    return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

int DescriptorOf(HANDLE handle, bool* writes) {
  std::lock_guard<std::mutex> lock(files_mutex);
  FileObject* file = FindFile(handle);
  if (file == nullptr) return -1;
  if (writes != nullptr) *writes = file->writes;
  return file->fd;
}
}  // namespace internal

namespace {

// CreateFileW after its arguments are checked, with files_mutex held.
// `renamed` is set (and nothing opened) when the name stopped leading to
// the file between its open and its lock.
HANDLE OpenFile(const std::string& path, bool reads, bool writes, bool deletes,
                DWORD share, DWORD disposition, bool* renamed) {
  if (const DWORD pending =
          DeletionPendingError(path, reads, writes, deletes, share)) {
    SetLastError(pending);
    return INVALID_HANDLE_VALUE;
  }
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
    SetLastError(ErrorFromErrno(ENOENT, path));
    return INVALID_HANDLE_VALUE;
  }
  // Checked before anything is truncated: a refused opener changes nothing.
  if (existed && SharingBlocks(info, reads, writes, deletes, share)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  int flags = O_CLOEXEC;
  flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  if (disposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
    flags |= O_CREAT;
  const bool truncates =
      disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (truncates && !writes) {
    if (disposition == TRUNCATE_EXISTING) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    flags |= O_TRUNC;  // a read-only descriptor cannot truncate later
  }
  // Never blocks: a FIFO without a reader is an error here, not a hang.
  const int fd = open(path.c_str(), flags | O_NONBLOCK, 0666);
  if (fd < 0) {
    SetLastError(errno == ENXIO ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND)
                                : ErrorFromErrno(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat opened;
  fstat(fd, &opened);
  const int cross_process_lock =
      S_ISREG(opened.st_mode)
          ? CrossProcessLock(reads || writes || deletes, share)
          : 0;
  if (!TakeCrossProcessLock(fd, cross_process_lock)) {
    close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (cross_process_lock == LOCK_EX && !NameStillLeadsTo(path, fd)) {
    close(fd);
    *renamed = true;
    // What a caller sees if the name never settles: someone else is at it.
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  // Truncated only now, when no other process's handle refuses this one.
  if (truncates && writes && S_ISREG(opened.st_mode) && ftruncate(fd, 0) != 0) {
    const int error = errno;
    close(fd);
    SetLastError(ErrorFromErrno(error, path));
    return INVALID_HANDLE_VALUE;
  }
  auto* file = new FileObject();
  *file = {
      fd,           opened.st_dev,      opened.st_ino, reads, writes, deletes,
      share,        cross_process_lock, path,          false, 0,      0,
      std::string()};
  OpenFiles().push_back(file);
  // Windows reports that an existing file was opened or overwritten.
  const bool reports_existing =
      existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reports_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return file;
}

}  // namespace
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
  std::string path = win32_standin::PosixPath(name);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (const DWORD refused = win32_standin::internal::RefusedPathError(name)) {
    SetLastError(refused);
    return INVALID_HANDLE_VALUE;
  }
  // "NUL", "dir\\nul.txt" and "\\\\.\\NUL" name the null device; no other
  // device exists here.
  const std::wstring device = win32_standin::internal::DosDeviceName(name);
  if (!device.empty()) {
    if (!win32_standin::IsNullDevice(device)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    path = "/dev/null";
  }
  const bool reads = (access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE |
                                FILE_READ_DATA)) != 0;
  const bool writes = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA |
                                 FILE_APPEND_DATA)) != 0;
  const bool deletes = (access & (DELETE | GENERIC_ALL)) != 0;

  std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
  // Another process may remove the name between the open and the lock:
  // then the open is made again, on what the name leads to now.
  for (int attempt = 0;; ++attempt) {
    bool renamed = false;
    HANDLE handle = win32_standin::OpenFile(path, reads, writes, deletes, share,
                                            disposition, &renamed);
    if (!renamed || attempt == 8) return handle;
  }
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
  int32_t injected;
  if (win32_standin::FlushFailure().Take(&injected)) {
    SetLastError(static_cast<DWORD>(injected));
    return FALSE;
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
  if (const DWORD refused = win32_standin::internal::RefusedPathError(name)) {
    SetLastError(refused);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
  // Deleting opens the file for DELETE access, sharing everything.
  const DWORD every_share =
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (const DWORD pending = win32_standin::DeletionPendingError(
          path, false, false, true, every_share)) {
    SetLastError(pending);
    return FALSE;
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    SetLastError(win32_standin::ErrorFromErrno(errno, path));
    return FALSE;
  }
  if (S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (win32_standin::SharingBlocks(info, false, false, true, every_share)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  // Another process's handle without sharing keeps the file too. The probe
  // is held until the name is gone, as Windows's delete holds its handle, so
  // that nobody locks the file in between and is left holding a nameless one.
  const int probe =
      S_ISREG(info.st_mode) ? open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  if (probe >= 0 && !win32_standin::TakeCrossProcessLock(probe, LOCK_SH)) {
    close(probe);
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  const bool removed = unlink(path.c_str()) == 0;
  const int error = errno;
  if (probe >= 0) close(probe);
  if (!removed) {
    SetLastError(win32_standin::ErrorFromErrno(error, path));
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileType(HANDLE handle) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
    FileObject* file = win32_standin::FindFile(handle);
    if (file == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FILE_TYPE_UNKNOWN;
    }
    fd = file->fd;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    SetLastError(win32_standin::ErrorFromErrno(errno, std::string()));
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  if (S_ISREG(info.st_mode)) return FILE_TYPE_DISK;
  if (S_ISCHR(info.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_UNKNOWN;
}

namespace win32_standin {
namespace {

// Moves the file behind `file` into an unnamed file in its folder and
// removes its name, so that nothing of it is left if the process ends
// before the mark is cleared. Called with files_mutex held.
DWORD MarkForDeletion(FileObject& file) {
  struct stat info;
  if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return ERROR_INVALID_PARAMETER;
  }
  for (const FileObject* other : OpenFiles()) {
    if (other != &file && other->device == info.st_dev &&
        other->inode == info.st_ino) {
      return ERROR_NOT_SUPPORTED;
    }
  }
  const std::string folder_path = FolderOf(file.path);
  struct stat folder;
  if (stat(folder_path.c_str(), &folder) != 0) {
    return ErrorFromErrno(errno, file.path);
  }
  const int unnamed =
      open(folder_path.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed < 0) {
    return errno == EOPNOTSUPP || errno == EISDIR ? ERROR_NOT_SUPPORTED
                                                  : ErrorFromErrno(errno, "");
  }
  // The bytes so far (none, right after creation) come along.
  const int source = open(("/proc/self/fd/" + std::to_string(file.fd)).c_str(),
                          O_RDONLY | O_CLOEXEC);
  bool copied = source >= 0;
  char buffer[65536];
  while (copied) {
    const ssize_t count = read(source, buffer, sizeof(buffer));
    if (count <= 0) {
      copied = count == 0;
      break;
    }
    copied = write(unnamed, buffer, static_cast<size_t>(count)) == count;
  }
  if (source >= 0) close(source);
  const off_t position = lseek(file.fd, 0, SEEK_CUR);
  if (!copied || fchmod(unnamed, info.st_mode & 07777) != 0 ||
      lseek(unnamed, position, SEEK_SET) != position ||
      unlink(file.path.c_str()) != 0) {
    const int error = errno;
    close(unnamed);
    return ErrorFromErrno(error, file.path);
  }
  // The handle keeps its descriptor number and its access.
  const int flags = fcntl(file.fd, F_GETFL) & O_ACCMODE;
  if (flags == O_WRONLY || flags == O_RDWR) {
    dup3(unnamed, file.fd, O_CLOEXEC);
  } else {
    // A read-only handle reads the unnamed copy through a read-only view.
    const int view = open(("/proc/self/fd/" + std::to_string(unnamed)).c_str(),
                          O_RDONLY | O_CLOEXEC);
    if (view >= 0) {
      lseek(view, position, SEEK_SET);
      dup3(view, file.fd, O_CLOEXEC);
      close(view);
    }
  }
  close(unnamed);
  // The lock went with the old descriptor; the unnamed file is nobody
  // else's, so it takes the lock at once, and keeps it if its name returns.
  TakeCrossProcessLock(file.fd, file.lock);
  struct stat now;
  fstat(file.fd, &now);
  file.device = now.st_dev;
  file.inode = now.st_ino;
  file.delete_pending = true;
  file.folder_device = folder.st_dev;
  file.folder_inode = folder.st_ino;
  file.leaf = LeafOf(file.path);
  return ERROR_SUCCESS;
}

// Gives a marked file its name back. Called with files_mutex held.
DWORD ClearDeletionMark(FileObject& file) {
  const std::string self = "/proc/self/fd/" + std::to_string(file.fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.path.c_str(),
             AT_SYMLINK_FOLLOW) != 0) {
    // Another process took the name meanwhile; the file stays marked.
    return errno == EEXIST ? static_cast<DWORD>(ERROR_FILE_EXISTS)
                           : ErrorFromErrno(errno, file.path);
  }
  file.delete_pending = false;
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace win32_standin

BOOL WINAPI SetFileInformationByHandle(HANDLE handle,
                                       FILE_INFO_BY_HANDLE_CLASS info_class,
                                       LPVOID info, DWORD size) {
  std::lock_guard<std::mutex> lock(win32_standin::files_mutex);
  FileObject* file = win32_standin::FindFile(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (info_class != FileDispositionInfo || info == nullptr ||
      size < sizeof(FILE_DISPOSITION_INFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->deletes) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const bool mark = static_cast<FILE_DISPOSITION_INFO*>(info)->DeleteFile != 0;
  DWORD error = ERROR_SUCCESS;
  if (mark && !file->delete_pending) {
    error = win32_standin::MarkForDeletion(*file);
  } else if (!mark && file->delete_pending) {
    error = win32_standin::ClearDeletionMark(*file);
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
