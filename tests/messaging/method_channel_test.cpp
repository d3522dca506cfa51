// Method calls through the engine: decoding, answering now or later, and the
// channel's registration.

#include "messaging/method_channel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/messaging/engine_test_util.h"

namespace flutter {
namespace {

using engine_test::Bytes;
using engine_test::EncodedCall;
using engine_test::Envelope;

class MethodCallChannelTest : public engine_test::EngineTest {
 protected:
  std::unique_ptr<MethodCallChannel> MakeChannel(const std::string& name) {
    return std::make_unique<MethodCallChannel>(messenger(), name,
                                               &engine_test::Codec());
  }
};

TEST_F(MethodCallChannelTest, HandlerGetsTheDecodedCallAndItsAnswerGoesBack) {
  auto channel = MakeChannel("snapferry/test");
  std::string method;
  EncodableValue arguments;
  channel->SetCallHandler(
      [&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        method = call.method_name();
        arguments = *call.arguments();
        result->Success(EncodableValue(std::string("done")));
      });
  auto sent = std::make_unique<EncodableValue>(
      ValueMap{{EncodableValue("id"), EncodableValue("device")}});
  const auto answer =
      Call("snapferry/test", EncodedCall("scan", std::move(sent)));
  EXPECT_EQ(method, "scan");
  EXPECT_EQ(arguments, EncodableValue(ValueMap{
                           {EncodableValue("id"), EncodableValue("device")}}));
  const EncodableValue done(std::string("done"));
  EXPECT_EQ(answer, Envelope(&done));
}

TEST_F(MethodCallChannelTest, KeptResultAnswersLater) {
  auto channel = MakeChannel("c");
  std::unique_ptr<MethodResult> kept;
  channel->SetCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        kept = std::move(result);
      });
  const int number =
      engine_control::DeliverMessage(engine_, "c", EncodedCall("slow"));
  engine_control::RunPendingMessages();
  ASSERT_NE(kept, nullptr);
  EXPECT_FALSE(engine_control::ResponseTo(engine_, number).has_value());
  kept->Error("wpd_error", "failed");
  EXPECT_EQ(engine_control::ResponseTo(engine_, number),
            engine_test::ErrorEnvelope("wpd_error", "failed"));
}

TEST_F(MethodCallChannelTest, NotImplementedAnswersWithZeroBytes) {
  auto channel = MakeChannel("c");
  channel->SetCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult> result) {
        result->NotImplemented();
      });
  EXPECT_EQ(Call("c", EncodedCall("unknownMethod")), Bytes{});
}

TEST_F(MethodCallChannelTest, DroppedResultWarnsAndLeavesTheMessageUnanswered) {
  auto channel = MakeChannel("c");
  channel->SetCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult>) {});
  std::string diagnostics;
  EXPECT_EQ(CallCapturing("c", EncodedCall("m"), &diagnostics), std::nullopt);
  EXPECT_EQ(
      diagnostics,
      "Warning: Failed to respond to a message. This is a memory leak.\n");
}

TEST_F(MethodCallChannelTest, MessageThatIsNotACallGetsAnEmptyReply) {
  auto channel = MakeChannel("snapferry/wpd");
  bool called = false;
  channel->SetCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        called = true;
        result->Success();
      });
  std::string diagnostics;
  // The method name is an int32.
  EXPECT_EQ(CallCapturing("snapferry/wpd", {0x03, 0x01, 0x00, 0x00, 0x00, 0x00},
                          &diagnostics),
            Bytes{});
  EXPECT_EQ(diagnostics,
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel "
            "snapferry/wpd\n");
  EXPECT_FALSE(called);
}

TEST_F(MethodCallChannelTest, NewHandlerReplacesTheOldAndEmptyUnregisters) {
  auto channel = MakeChannel("c");
  int first = 0;
  channel->SetCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
        ++first;
        result->Success();
      });
  channel->SetCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult> result) {
        result->Success(EncodableValue(true));
      });
  const EncodableValue yes(true);
  EXPECT_EQ(Call("c", EncodedCall("m")), Envelope(&yes));
  EXPECT_EQ(first, 0);

  channel->SetCallHandler(nullptr);
  EXPECT_TRUE(engine_control::RegisteredChannels(engine_).empty());
}

}  // namespace
}  // namespace flutter
