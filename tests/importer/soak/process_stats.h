// This process's resident memory and thread count, for the soak.

#ifndef SNAPFERRY_TESTS_IMPORTER_SOAK_PROCESS_STATS_H_
#define SNAPFERRY_TESTS_IMPORTER_SOAK_PROCESS_STATS_H_

#include <cstdint>

namespace soak {

struct ProcessStats {
  int64_t resident_bytes = -1;  // -1: unknown
  int threads = -1;
};

ProcessStats CurrentProcessStats();

}  // namespace soak

#endif  // SNAPFERRY_TESTS_IMPORTER_SOAK_PROCESS_STATS_H_
