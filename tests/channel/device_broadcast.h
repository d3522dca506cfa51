// The structure WM_DEVICECHANGE points at for a device interface, built by a
// test: what the system hands a registered window, or malformed on purpose.
#ifndef SNAPFERRY_TESTS_CHANNEL_DEVICE_BROADCAST_H_
#define SNAPFERRY_TESTS_CHANNEL_DEVICE_BROADCAST_H_

#include <windows.h>
#include <dbt.h>
#include <portabledevice.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace channel_test {

// A DEV_BROADCAST_DEVICEINTERFACE_W naming `path` (NUL-terminated after
// it), with `size` as dbcc_size (0: the honest size); 64 bytes of 0xEE
// follow, so a reader that goes past the size reads no NUL.
inline std::vector<unsigned char> DeviceBroadcast(
    const std::wstring& path, DWORD size = 0,
    DWORD type = DBT_DEVTYP_DEVICEINTERFACE,
    const GUID& interface_class = GUID_DEVINTERFACE_WPD) {
  const size_t honest = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                        (path.size() + 1) * sizeof(WCHAR);
  std::vector<unsigned char> bytes(honest + 64, 0xEE);
  auto* broadcast =
      reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  broadcast->dbcc_size = size != 0 ? size : static_cast<DWORD>(honest);
  broadcast->dbcc_devicetype = type;
  broadcast->dbcc_reserved = 0;
  broadcast->dbcc_classguid = interface_class;
  std::memcpy(broadcast->dbcc_name, path.c_str(),
              (path.size() + 1) * sizeof(WCHAR));
  return bytes;
}

}  // namespace channel_test

#endif  // SNAPFERRY_TESTS_CHANNEL_DEVICE_BROADCAST_H_
