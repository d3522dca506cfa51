// The long-path form ("\\?\C:\...", "\\?\UNC\server\share\...") that every
// Win32 call naming a file or folder is given, so that paths longer than
// MAX_PATH work whether or not the system's long-path policy is on. Shared by
// the device layer (staging files) and the importer (placement, folders,
// thumbnails); header-only, over the Win32 subset alone, so that neither
// reaches into the other.

#ifndef SNAPFERRY_BASE_LONG_PATH_H_
#define SNAPFERRY_BASE_LONG_PATH_H_

#include <windows.h>

#include <algorithm>
#include <string>

namespace snapferry {

// `path` ('/' or '\' between components, relative or full, possibly in
// long-path form already) resolved to a full path without the prefix:
// "." and ".." folded, as GetFullPathNameW does, since the system parses
// nothing in a prefixed path. False for an empty path, one in the device
// namespace ("\\.\..."), or one that cannot be resolved.
inline bool ResolveFullPath(std::wstring path, std::wstring* full) {
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    path = L"\\\\" + path.substr(8);
  } else if (path.rfind(L"\\\\?\\", 0) == 0) {
    path = path.substr(4);
  }
  if (path.rfind(L"\\\\.\\", 0) == 0 || path.rfind(L"\\\\?\\", 0) == 0) {
    return false;
  }
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::wstring resolved(needed, L'\0');
  const DWORD length =
      GetFullPathNameW(path.c_str(), needed, &resolved[0], nullptr);
  if (length == 0 || length >= needed) return false;
  resolved.resize(length);
  *full = std::move(resolved);
  return true;
}

// A full path from ResolveFullPath with the long-path prefix. A device path
// ("\\.\NUL", as older Windows resolves "C:\x\nul.txt") stays as it is.
inline std::wstring WithLongPathPrefix(const std::wstring& full) {
  if (full.rfind(L"\\\\.\\", 0) == 0 || full.rfind(L"\\\\?\\", 0) == 0) {
    return full;
  }
  return full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2)
                                     : L"\\\\?\\" + full;
}

// What to hand a Win32 call for `path`: its long-path form, or `path` as
// given when it cannot be resolved (the call then says why).
inline std::wstring LongPath(const std::wstring& path) {
  std::wstring full;
  return ResolveFullPath(path, &full) ? WithLongPathPrefix(full) : path;
}

}  // namespace snapferry

#endif  // SNAPFERRY_BASE_LONG_PATH_H_
