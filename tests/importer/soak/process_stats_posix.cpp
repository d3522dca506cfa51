#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/importer/soak/process_stats.h"

namespace soak {

ProcessStats CurrentProcessStats() {
  ProcessStats stats;
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  if (statm >> pages >> resident) {
    stats.resident_bytes = resident * sysconf(_SC_PAGESIZE);
  }
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0)
      stats.threads = std::stoi(line.substr(8));
  }
  return stats;
}

}  // namespace soak
