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

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace importer {

// A file or folder name from the device made safe as one path component on
// either platform: separators, reserved and control characters become '_'.
std::string SafeComponent(const std::string& name);

// `name` with " (n)" before its extension; n <= 1 gives `name` itself.
// "IMG_0001.HEIC", 2 -> "IMG_0001 (2).HEIC"; ".part" and "README" have no
// extension to keep apart.
std::string NumberedName(const std::string& name, int n);

// What NumberedName made `listed` of, and n: "IMG_0001 (2).HEIC" ->
// {"IMG_0001.HEIC", 2}; none when `listed` has no " (n)" (2 <= n <= 9999,
// without leading zeros) before its extension.
std::optional<std::pair<std::string, int>> UnnumberedName(
    const std::string& listed);

// The name under which `folder` (UTF-8 path) already holds a file of `size`
// bytes (any size when `size` is negative) named `name` or one of its
// numbered variants, the lowest number first; none otherwise. It reads the
// folder for this one question: for many, FolderIndex (folder_index.h).
std::optional<std::string> FindImportedCopy(const std::string& folder,
                                            const std::string& name,
                                            int64_t size);

// The first of `name`, "name (2)", "name (3)", ... that names nothing in
// `folder`; none when no free name is found (or the folder cannot be read:
// then `error`, when given, gets the code a name answered).
std::optional<std::string> FirstFreeName(const std::string& folder,
                                         const std::string& name,
                                         uint32_t* error = nullptr);

// True when `a` and `b` differ at most in the letter case of ASCII letters
// (device names given on the command line; a first sieve for file names).
bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b);

// A UTF-8 path or name as the UTF-16 text Win32 calls take, and back.
std::wstring Wide(const std::string& text);
std::string Narrow(const wchar_t* text);

// A UTF-8 path as every file call here is given it: full, in long-path form
// (base/long_path.h), so that a folder deeper than MAX_PATH works.
std::wstring Win32Path(const std::string& path);

// `path` made full ("." and ".." folded), with the platform's separator;
// `path` itself when it cannot be resolved.
std::string FullPath(const std::string& path);

// `folder` joined with `name`, with the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// True when `path` names a file or folder (or something answers for it).
bool PathExists(const std::string& path);

// The size of the file `path`; none when nothing, or a folder, has the name.
std::optional<int64_t> FileSize(const std::string& path);

// Makes the folder `path` and any missing folders above it, appending each
// one made to `created` (outermost first). True when `path` is a folder at
// the end; otherwise `error` gets the system's code (ERROR_ALREADY_EXISTS
// when a file has the name).
bool MakeFolders(const std::string& path, std::vector<std::string>* created,
                 uint32_t* error);

// Removes the folder `path` if it is empty.
void RemoveEmptyFolder(const std::string& path);

// Creates `path`, which must not exist, with `bytes` in it; the system's
// code on failure (nothing is left then), else 0. Not hidden: a staging
// file's attributes go with it when it is moved into place, and a file
// saved hidden is one a person does not see.
uint32_t WriteNewFile(const std::string& path,
                      const std::vector<uint8_t>& bytes);

enum class MoveOutcome { kMoved, kNameTaken, kFailed };
// Renames `from` to `to` (UTF-8 paths) unless something exists under `to`;
// `error` gets the system's code on failure.
MoveOutcome MoveWithoutReplacing(const std::string& from, const std::string& to,
                                 uint32_t* error);

// The hidden staging name of this process for `name`, the n-th tried:
// ".IMG_0001.HEIC.1234.part", ".2.IMG_0001.HEIC.1234.part", ... The process
// id keeps two imports apart even where nothing else does.
std::string StagingName(const std::string& name, int n);

// Deletes the file `path`: 0 when it is gone (or was never there), else the
// system's code.
uint32_t RemoveFile(const std::string& path);

// The codes a file answers while something else has it open: antivirus, the
// search indexer or a sync client opening a file right after it was closed
// (ERROR_SHARING_VIOLATION), or holding one whose deletion is pending
// (ERROR_ACCESS_DENIED).
bool IsPassingHold(uint32_t error);

// How long one file's step waits out such a hold, and how long a folder may
// spend on those waits in one run: ERROR_ACCESS_DENIED is also a real
// permission, which no wait ends.
inline constexpr int kHoldWaitPerFileMilliseconds = 2000;
inline constexpr int kHoldWaitPerFolderMilliseconds = 10000;

// Waits out holds without blocking the thread: a step that answers a passing
// hold is tried again from a timer, after growing pauses.
class HoldWaits {
 public:
  using Clock = std::chrono::steady_clock;
  using After = std::function<void(int milliseconds, std::function<void()>)>;

  explicit HoldWaits(After after,
                     std::function<Clock::time_point()> now = Clock::now)
      : after_(std::move(after)), now_(std::move(now)) {}

  // Runs `step` now and, while it answers a passing hold's code, again after
  // pauses, for about kHoldWaitPerFileMilliseconds; a folder that has spent
  // kHoldWaitPerFolderMilliseconds so gets no wait. Then `done` with 0 or
  // the step's own other code, or the hold's code if it outlasted the wait.
  // `done` runs before Run returns when no wait was needed.
  void Run(const std::string& folder, std::function<uint32_t()> step,
           std::function<void(uint32_t code)> done);

 private:
  struct Waiting;
  void Try(const std::shared_ptr<Waiting>& waiting);

  After after_;
  std::function<Clock::time_point()> now_;
  std::map<std::string, Clock::duration> spent_;  // by folder
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_FILE_PLACEMENT_H_
