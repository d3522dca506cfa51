#include "importer/file_placement.h"

#include <windows.h>

#include <cctype>
#include <filesystem>
#include <set>

namespace importer {
namespace {

// The largest n tried for " (n)".
constexpr int kMaxNumber = 9999;

size_t ExtensionStart(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name.size() : dot;
}

// The n of `candidate` when it looks like NumberedName(name, n), ignoring
// ASCII case; 0 when it does not. Only a first sieve: the file system has
// the last word on which names are the same.
int NumberOf(const std::string& candidate, const std::string& name) {
  const size_t stem_length = ExtensionStart(name);
  const std::string stem = name.substr(0, stem_length);
  const std::string extension = name.substr(stem_length);
  if (candidate.size() < stem.size() + extension.size()) return 0;
  if (!EqualIgnoringAsciiCase(candidate.substr(0, stem.size()), stem) ||
      !EqualIgnoringAsciiCase(
          candidate.substr(candidate.size() - extension.size()), extension)) {
    return 0;
  }
  const std::string middle = candidate.substr(
      stem.size(), candidate.size() - extension.size() - stem.size());
  if (middle.empty()) return 1;
  if (middle.size() < 4 || middle.compare(0, 2, " (") != 0 ||
      middle.back() != ')' || middle[2] == '0') {
    return 0;
  }
  int number = 0;
  for (size_t i = 2; i + 1 < middle.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(middle[i]))) return 0;
    number = number * 10 + (middle[i] - '0');
    if (number > kMaxNumber) return 0;
  }
  return number >= 2 ? number : 0;
}

struct Attributes {
  bool exists = false;
  bool directory = false;
  int64_t size = 0;
  DWORD error = 0;  // when it does not exist
};

Attributes AttributesOf(const std::string& path) {
  Attributes attributes;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
    attributes.error = GetLastError();
    return attributes;
  }
  attributes.exists = true;
  attributes.directory =
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  attributes.size =
      (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return attributes;
}

}  // namespace

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &wide[0], length);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], length, nullptr,
                      nullptr);
  narrow.pop_back();  // the terminator
  return narrow;
}

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string SafeComponent(const std::string& name) {
  std::string safe;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool reserved = u < 0x20 || c == '/' || c == '\\' || c == ':' ||
                          c == '*' || c == '?' || c == '"' || c == '<' ||
                          c == '>' || c == '|';
    safe.push_back(reserved ? '_' : c);
  }
  if (safe.empty() || safe == "." || safe == "..") return "_";
  return safe;
}

std::string NumberedName(const std::string& name, int n) {
  if (n <= 1) return name;
  const size_t stem_length = ExtensionStart(name);
  return name.substr(0, stem_length) + " (" + std::to_string(n) + ")" +
         name.substr(stem_length);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return (std::filesystem::u8path(folder) / std::filesystem::u8path(name))
      .u8string();
}

std::optional<std::string> FindImportedCopy(const std::string& folder,
                                            const std::string& name,
                                            int64_t size) {
  // The pattern finds every numbered variant (and more); each number found
  // is then checked under its exact name.
  const size_t stem_length = ExtensionStart(name);
  const std::string pattern = JoinPath(
      folder, name.substr(0, stem_length) + "*" + name.substr(stem_length));
  std::set<int> numbers;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(Wide(pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return std::nullopt;
  do {
    if (const int number = NumberOf(Narrow(found.cFileName), name)) {
      numbers.insert(number);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  for (int number : numbers) {
    const std::string candidate = NumberedName(name, number);
    const Attributes attributes = AttributesOf(JoinPath(folder, candidate));
    if (attributes.exists && !attributes.directory &&
        (size < 0 || attributes.size == size)) {
      return candidate;
    }
  }
  return std::nullopt;
}

std::optional<std::string> FirstFreeName(const std::string& folder,
                                         const std::string& name) {
  for (int n = 1; n <= kMaxNumber; ++n) {
    const std::string candidate = NumberedName(name, n);
    const Attributes attributes = AttributesOf(JoinPath(folder, candidate));
    if (attributes.exists) continue;
    if (attributes.error == ERROR_FILE_NOT_FOUND) return candidate;
    return std::nullopt;  // the folder itself is missing or unreadable
  }
  return std::nullopt;
}

MoveOutcome MoveWithoutReplacing(const std::string& from, const std::string& to,
                                 uint32_t* error) {
  // No MOVEFILE_REPLACE_EXISTING: an existing file under `to` stays.
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), 0)) {
    return MoveOutcome::kMoved;
  }
  const DWORD code = GetLastError();
  if (error != nullptr) *error = code;
  return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
             ? MoveOutcome::kNameTaken
             : MoveOutcome::kFailed;
}

std::string StagingName(const std::string& name, int n) {
  return "." + (n > 1 ? std::to_string(n) + "." : std::string()) + name + "." +
         std::to_string(GetCurrentProcessId()) + ".part";
}

void RemoveFile(const std::string& path) { DeleteFileW(Wide(path).c_str()); }

}  // namespace importer
