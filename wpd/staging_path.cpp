#include "wpd/staging_path.h"

#include <algorithm>
#include <cwctype>

#include "base/long_path.h"
#include "wpd/device_connection.h"
#include "wpd/object_op_result.h"

namespace snapferry {
namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The names Windows reserves for devices, in any letter case, also with
// trailing spaces or an extension. Newer Windows versions no longer map
// every one of them to the device, and under the long-path prefix they
// would make a file that Explorer cannot remove; refused either way.
bool IsDeviceName(const std::wstring& leaf) {
  std::wstring base = leaf.substr(0, leaf.find_first_of(L".:"));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" ||
      base == L"CONIN$" || base == L"CONOUT$") {
    return true;
  }
  return base.size() == 4 &&
         (StartsWith(base, L"COM") || StartsWith(base, L"LPT")) &&
         base[3] >= L'0' && base[3] <= L'9';
}

}  // namespace

HRESULT FullStagingPath(const std::string& staging_path, std::wstring* full) {
  const HRESULT invalid = HresultFromWin32(ERROR_INVALID_NAME);
  // Cut at a NUL, the name would be another file's. A path already in
  // long-path form is checked like any other; the device namespace is
  // refused.
  std::wstring resolved;
  if (!ResolveFullPath(Utf8ToWide(staging_path), &resolved)) return invalid;

  if (StartsWith(resolved, L"\\\\.\\") || StartsWith(resolved, L"\\\\?\\")) {
    return invalid;  // a device name, as older Windows resolves it
  }
  if (IsDeviceName(resolved.substr(resolved.find_last_of(L'\\') + 1))) {
    return invalid;
  }
  // "C:\..." has the only colon an ordinary file's path may hold.
  const size_t drive = resolved.size() >= 3 && std::iswalpha(resolved[0]) &&
                               resolved[1] == L':' && resolved[2] == L'\\'
                           ? 2
                           : 0;
  if (resolved.find(L':', drive) != std::wstring::npos) return invalid;

  *full = WithLongPathPrefix(resolved);
  return S_OK;
}

}  // namespace snapferry
