// RegGetValueW over the values a test set.
#include <windows.h>

#include <cstring>

#include "platform/win32/src/environment.h"

namespace {

DWORD TypeFlag(DWORD type) {
  switch (type) {
    case REG_NONE:
      return RRF_RT_REG_NONE;
    case REG_SZ:
      return RRF_RT_REG_SZ;
    case REG_BINARY:
      return RRF_RT_REG_BINARY;
    case REG_DWORD:
      return RRF_RT_REG_DWORD;
    case REG_QWORD:
      return RRF_RT_REG_QWORD;
    default:
      return 0;
  }
}

}  // namespace

LSTATUS WINAPI RegGetValueW(HKEY root, LPCWSTR subkey, LPCWSTR name,
                            DWORD flags, LPDWORD type, PVOID data,
                            LPDWORD size) {
  if ((flags & RRF_RT_ANY) == 0 || (data != nullptr && size == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  auto& env = win32_standin::internal::Env();
  std::lock_guard<std::mutex> lock(env.mutex);
  const auto found = env.registry.find(win32_standin::internal::RegistryKey(
      root, subkey ? subkey : L"", name ? name : L""));
  if (found == env.registry.end()) return ERROR_FILE_NOT_FOUND;
  const auto& value = found->second;
  if ((TypeFlag(value.type) & flags) == 0) return ERROR_UNSUPPORTED_TYPE;
  if (type != nullptr) *type = value.type;
  const DWORD needed = static_cast<DWORD>(value.data.size());
  if (size == nullptr) return ERROR_SUCCESS;
  if (data == nullptr) {
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (value.type == REG_SZ) {
    // Two bytes per unit in the store; one wchar_t per unit for the caller.
    auto* out = static_cast<wchar_t*>(data);
    const size_t units = needed / 2;
    if (*size / sizeof(wchar_t) < units) {
      *size = static_cast<DWORD>(units * sizeof(wchar_t));
      return ERROR_MORE_DATA;
    }
    for (size_t i = 0; i < units; ++i) {
      out[i] = static_cast<wchar_t>(value.data[2 * i] |
                                    (value.data[2 * i + 1] << 8));
    }
  } else {
    std::memcpy(data, value.data.data(), needed);
  }
  *size = needed;
  return ERROR_SUCCESS;
}
