#ifndef SNAPFERRY_WPD_STAGING_PATH_H_
#define SNAPFERRY_WPD_STAGING_PATH_H_

#include <windows.h>

#include <string>

namespace snapferry {

// The staging path as the caller gave it (UTF-8, '/' or '\' between
// components), made into the full long-path form ("\\?\C:\...",
// "\\?\UNC\server\...") that the file is created under, so that paths
// longer than MAX_PATH work. Fails with HRESULT_FROM_WIN32(ERROR_INVALID_NAME)
// for a name that cannot name an ordinary file of its own: an embedded NUL,
// a device ("\\.\...", or a last component such as NUL, CON, COM1 or
// "nul.jpg"), or a ':' other than a drive's, which would name an alternate
// data stream of another file.
HRESULT FullStagingPath(const std::string& staging_path, std::wstring* full);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_STAGING_PATH_H_
