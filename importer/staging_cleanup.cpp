#include "importer/staging_cleanup.h"

#include <windows.h>

#include <cctype>

#include "importer/file_placement.h"

namespace importer {
namespace {

constexpr char kSuffix[] = ".part";

// Calls `visit` with the name and attributes of each entry of `folder`.
template <class Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
  WIN32_FIND_DATAW found;
  HANDLE find =
      FindFirstFileW(Win32Path(JoinPath(folder, "*")).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = Narrow(found.cFileName);
    if (name != "." && name != "..") visit(name, found.dwFileAttributes);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace

bool IsStagingName(const std::string& name) {
  const size_t suffix = sizeof(kSuffix) - 1;
  if (name.size() < 1 + 1 + 1 + suffix || name[0] != '.' ||
      name.compare(name.size() - suffix, suffix, kSuffix) != 0) {
    return false;
  }
  // The process id: digits between the last two dots.
  const size_t end = name.size() - suffix;
  size_t start = end;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1]))) {
    --start;
  }
  // At least one digit, a dot before them, and a name before that dot.
  return start < end && start >= 3 && name[start - 1] == '.';
}

std::vector<std::string> RemoveLeftStagingFiles(
    const std::string& destination) {
  std::vector<std::string> removed;
  const auto remove_in = [&removed](const std::string& folder) {
    ForEachEntry(folder, [&](const std::string& name, DWORD attributes) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsStagingName(name)) {
        return;
      }
      const std::string path = JoinPath(folder, name);
      if (RemoveFile(path) == 0) removed.push_back(path);
    });
  };
  remove_in(destination);
  ForEachEntry(destination, [&](const std::string& name, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      remove_in(JoinPath(destination, name));
    }
  });
  return removed;
}

}  // namespace importer
