#include "importer/folder_index.h"

#include <windows.h>

#include "importer/file_placement.h"

namespace importer {
namespace {

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::optional<std::string> FolderIndex::FindCopy(const std::string& folder,
                                                 const std::string& name,
                                                 int64_t size) {
  const Listing& listing = Read(folder);
  const auto numbers = listing.find(AsciiLower(name));
  if (numbers == listing.end()) return std::nullopt;
  for (int number : numbers->second) {
    // The photo's own spelling, not the one listed: the file system decides
    // whether the two are the same name.
    const std::string candidate = NumberedName(name, number);
    const std::optional<int64_t> held = FileSize(JoinPath(folder, candidate));
    if (held && (size < 0 || *held == size)) return candidate;
  }
  return std::nullopt;
}

const FolderIndex::Listing& FolderIndex::Read(const std::string& folder) {
  const auto [at, added] = folders_.try_emplace(folder);
  Listing& listing = at->second;
  if (!added) return listing;
  WIN32_FIND_DATAW found;
  HANDLE find =
      FindFirstFileW(Win32Path(JoinPath(folder, "*")).c_str(), &found);
  // A folder that is missing (or cannot be read) holds nothing yet.
  if (find == INVALID_HANDLE_VALUE) return listing;
  do {
    const std::string listed = Narrow(found.cFileName);
    listing[AsciiLower(listed)].insert(1);
    if (const auto numbered = UnnumberedName(listed)) {
      listing[AsciiLower(numbered->first)].insert(numbered->second);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return listing;
}

}  // namespace importer
