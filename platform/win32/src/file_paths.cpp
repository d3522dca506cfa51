// GetFullPathNameW: Windows's path rules on the stand-in's single-rooted
// file system; GetTempPathW.
#include <fileapi.h>
#include <unistd.h>
#include <winbase.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/win32/src/wide_text.h"

namespace win32_standin {
namespace {

// The DOS device names, matched as Windows matches a last component: the
// name, then optionally spaces, then optionally an extension or a colon.
bool IsDosDeviceName(const std::wstring& leaf) {
  std::wstring base = leaf.substr(0, leaf.find_first_of(L".:"));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") {
    return true;
  }
  return base.size() == 4 &&
         (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) &&
         base[3] >= L'1' && base[3] <= L'9';
}

std::wstring CurrentDirectory() {
  std::vector<char> buffer(4096);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return L"\\";
  std::wstring wide = internal::WideFromNarrow(buffer.data());
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

}  // namespace

namespace internal {
std::wstring DosDeviceName(const std::wstring& name) {
  if (name.rfind(L"\\\\?\\", 0) == 0) return std::wstring();
  if (name.rfind(L"\\\\.\\", 0) == 0) return name.substr(4);
  const size_t last = name.find_last_of(L"\\/");
  const std::wstring leaf =
      last == std::wstring::npos ? name : name.substr(last + 1);
  if (!IsDosDeviceName(leaf)) return std::wstring();
  return leaf.substr(0, leaf.find_first_of(L".: "));
}
}  // namespace internal

namespace {

std::wstring FullPath(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  const size_t last = path.find_last_of(L'\\');
  const std::wstring leaf =
      last == std::wstring::npos ? path : path.substr(last + 1);
  if (IsDosDeviceName(leaf)) return L"\\\\.\\" + internal::DosDeviceName(path);
  if (path.empty() || path[0] != L'\\')
    path = CurrentDirectory() + L"\\" + path;
  const bool trailing_separator = path.back() == L'\\';
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  // Windows drops trailing dots and spaces from the last component.
  if (!parts.empty() && !trailing_separator) {
    std::wstring& tail = parts.back();
    while (!tail.empty() && (tail.back() == L'.' || tail.back() == L' ')) {
      tail.pop_back();
    }
    if (tail.empty()) parts.pop_back();
  }
  std::wstring full;
  for (const std::wstring& part : parts) full += L"\\" + part;
  if (full.empty() || trailing_separator) full += L"\\";
  return full;
}

}  // namespace

namespace internal {
std::string PosixPath(LPCWSTR name) {
  std::string path = NarrowFromWide(name);
  // A long-path prefix only turns Windows's own path parsing off.
  if (path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

DWORD RefusedPathError(LPCWSTR name) {
  const std::wstring path(name);
  // Without the long-path policy Windows refuses a full path of MAX_PATH
  // units or more, unless it is in long-path form.
  if (path.rfind(L"\\\\?\\", 0) != 0 && FullPath(path).size() >= MAX_PATH) {
    return ERROR_PATH_NOT_FOUND;
  }
  return HeldPathError(PosixPath(name));
}
}  // namespace internal
}  // namespace win32_standin

DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer,
                              LPWSTR* file_part) {
  if (file_part != nullptr) *file_part = nullptr;
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring path(name);
  if (path.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  const std::wstring full =
      path.rfind(L"\\\\?\\", 0) == 0 ? path : win32_standin::FullPath(path);
  const DWORD length = static_cast<DWORD>(full.size());
  if (buffer == nullptr || size <= length) return length + 1;
  std::copy(full.begin(), full.end(), buffer);
  buffer[length] = L'\0';
  // A device has no file part.
  const size_t last = full.find_last_of(L'\\');
  if (file_part != nullptr && last + 1 < full.size() &&
      full.rfind(L"\\\\.\\", 0) != 0) {
    *file_part = buffer + last + 1;
  }
  return length;
}

DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
  // Windows looks at TMP, TEMP and USERPROFILE in turn; here TMPDIR, the
  // system's own, comes next, then /tmp (Windows ends with its own folder).
  std::wstring path = L"\\tmp";
  for (const char* variable : {"TMP", "TEMP", "USERPROFILE", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      path = win32_standin::FullPath(
          win32_standin::internal::WideFromNarrow(value));
      break;
    }
  }
  if (path.back() != L'\\') path += L'\\';
  const DWORD length = static_cast<DWORD>(path.size());
  if (buffer == nullptr || size <= length) return length + 1;
  std::copy(path.begin(), path.end(), buffer);
  buffer[length] = L'\0';
  return length;
}
