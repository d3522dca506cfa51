// Holds a test puts on a path: what antivirus, the search indexer or a sync
// client does to a file it opens right after it was closed.
#include <windows.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "platform/win32/src/wide_text.h"
#include "win32_standin/control.h"

namespace win32_standin {
namespace {

using Clock = std::chrono::steady_clock;

struct Hold {
  DWORD error;
  bool lasting;
  Clock::time_point until;
};

std::mutex holds_mutex;
std::map<std::string, Hold>& Holds() {
  static auto* holds = new std::map<std::string, Hold>();
  return *holds;
}

}  // namespace

void HoldPath(const std::wstring& path, DWORD error, int milliseconds) {
  std::lock_guard<std::mutex> lock(holds_mutex);
  Holds()[internal::PosixPath(path.c_str())] = {
      error, milliseconds < 0,
      Clock::now() + std::chrono::milliseconds(milliseconds)};
}

namespace internal {
DWORD HeldPathError(const std::string& posix_path) {
  std::lock_guard<std::mutex> lock(holds_mutex);
  const auto found = Holds().find(posix_path);
  if (found == Holds().end()) return 0;
  if (!found->second.lasting && Clock::now() >= found->second.until) {
    Holds().erase(found);
    return 0;
  }
  return found->second.error;
}

void ResetFileHolds() {
  std::lock_guard<std::mutex> lock(holds_mutex);
  Holds().clear();
}
}  // namespace internal
}  // namespace win32_standin
