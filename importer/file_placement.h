// Where an imported file goes, decided by the file system itself: names are
// compared as the folder's file system compares them (case-insensitively on
// Windows), because every check is a Win32 call on the real name.
//
// A photo named IMG_0001.HEIC is already imported when its folder holds
// "IMG_0001.HEIC" or a numbered variant ("IMG_0001 (2).HEIC", ...) of the
// same size. Otherwise it goes under the first of those names that is free,
// and is moved there with a rename that never replaces a file.

#ifndef SNAPFERRY_IMPORTER_FILE_PLACEMENT_H_
#define SNAPFERRY_IMPORTER_FILE_PLACEMENT_H_

#include <cstdint>
#include <optional>
#include <string>

namespace importer {

// A file or folder name from the device made safe as one path component on
// either platform: separators, reserved and control characters become '_'.
std::string SafeComponent(const std::string& name);

// `name` with " (n)" before its extension; n <= 1 gives `name` itself.
// "IMG_0001.HEIC", 2 -> "IMG_0001 (2).HEIC"; ".part" and "README" have no
// extension to keep apart.
std::string NumberedName(const std::string& name, int n);

// The name under which `folder` (UTF-8 path) already holds a file of `size`
// bytes (any size when `size` is negative) named `name` or one of its
// numbered variants; none otherwise.
std::optional<std::string> FindImportedCopy(const std::string& folder,
                                            const std::string& name,
                                            int64_t size);

// The first of `name`, "name (2)", "name (3)", ... that names nothing in
// `folder`; none when no free name is found (or the folder cannot be read).
std::optional<std::string> FirstFreeName(const std::string& folder,
                                         const std::string& name);

// True when `a` and `b` differ at most in the letter case of ASCII letters
// (device names given on the command line; a first sieve for file names).
bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b);

// A UTF-8 path or name as the UTF-16 text Win32 calls take, and back.
std::wstring Wide(const std::string& text);
std::string Narrow(const wchar_t* text);

// `folder` joined with `name`, with the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

enum class MoveOutcome { kMoved, kNameTaken, kFailed };
// Renames `from` to `to` (UTF-8 paths) unless something exists under `to`;
// `error` gets the system's code on failure.
MoveOutcome MoveWithoutReplacing(const std::string& from, const std::string& to,
                                 uint32_t* error);

// The hidden staging name of this process for `name`, the n-th tried:
// ".IMG_0001.HEIC.1234.part", ".2.IMG_0001.HEIC.1234.part", ... The process
// id keeps two imports apart even where nothing else does.
std::string StagingName(const std::string& name, int n);

// Deletes the file `path` if it is there.
void RemoveFile(const std::string& path);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_FILE_PLACEMENT_H_
