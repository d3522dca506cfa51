// UTF-16 <-> UTF-8 for the stand-in's own use (paths, registry names, the
// command line), with the same conversion rules as the public functions.
#ifndef SNAPFERRY_PLATFORM_WIN32_SRC_WIDE_TEXT_H_
#define SNAPFERRY_PLATFORM_WIN32_SRC_WIDE_TEXT_H_

#include <windef.h>

#include <string>

namespace win32_standin::internal {

// A Win32 path as the POSIX path it names: the long-path prefix dropped,
// every '\' a '/'.
std::string PosixPath(LPCWSTR name);
// What a file call on `name` answers before it looks at the file system:
// ERROR_PATH_NOT_FOUND for a full path of MAX_PATH units or more that is
// not in long-path form, the code of a hold (HoldPath) on it, else 0.
DWORD RefusedPathError(LPCWSTR name);
// The code of a hold on `posix_path` still in force, else 0.
DWORD HeldPathError(const std::string& posix_path);
// ERROR_ACCESS_DENIED when `path` names a file of this process whose
// deletion is pending (Windows's STATUS_DELETE_PENDING), else 0.
DWORD PendingDeletionError(const std::string& path);
// Why a rename of `from` is refused by this process's handles on it
// (sharing that leaves out FILE_SHARE_DELETE, a pending deletion), else 0.
DWORD RenameSharingError(const std::string& from);

// A NUL-terminated UTF-16 string; unpaired surrogates become U+FFFD.
std::string NarrowFromWide(const wchar_t* text);
// Invalid UTF-8 becomes U+FFFD.
std::wstring WideFromNarrow(const std::string& text);

}  // namespace win32_standin::internal

#endif  // SNAPFERRY_PLATFORM_WIN32_SRC_WIDE_TEXT_H_
