#include "importer/file_placement.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

#include "base/long_path.h"
#include "importer/folder_index.h"

namespace importer {
namespace {

// The largest n tried for " (n)".
constexpr int kMaxNumber = 9999;

size_t ExtensionStart(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name.size() : dot;
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
  if (!GetFileAttributesExW(Win32Path(path).c_str(), GetFileExInfoStandard,
                            &data)) {
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

bool IsSeparator(char c) {
  return c == '/' || c == std::filesystem::path::preferred_separator;
}

// Pauses between tries of a held step: short at first, since a scanner
// mostly lets go within a few milliseconds.
int PauseBefore(int attempt) {
  return std::min(25 << std::min(attempt, 5), 500);
}

}  // namespace

std::wstring Win32Path(const std::string& path) {
  return snapferry::LongPath(Wide(path));
}

std::string FullPath(const std::string& path) {
  std::wstring full;
  if (!snapferry::ResolveFullPath(Wide(path), &full)) return path;
  std::string narrow = Narrow(full.c_str());
  // GetFullPathNameW writes ''; where that is no separator ('/' is), the
  // system's own separator is put back.
  std::replace(narrow.begin(), narrow.end(), '\\',
               static_cast<char>(std::filesystem::path::preferred_separator));
  return narrow;
}

bool PathExists(const std::string& path) {
  const Attributes attributes = AttributesOf(path);
  return attributes.exists || IsPassingHold(attributes.error);
}

std::optional<int64_t> FileSize(const std::string& path) {
  const Attributes attributes = AttributesOf(path);
  if (!attributes.exists || attributes.directory) return std::nullopt;
  return attributes.size;
}

bool MakeFolders(const std::string& path, std::vector<std::string>* created,
                 uint32_t* error) {
  const Attributes attributes = AttributesOf(path);
  if (attributes.exists) {
    if (!attributes.directory && error != nullptr) {
      *error = ERROR_ALREADY_EXISTS;
    }
    return attributes.directory;
  }
  size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  size_t parent_end = end;
  while (parent_end > 0 && !IsSeparator(path[parent_end - 1])) --parent_end;
  while (parent_end > 1 && IsSeparator(path[parent_end - 1])) --parent_end;
  if (parent_end > 0 && parent_end < end &&
      !MakeFolders(path.substr(0, parent_end), created, error)) {
    return false;
  }
  if (CreateDirectoryW(Win32Path(path).c_str(), nullptr)) {
    if (created != nullptr) created->push_back(path);
    return true;
  }
  const DWORD code = GetLastError();
  // Another process may have made it meanwhile.
  if (AttributesOf(path).directory) return true;
  if (error != nullptr) *error = code;
  return false;
}

void RemoveEmptyFolder(const std::string& path) {
  RemoveDirectoryW(Win32Path(path).c_str());
}

uint32_t WriteNewFile(const std::string& path,
                      const std::vector<uint8_t>& bytes) {
  const std::wstring wide = Win32Path(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD code = 0;
  size_t done = 0;
  while (code == 0 && done < bytes.size()) {
    const DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) ||
        written == 0) {
      code = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    }
    done += written;
  }
  if (!CloseHandle(file) && code == 0) code = GetLastError();
  if (code != 0) DeleteFileW(wide.c_str());
  return code;
}

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
  if (folder.empty()) return name;
  if (IsSeparator(folder.back())) return folder + name;
  return folder +
         static_cast<char>(std::filesystem::path::preferred_separator) + name;
}

std::optional<std::pair<std::string, int>> UnnumberedName(
    const std::string& listed) {
  const size_t stem_end = ExtensionStart(listed);
  // " (n)" right before the extension: at least four characters.
  if (stem_end < 4 || listed[stem_end - 1] != ')') return std::nullopt;
  size_t digits = stem_end - 1;
  while (digits > 0 &&
         std::isdigit(static_cast<unsigned char>(listed[digits - 1]))) {
    --digits;
  }
  const size_t count = stem_end - 1 - digits;
  if (count == 0 || count > 4 || listed[digits] == '0' || digits < 2 ||
      listed.compare(digits - 2, 2, " (") != 0) {
    return std::nullopt;
  }
  const int number = std::stoi(listed.substr(digits, count));
  if (number < 2) return std::nullopt;
  std::string name = listed.substr(0, digits - 2) + listed.substr(stem_end);
  // Where the name left has its extension elsewhere (" (2).HEIC" would be
  // ".HEIC"), `listed` is not what NumberedName makes of it.
  if (NumberedName(name, number) != listed) return std::nullopt;
  return std::make_pair(std::move(name), number);
}

std::optional<std::string> FindImportedCopy(const std::string& folder,
                                            const std::string& name,
                                            int64_t size) {
  return FolderIndex().FindCopy(folder, name, size);
}

std::optional<std::string> FirstFreeName(const std::string& folder,
                                         const std::string& name,
                                         uint32_t* error) {
  for (int n = 1; n <= kMaxNumber; ++n) {
    const std::string candidate = NumberedName(name, n);
    const Attributes attributes = AttributesOf(JoinPath(folder, candidate));
    if (attributes.exists) continue;
    if (attributes.error == ERROR_FILE_NOT_FOUND) return candidate;
    // The folder itself is missing or unreadable, or a scanner holds a file
    // of that name whose deletion is pending.
    if (error != nullptr) *error = attributes.error;
    return std::nullopt;
  }
  return std::nullopt;
}

MoveOutcome MoveWithoutReplacing(const std::string& from, const std::string& to,
                                 uint32_t* error) {
  // No MOVEFILE_REPLACE_EXISTING: an existing file under `to` stays.
  if (MoveFileExW(Win32Path(from).c_str(), Win32Path(to).c_str(), 0)) {
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

uint32_t RemoveFile(const std::string& path) {
  if (DeleteFileW(Win32Path(path).c_str())) return 0;
  const DWORD code = GetLastError();
  return code == ERROR_FILE_NOT_FOUND ? 0 : code;
}

bool IsPassingHold(uint32_t error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

struct HoldWaits::Waiting {
  std::string folder;
  std::function<uint32_t()> step;
  std::function<void(uint32_t)> done;
  Clock::time_point started;  // the first try
  Clock::time_point last;     // the latest try
  int pauses = 0;
};

void HoldWaits::Run(const std::string& folder, std::function<uint32_t()> step,
                    std::function<void(uint32_t)> done) {
  auto waiting = std::make_shared<Waiting>();
  waiting->folder = folder;
  waiting->step = std::move(step);
  waiting->done = std::move(done);
  Try(waiting);
}

void HoldWaits::Try(const std::shared_ptr<Waiting>& waiting) {
  const uint32_t code = waiting->step();
  const Clock::time_point now = now_();
  Clock::duration& spent = spent_[waiting->folder];
  if (waiting->pauses == 0) {
    waiting->started = now;
  } else {
    spent += now - waiting->last;
  }
  waiting->last = now;
  if (!IsPassingHold(code) ||
      spent >= std::chrono::milliseconds(kHoldWaitPerFolderMilliseconds) ||
      now - waiting->started >=
          std::chrono::milliseconds(kHoldWaitPerFileMilliseconds)) {
    waiting->done(code);
    return;
  }
  after_(PauseBefore(waiting->pauses++), [this, waiting] { Try(waiting); });
}

}  // namespace importer
