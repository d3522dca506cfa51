// Directory listing, file attributes and renames that cannot replace.
#include <windows.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/src/wide_text.h"

namespace {

using win32_standin::internal::NarrowFromWide;
using win32_standin::internal::WideFromNarrow;

using win32_standin::internal::PosixPath;
using win32_standin::internal::RefusedPathError;

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The Windows code for a failed call on `path`.
DWORD ErrorFor(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return IsDirectory(ParentOf(path)) ? ERROR_FILE_NOT_FOUND
                                         : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
    case ENOTEMPTY:
      return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

FILETIME FileTimeOf(const struct timespec& time) {
  // 100-nanosecond intervals since 1601-01-01.
  const uint64_t ticks =
      (static_cast<uint64_t>(time.tv_sec) + 11644473600ULL) * 10000000ULL +
      static_cast<uint64_t>(time.tv_nsec) / 100;
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

template <typename Data>
void FillFrom(const struct stat& info, Data* data) {
  data->dwFileAttributes =
      S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (!S_ISDIR(info.st_mode) && !(info.st_mode & S_IWUSR)) {
    data->dwFileAttributes = FILE_ATTRIBUTE_READONLY;
  }
  data->ftCreationTime = FileTimeOf(info.st_mtim);
  data->ftLastAccessTime = FileTimeOf(info.st_atim);
  data->ftLastWriteTime = FileTimeOf(info.st_mtim);
  const uint64_t size = S_ISDIR(info.st_mode) ? 0 : info.st_size;
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
}

// Windows's wildcards: '*' any run of characters, '?' any one; nothing else
// is special.
bool Matches(const char* pattern, const char* name) {
  for (; *pattern != '\0'; ++pattern, ++name) {
    if (*pattern == '*') {
      for (const char* rest = name;; ++rest) {
        if (Matches(pattern + 1, rest)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (*name == '\0' || (*pattern != '?' && *pattern != *name)) return false;
  }
  return *name == '\0';
}

struct FindHandle {
  std::string directory;
  std::vector<std::string> names;  // the matches, in directory order
  size_t next = 0;
};

// Fills `data` with the next match that can be described; false at the end.
bool NextMatch(FindHandle* find, WIN32_FIND_DATAW* data) {
  while (find->next < find->names.size()) {
    const std::string& name = find->names[find->next++];
    const std::wstring wide = WideFromNarrow(name);
    struct stat info;
    if (wide.size() >= MAX_PATH ||
        stat((find->directory + "/" + name).c_str(), &info) != 0) {
      continue;
    }
    *data = WIN32_FIND_DATAW{};
    FillFrom(info, data);
    std::copy(wide.begin(), wide.end(), data->cFileName);
    return true;
  }
  return false;
}

}  // namespace

HANDLE WINAPI FindFirstFileW(LPCWSTR file_name, LPWIN32_FIND_DATAW data) {
  if (file_name == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (const DWORD refused = RefusedPathError(file_name)) {
    SetLastError(refused);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = PosixPath(file_name);
  auto find = std::make_unique<FindHandle>();
  find->directory = ParentOf(path);
  const std::string pattern = path.substr(path.find_last_of('/') + 1);
  DIR* directory = opendir(find->directory.c_str());
  if (directory == nullptr) {
    SetLastError(errno == ENOENT || errno == ENOTDIR
                     ? ERROR_PATH_NOT_FOUND
                     : ErrorFor(errno, find->directory));
    return INVALID_HANDLE_VALUE;
  }
  while (const dirent* entry = readdir(directory)) {
    if (Matches(pattern.c_str(), entry->d_name)) {
      find->names.push_back(entry->d_name);
    }
  }
  closedir(directory);
  if (!NextMatch(find.get(), data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return find.release();
}

BOOL WINAPI FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || data == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!NextMatch(static_cast<FindHandle*>(handle), data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete static_cast<FindHandle*>(handle);
  return TRUE;
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR file_name,
                                 GET_FILEEX_INFO_LEVELS level,
                                 LPVOID information) {
  if (file_name == nullptr || information == nullptr ||
      level != GetFileExInfoStandard) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (const DWORD refused = RefusedPathError(file_name)) {
    SetLastError(refused);
    return FALSE;
  }
  const std::string path = PosixPath(file_name);
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    const int error = errno;
    const DWORD pending = win32_standin::internal::PendingDeletionError(path);
    SetLastError(pending != 0 ? pending : ErrorFor(error, path));
    return FALSE;
  }
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
  *data = WIN32_FILE_ATTRIBUTE_DATA{};
  FillFrom(info, data);
  return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags) {
  if (existing == nullptr || target == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (LPCWSTR name : {existing, target}) {
    if (const DWORD refused = RefusedPathError(name)) {
      SetLastError(refused);
      return FALSE;
    }
  }
  const std::string from = PosixPath(existing);
  const std::string to = PosixPath(target);
  if (const DWORD refused = win32_standin::internal::RenameSharingError(from)) {
    SetLastError(refused);
    return FALSE;
  }
  struct stat info;
  if (stat(from.c_str(), &info) != 0) {
    SetLastError(ErrorFor(errno, from));
    return FALSE;
  }
  if (flags & MOVEFILE_REPLACE_EXISTING) {
    if (rename(from.c_str(), to.c_str()) != 0) {
      SetLastError(ErrorFor(errno, to));
      return FALSE;
    }
    return TRUE;
  }
  // Atomic: a file that appears under the target name at the same moment is
  // kept, and the move fails.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                RENAME_NOREPLACE) == 0) {
    return TRUE;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    SetLastError(ErrorFor(errno, to));
    return FALSE;
  }
  // A file system without RENAME_NOREPLACE: a new link cannot replace either.
  if (S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (link(from.c_str(), to.c_str()) != 0) {
    SetLastError(ErrorFor(errno, to));
    return FALSE;
  }
  unlink(from.c_str());
  return TRUE;
}

namespace {

// The folder calls' path checks: a missing path, or one Windows refuses
// for its length, is ERROR_PATH_NOT_FOUND (or the refusal's code). False,
// with the last error set, when the call must fail.
bool FolderPathUsable(LPCWSTR path_name) {
  const DWORD refused =
      path_name == nullptr ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND)
                           : RefusedPathError(path_name);
  if (refused == 0) return true;
  SetLastError(refused);
  return false;
}

}  // namespace

BOOL WINAPI CreateDirectoryW(LPCWSTR path_name, LPSECURITY_ATTRIBUTES) {
  if (!FolderPathUsable(path_name)) return FALSE;
  const std::string path = PosixPath(path_name);
  if (mkdir(path.c_str(), 0777) != 0) {
    // A missing folder above is ERROR_PATH_NOT_FOUND whatever its depth.
    SetLastError(errno == ENOENT ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND)
                                 : ErrorFor(errno, path));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR path_name) {
  if (!FolderPathUsable(path_name)) return FALSE;
  const std::string path = PosixPath(path_name);
  if (rmdir(path.c_str()) != 0) {
    switch (errno) {
      case ENOTEMPTY:
      case EEXIST:
        SetLastError(ERROR_DIR_NOT_EMPTY);
        break;
      case ENOTDIR:
        SetLastError(IsDirectory(ParentOf(path)) ? ERROR_DIRECTORY
                                                 : ERROR_PATH_NOT_FOUND);
        break;
      default:
        SetLastError(ErrorFor(errno, path));
    }
    return FALSE;
  }
  return TRUE;
}
