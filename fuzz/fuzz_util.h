// What the fuzz targets share: a check that stops the run with a message,
// and quiet diagnostics (the codec writes a line for every malformed input,
// which would drown the fuzzer's own output and slow it down).

#ifndef SNAPFERRY_FUZZ_FUZZ_UTIL_H_
#define SNAPFERRY_FUZZ_FUZZ_UTIL_H_

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <system_error>

namespace fuzz {

// A failed check is a finding: it names itself on standard error and aborts,
// so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition, what)                                         \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   what);                                                   \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

// Sends what the system writes to std::cerr nowhere. The sanitizers and
// libFuzzer write to the standard error stream directly and stay heard.
inline void SilenceDiagnostics() {
  struct NullBuffer : std::streambuf {
    int overflow(int c) override { return c; }
  };
  static NullBuffer null_buffer;
  std::cerr.rdbuf(&null_buffer);
}

// A new empty folder of the target's own, named after it and the process.
// In memory (/dev/shm) where there is one: the targets write and delete
// files for every input, which on a disk file system costs flushes. The
// folder is removed at a normal exit; libFuzzer may end a run without one
// (a finding, or the time limit), so folders that processes no longer
// running left behind are removed here.
inline std::filesystem::path MakeScratchFolder(const std::string& name) {
  static std::filesystem::path folder;
  std::error_code error;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, error)) {
    base = std::filesystem::temp_directory_path();
  }
  const std::string prefix = "snapferry-" + name + "-";
  for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
    const std::string leaf = entry.path().filename().string();
    if (leaf.rfind(prefix, 0) != 0) continue;
    const std::string pid = leaf.substr(prefix.size());
    if (!std::filesystem::exists("/proc/" + pid, error)) {
      std::filesystem::remove_all(entry.path(), error);
    }
  }
  folder = base / (prefix + std::to_string(getpid()));
  std::filesystem::remove_all(folder, error);
  FUZZ_CHECK(std::filesystem::create_directory(folder, error),
             "cannot make a scratch folder");
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
  return folder;
}

}  // namespace fuzz

#endif  // SNAPFERRY_FUZZ_FUZZ_UTIL_H_
