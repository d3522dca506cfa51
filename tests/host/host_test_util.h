// Helpers for the host's tests: a clean in-process engine per test, a message
// pump that waits on conditions, and the interface's side of the channels.

#ifndef SNAPFERRY_TESTS_HOST_HOST_TEST_UTIL_H_
#define SNAPFERRY_TESTS_HOST_HOST_TEST_UTIL_H_

#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "messaging/encodable_value.h"
#include "messaging/method_call.h"
#include "messaging/standard_method_codec.h"
#include "platform/engine/engine_control.h"

namespace host_test {

using Bytes = std::vector<uint8_t>;

// Generous: a wait that runs out means the behaviour is missing, not slow.
inline constexpr std::chrono::seconds kTimeout{30};

inline Bytes EncodedCall(
    const std::string& method,
    std::unique_ptr<flutter::EncodableValue> arguments = nullptr) {
  return *flutter::StandardMethodCodec::SharedInstance().EncodeCall(
      flutter::MethodCall(method, std::move(arguments)));
}

inline std::unique_ptr<flutter::EncodableValue> StringArgs(
    std::vector<std::pair<std::string, std::string>> entries) {
  flutter::ValueMap map;
  for (auto& entry : entries) {
    map[flutter::EncodableValue(entry.first)] =
        flutter::EncodableValue(entry.second);
  }
  return std::make_unique<flutter::EncodableValue>(std::move(map));
}

inline bool PumpUntil(const std::function<bool()>& done) {
  return engine_control::RunMessagesUntil(done, kTimeout);
}

// Records what the engine is offered through the top-level window hook and
// answers for the messages it is told to consume.
class WindowProcRecorder {
 public:
  WindowProcRecorder() {
    engine_control::SetTopLevelWindowProcHook(
        [this](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
          std::lock_guard<std::mutex> lock(mutex_);
          offered_.push_back(message);
          if (message == consumed_message_) return consumed_result_;
          return std::nullopt;
        });
  }
  ~WindowProcRecorder() { engine_control::SetTopLevelWindowProcHook(nullptr); }

  void Consume(UINT message, LRESULT result) {
    std::lock_guard<std::mutex> lock(mutex_);
    consumed_message_ = message;
    consumed_result_ = result;
  }
  bool Offered(UINT message) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (UINT m : offered_) {
      if (m == message) return true;
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<UINT> offered_;
  UINT consumed_message_ = 0xFFFFFFFF;
  LRESULT consumed_result_ = 0;
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_control::Reset(); }
  void TearDown() override {
    engine_control::RunPendingMessages();
    engine_control::Reset();
  }
};

}  // namespace host_test

#endif  // SNAPFERRY_TESTS_HOST_HOST_TEST_UTIL_H_
