// Helpers shared by the copy tests: staging folders, the simulator's
// pattern bytes, and a copy run on a worker of its own.
#ifndef SNAPFERRY_TESTS_WPD_OBJECT_COPY_TEST_UTIL_H_
#define SNAPFERRY_TESTS_WPD_OBJECT_COPY_TEST_UTIL_H_

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/object_op_test_util.h"
#include "wpd/device_connection.h"
#include "wpd/object_copy.h"

#ifndef _WIN32
#include "win32_standin/control.h"
#endif

namespace snapferry {
namespace test {

namespace fs = std::filesystem;

inline const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#copy";
inline const std::string kPhoneUtf8 = WideToUtf8(kPhone);
constexpr uint64_t kMiB = 1 << 20;

// Byte i of every simulated pattern object.
inline std::string Pattern(uint64_t size) {
  std::string bytes(size, '\0');
  for (uint64_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// A folder of its own per test, removed with everything in it.
class StagingFolder {
 public:
  StagingFolder() {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            ("snapferry_copy_test_" + std::to_string(stamp) + "_" +
             std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~StagingFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string File(const char* name) const { return (path_ / name).u8string(); }
  size_t Entries() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(path_), fs::directory_iterator()));
  }

 private:
  fs::path path_;
};

inline bool Exists(const std::string& path) {
  return fs::exists(fs::u8path(path));
}

inline std::string Contents(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Report {
  int64_t bytes;
  int64_t total;
};

struct CopyRun {
  ObjectOpResult result;
  std::vector<Report> reports;
};

// Runs a copy on a worker thread of its own. `on_report` runs inside the
// progress callback, on that worker.
inline CopyRun Copy(const std::string& object_id, const std::string& path,
                    std::atomic<bool>& cancel,
                    const std::function<void(const Report&)>& on_report = {},
                    const std::string& device_id = kPhoneUtf8,
                    PendingCopies* pending = nullptr) {
  CopyRun run;
  OnWorker([&] {
    ProgressCallback progress = [&](int64_t bytes, int64_t total) {
      run.reports.push_back({bytes, total});
      if (on_report) on_report(run.reports.back());
    };
    run.result =
        CopyObjectToFile(device_id, object_id, path, progress, cancel, pending);
  });
  return run;
}

inline CopyRun Copy(const std::string& object_id, const std::string& path) {
  std::atomic<bool> cancel{false};
  return Copy(object_id, path, cancel);
}

// Every copy releases what it created and closes what it opened, on every
// path; on the stand-in, its file handles too. Resets the stand-in.
inline void ExpectCopiesLeftNothing(const wpd_sim::Simulator& sim) {
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
#ifndef _WIN32
  EXPECT_EQ(win32_standin::OpenFileHandleCount(), 0);
  win32_standin::Reset();
#endif
}

}  // namespace test
}  // namespace snapferry

#endif  // SNAPFERRY_TESTS_WPD_OBJECT_COPY_TEST_UTIL_H_
