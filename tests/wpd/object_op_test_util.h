// Helpers shared by the copy and deletion tests.
#ifndef SNAPFERRY_TESTS_WPD_OBJECT_OP_TEST_UTIL_H_
#define SNAPFERRY_TESTS_WPD_OBJECT_OP_TEST_UTIL_H_

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "wpd/object_op_result.h"

namespace snapferry {
namespace test {

// A result as one line, so that a mismatch shows every field at once.
inline std::string Describe(const ObjectOpResult& result) {
  char hresult[16];
  std::snprintf(hresult, sizeof(hresult), "0x%08X",
                static_cast<unsigned>(result.hresult));
  return "status=" + std::to_string(static_cast<int>(result.status)) +
         " bytesWritten=" + std::to_string(result.bytesWritten) +
         " hresult=" + hresult + " error=\"" + result.error + "\"";
}

inline std::string Describe(ObjectOpStatus status, int64_t bytes_written,
                            HRESULT hresult, std::string error) {
  ObjectOpResult result;
  result.status = status;
  result.bytesWritten = bytes_written;
  result.hresult = hresult;
  result.error = std::move(error);
  return Describe(result);
}

// Runs `body` on a fresh thread, as the system runs every device operation
// on a worker of its own that has not joined COM yet.
template <typename Body>
void OnWorker(Body&& body) {
  std::thread worker(std::forward<Body>(body));
  worker.join();
}

}  // namespace test
}  // namespace snapferry

#endif  // SNAPFERRY_TESTS_WPD_OBJECT_OP_TEST_UTIL_H_
