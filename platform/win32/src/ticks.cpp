// The millisecond tick count, which a test may freeze and move by hand.
#include <time.h>
#include <winbase.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "win32_standin/control.h"

namespace win32_standin {
namespace {
std::atomic<bool> frozen{false};
std::atomic<ULONGLONG> frozen_value{0};
}  // namespace

void FreezeTickCount(ULONGLONG value) {
  frozen_value = value;
  frozen = true;
}

void AdvanceTickCount(ULONGLONG milliseconds) { frozen_value += milliseconds; }

namespace internal {
void ResetTickCount() { frozen = false; }
}  // namespace internal

}  // namespace win32_standin

ULONGLONG WINAPI GetTickCount64() {
  if (win32_standin::frozen) return win32_standin::frozen_value;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000 +
         static_cast<ULONGLONG>(now.tv_nsec) / 1000000;
}

void WINAPI Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
