// The event channel's listen and cancel protocol through the engine, and the
// sink it hands out.

#include "messaging/event_channel.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "messaging/event_sink_implementation.h"
#include "tests/messaging/engine_test_util.h"

namespace flutter {
namespace {

using engine_test::Bytes;
using engine_test::EncodedCall;

const Bytes kListen = {0x07, 0x06, 'l', 'i', 's', 't', 'e', 'n', 0x00};
const Bytes kCancel = {0x07, 0x06, 'c', 'a', 'n', 'c', 'e', 'l', 0x00};
const Bytes kSuccess = {0x00, 0x00};

Bytes NoActiveStream() {
  const std::string text = "No active stream to cancel";
  Bytes bytes = {0x01, 0x07, 0x05, 'e', 'r', 'r', 'o', 'r', 0x07, 0x1A};
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0x00);
  return bytes;
}

// What the stream handler saw, in order: "listen <args>" / "cancel <args>".
struct Journal {
  std::vector<std::string> entries;
  std::unique_ptr<EventSink> sink;

  static std::string Describe(const EncodableValue* arguments) {
    if (arguments == nullptr) return "none";
    if (arguments->IsNull()) return "null";
    if (const auto* text = std::get_if<std::string>(arguments)) return *text;
    return "other";
  }
};

class EventChannelTest : public engine_test::EngineTest {
 protected:
  void SetUp() override {
    engine_test::EngineTest::SetUp();
    channel_ = std::make_unique<EventChannel>(messenger(), "events",
                                              &engine_test::Codec());
  }

  void TearDown() override {
    journal_.sink.reset();
    channel_.reset();
    engine_test::EngineTest::TearDown();
  }

  // A handler that records every call into journal_ and keeps the sink.
  void AttachRecordingHandler() {
    channel_->AttachStreamHandler(std::make_unique<StreamHandlerFunctions>(
        [this](const EncodableValue* arguments,
               std::unique_ptr<EventSink>&& events)
            -> std::unique_ptr<StreamHandlerError> {
          journal_.entries.push_back("listen " + Journal::Describe(arguments));
          journal_.sink = std::move(events);
          return nullptr;
        },
        [this](const EncodableValue* arguments)
            -> std::unique_ptr<StreamHandlerError> {
          journal_.entries.push_back("cancel " + Journal::Describe(arguments));
          journal_.sink.reset();
          return nullptr;
        }));
  }

  std::unique_ptr<EventChannel> channel_;
  Journal journal_;
};

TEST_F(EventChannelTest, CancelBeforeAnyListenIsAnError) {
  AttachRecordingHandler();
  EXPECT_EQ(Call("events", kCancel), NoActiveStream());
  EXPECT_TRUE(journal_.entries.empty());
}

TEST_F(EventChannelTest, ListenAgainCancelsOnceWithoutArgumentsInBetween) {
  AttachRecordingHandler();
  EXPECT_EQ(Call("events", kListen), kSuccess);
  EXPECT_EQ(
      Call("events", EncodedCall("listen", std::make_unique<EncodableValue>(
                                               std::string("again")))),
      kSuccess);
  EXPECT_EQ(
      journal_.entries,
      (std::vector<std::string>{"listen null", "cancel none", "listen again"}));
}

TEST_F(EventChannelTest, ListenCancelCancelSucceedsThenHasNoStream) {
  AttachRecordingHandler();
  EXPECT_EQ(Call("events", kListen), kSuccess);
  EXPECT_EQ(
      Call("events", EncodedCall("cancel", std::make_unique<EncodableValue>(
                                               std::string("bye")))),
      kSuccess);
  EXPECT_EQ(Call("events", kCancel), NoActiveStream());
  EXPECT_EQ(journal_.entries,
            (std::vector<std::string>{"listen null", "cancel bye"}));
}

TEST_F(EventChannelTest, OtherMethodNamesGetAnEmptyReply) {
  AttachRecordingHandler();
  EXPECT_EQ(Call("events", EncodedCall("listenNow")), Bytes{});
  EXPECT_EQ(Call("events", EncodedCall("Listen")), Bytes{});
  EXPECT_EQ(Call("events", EncodedCall(std::string("cancel\0", 7))), Bytes{});
  EXPECT_TRUE(journal_.entries.empty());
  EXPECT_EQ(Call("events", kListen), kSuccess);
  EXPECT_EQ(journal_.entries, std::vector<std::string>{"listen null"});
}

TEST_F(EventChannelTest, MessageThatIsNotACallGetsAnEmptyReplyAndALine) {
  AttachRecordingHandler();
  std::string diagnostics;
  EXPECT_EQ(CallCapturing("events", {0x00}, &diagnostics), Bytes{});
  EXPECT_EQ(diagnostics,
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel: "
            "events\n");
}

TEST_F(EventChannelTest, SinkSendsEnvelopesAndAnEmptyEndOfStream) {
  AttachRecordingHandler();
  ASSERT_EQ(Call("events", kListen), kSuccess);
  ASSERT_NE(journal_.sink, nullptr);
  journal_.sink->Success(EncodableValue(5));
  journal_.sink->Error("copy", "failed");
  journal_.sink->EndStream();
  const auto sent = engine_control::SentMessages(engine_);
  ASSERT_EQ(sent.size(), 3u);
  for (const auto& message : sent) {
    EXPECT_EQ(message.channel, "events");
    EXPECT_FALSE(message.wants_reply);
  }
  EXPECT_EQ(sent[0].bytes, (Bytes{0x00, 0x03, 0x05, 0x00, 0x00, 0x00}));
  EXPECT_EQ(sent[1].bytes, engine_test::ErrorEnvelope("copy", "failed"));
  EXPECT_TRUE(sent[2].bytes.empty());
}

TEST_F(EventChannelTest, HandlerErrorsComeBackAsErrorEnvelopes) {
  channel_->AttachStreamHandler(std::make_unique<StreamHandlerFunctions>(
      [](const EncodableValue*, std::unique_ptr<EventSink>&&) {
        return std::make_unique<StreamHandlerError>(
            "busy", "try later", std::make_unique<EncodableValue>(3));
      },
      nullptr));
  const EncodableValue details(3);
  EXPECT_EQ(Call("events", kListen),
            engine_test::ErrorEnvelope("busy", "try later", &details));
}

TEST_F(EventChannelTest,
       MissingCallablesAnswerWithErrorsAndListeningStillStarts) {
  channel_->AttachStreamHandler(
      std::make_unique<StreamHandlerFunctions>(nullptr, nullptr));
  EXPECT_EQ(Call("events", kListen),
            engine_test::ErrorEnvelope("error", "No OnListen handler set"));
  // Listening is on even so: the cancel reaches the (missing) callable.
  EXPECT_EQ(Call("events", kCancel),
            engine_test::ErrorEnvelope("error", "No OnCancel handler set"));
  EXPECT_EQ(Call("events", kCancel), NoActiveStream());
}

TEST_F(EventChannelTest, FailedImplicitCancelIsReportedAndListeningGoesOn) {
  const EncodableValue* details_address = nullptr;
  int listens = 0;
  channel_->AttachStreamHandler(std::make_unique<StreamHandlerFunctions>(
      [&](const EncodableValue*,
          std::unique_ptr<EventSink>&&) -> std::unique_ptr<StreamHandlerError> {
        ++listens;
        return nullptr;
      },
      [&](const EncodableValue*) {
        auto error = std::make_unique<StreamHandlerError>(
            "stuck", "cannot stop", std::make_unique<EncodableValue>(1));
        details_address = error->error_details.get();
        return error;
      }));
  ASSERT_EQ(Call("events", kListen), kSuccess);
  std::string diagnostics;
  EXPECT_EQ(CallCapturing("events", kListen, &diagnostics), kSuccess);
  std::ostringstream expected;
  expected << "Failed to cancel existing stream: stuck, cannot stop, "
           << static_cast<const void*>(details_address);
  EXPECT_EQ(diagnostics, expected.str());
  EXPECT_EQ(listens, 2);
}

TEST_F(EventChannelTest, DetachingUnregistersTheChannel) {
  AttachRecordingHandler();
  channel_->AttachStreamHandler(nullptr);
  EXPECT_TRUE(engine_control::RegisteredChannels(engine_).empty());
  EXPECT_EQ(Call("events", kListen), Bytes{});
  EXPECT_TRUE(journal_.entries.empty());
}

}  // namespace
}  // namespace flutter
