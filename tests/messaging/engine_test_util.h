// Helpers for the messaging tests that run over the in-process engine: a
// running engine under a view controller, as the host makes it, and the
// interface's side of its channels.

#ifndef SNAPFERRY_TESTS_MESSAGING_ENGINE_TEST_UTIL_H_
#define SNAPFERRY_TESTS_MESSAGING_ENGINE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "messaging/encodable_value.h"
#include "messaging/engine_project.h"
#include "messaging/flutter_view_controller.h"
#include "messaging/method_call.h"
#include "messaging/standard_method_codec.h"
#include "platform/engine/engine_control.h"

namespace engine_test {

using Bytes = std::vector<uint8_t>;

inline const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::SharedInstance();
}

// The bytes of a method call, as the interface sends them.
inline Bytes EncodedCall(
    const std::string& method,
    std::unique_ptr<flutter::EncodableValue> arguments = nullptr) {
  return *Codec().EncodeCall(flutter::MethodCall(method, std::move(arguments)));
}

inline Bytes Envelope(const flutter::EncodableValue* value) {
  return *Codec().EncodeSuccessEnvelope(value);
}

inline Bytes ErrorEnvelope(const std::string& code, const std::string& message,
                           const flutter::EncodableValue* details = nullptr) {
  return *Codec().EncodeErrorEnvelope(code, message, details);
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_control::Reset();
    controller_ = std::make_unique<flutter::FlutterViewController>(
        64, 48, flutter::EngineProject(L"data"));
    engine_ = engine_control::LatestEngine();
    ASSERT_NE(engine_, nullptr);
  }

  void TearDown() override {
    controller_.reset();
    engine_control::RunPendingMessages();
    EXPECT_EQ(engine_control::LiveEngineCount(), 0);
    engine_control::Reset();
  }

  flutter::BinaryMessenger* messenger() {
    return controller_->engine()->messenger();
  }

  // Delivers `bytes` on `channel`, runs the loop, returns the answer if one
  // came.
  std::optional<Bytes> Call(const std::string& channel, const Bytes& bytes) {
    return engine_control::Call(engine_, channel, bytes);
  }

  // The same, with standard error captured into `diagnostics`.
  std::optional<Bytes> CallCapturing(const std::string& channel,
                                     const Bytes& bytes,
                                     std::string* diagnostics) {
    testing::internal::CaptureStderr();
    std::optional<Bytes> answer = Call(channel, bytes);
    *diagnostics = testing::internal::GetCapturedStderr();
    return answer;
  }

  std::unique_ptr<flutter::FlutterViewController> controller_;
  FlutterDesktopEngineRef engine_ = nullptr;
};

}  // namespace engine_test

#endif  // SNAPFERRY_TESTS_MESSAGING_ENGINE_TEST_UTIL_H_
