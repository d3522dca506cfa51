#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include "tests/importer/soak/process_stats.h"

namespace soak {

ProcessStats CurrentProcessStats() {
  ProcessStats stats;
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory))) {
    stats.resident_bytes = static_cast<int64_t>(memory.WorkingSetSize);
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    const DWORD self = GetCurrentProcessId();
    int threads = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more;
         more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == self) ++threads;
    }
    CloseHandle(snapshot);
    stats.threads = threads;
  }
  return stats;
}

}  // namespace soak
