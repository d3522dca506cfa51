#include "importer/report_file.h"

#include <windows.h>

#include <vector>

#include "importer/file_placement.h"

namespace importer {

uint32_t WriteReportFile(const std::string& path, const std::string& text) {
  const size_t cut = path.find_last_of("\\/");
  // A file right below a root keeps the root as its folder.
  const std::string folder =
      cut == std::string::npos ? "" : path.substr(0, cut == 0 ? 1 : cut);
  const std::string name = path.substr(cut == std::string::npos ? 0 : cut + 1);
  uint32_t code = ERROR_PATH_NOT_FOUND;
  const std::optional<std::string> staging_name =
      FirstFreeName(folder, StagingName(name, 1), &code);
  if (!staging_name) return code;
  const std::string staging = JoinPath(folder, *staging_name);
  code = WriteNewFile(staging, std::vector<uint8_t>(text.begin(), text.end()));
  if (code != 0) return code;
  if (MoveFileExW(Win32Path(staging).c_str(), Win32Path(path).c_str(),
                  MOVEFILE_REPLACE_EXISTING)) {
    return 0;
  }
  code = GetLastError();
  RemoveFile(staging);
  return code;
}

std::optional<std::string> TemporaryCopyPath(uint32_t* error) {
  *error = ERROR_PATH_NOT_FOUND;
  const DWORD needed = GetTempPathW(0, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring buffer(needed, L'\0');
  const DWORD length = GetTempPathW(needed, &buffer[0]);
  if (length == 0 || length >= needed) return std::nullopt;
  buffer.resize(length);
  const std::string folder = FullPath(Narrow(buffer.c_str()));
  const std::optional<std::string> name = FirstFreeName(
      folder,
      "snapferry-report-" + std::to_string(GetCurrentProcessId()) + ".tmp",
      error);
  if (!name) return std::nullopt;
  return JoinPath(folder, *name);
}

}  // namespace importer
