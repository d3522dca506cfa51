// The messenger over the engine: routing by channel, the reply rules, and
// replies that outlive the engine.

#include "messaging/binary_messenger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/messaging/engine_test_util.h"

namespace flutter {
namespace {

using engine_test::Bytes;

constexpr char kDuplicateResponseLine[] =
    "Error: Response can be set only once. Ignoring duplicate response.\n";

class BinaryMessengerTest : public engine_test::EngineTest {
 protected:
  // Registers a handler on `channel` that keeps each message and its reply.
  void Keep(const std::string& channel) {
    messenger()->RegisterChannelHandler(
        channel, [this](const uint8_t* data, size_t size, ReplyCallback reply) {
          messages_.emplace_back(data, data + size);
          replies_.push_back(std::move(reply));
        });
  }

  std::vector<Bytes> messages_;
  std::vector<ReplyCallback> replies_;
};

TEST_F(BinaryMessengerTest, RoutesMessagesToTheirChannelAndRepliesBack) {
  Keep("a");
  messenger()->RegisterChannelHandler(
      "b", [](const uint8_t*, size_t, ReplyCallback reply) {
        const uint8_t answer[] = {0xB0};
        reply(answer, 1);
      });
  const int to_a = engine_control::DeliverMessage(engine_, "a", {1, 2});
  EXPECT_EQ(Call("b", {3}), Bytes{0xB0});
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], (Bytes{1, 2}));
  EXPECT_FALSE(engine_control::ResponseTo(engine_, to_a).has_value());

  const uint8_t answer[] = {0xA0, 0xA1};
  replies_[0](answer, 2);
  EXPECT_EQ(engine_control::ResponseTo(engine_, to_a), (Bytes{0xA0, 0xA1}));
}

TEST_F(BinaryMessengerTest, SecondReplyIsRefusedEvenThroughACopy) {
  Keep("a");
  const int number = engine_control::DeliverMessage(engine_, "a", {});
  engine_control::RunPendingMessages();
  ASSERT_EQ(replies_.size(), 1u);
  ReplyCallback copy = replies_[0];

  const uint8_t first = 1;
  const uint8_t second = 2;
  testing::internal::CaptureStderr();
  copy(&first, 1);
  replies_[0](&second, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kDuplicateResponseLine);
  EXPECT_EQ(engine_control::ResponseTo(engine_, number), Bytes{1});
  EXPECT_EQ(engine_control::GetCounts().invalid_responses, 0)
      << "the engine saw a handle answered twice";
}

TEST_F(BinaryMessengerTest, ReplyAfterTheEngineIsGoneIsDroppedSilently) {
  Keep("a");
  engine_control::DeliverMessage(engine_, "a", {});
  engine_control::RunPendingMessages();
  ASSERT_EQ(replies_.size(), 1u);

  controller_.reset();
  testing::internal::CaptureStderr();
  const uint8_t byte = 1;
  replies_[0](&byte, 1);
  replies_[0](&byte, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(engine_control::GetCounts().late_responses, 0)
      << "a response reached the engine after it had gone";
  // The last copy of the reply lets go of the messenger.
  replies_.clear();
}

TEST_F(BinaryMessengerTest, ReplyMayComeFromAnotherThread) {
  Keep("a");
  const int number = engine_control::DeliverMessage(engine_, "a", {});
  engine_control::RunPendingMessages();
  ASSERT_EQ(replies_.size(), 1u);
  std::thread worker([reply = std::move(replies_[0])] {
    const uint8_t byte = 7;
    reply(&byte, 1);
  });
  worker.join();
  replies_.clear();
  EXPECT_EQ(engine_control::ResponseTo(engine_, number), Bytes{7});
}

TEST_F(BinaryMessengerTest, ReplyWaitingForTheLockWhileTheEngineGoesIsDropped) {
  Keep("a");
  engine_control::DeliverMessage(engine_, "a", {});
  engine_control::RunPendingMessages();
  ASSERT_EQ(replies_.size(), 1u);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine_);

  // Held as the engine holds it while it shuts down: a worker's reply must
  // wait for it before it even asks whether the engine is there.
  ASSERT_EQ(FlutterDesktopMessengerLock(messenger), messenger);
  std::thread worker([reply = std::move(replies_[0])] {
    const uint8_t byte = 7;
    reply(&byte, 1);
  });
  replies_.clear();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (engine_control::ThreadsWaitingForMessengerLock(messenger) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(engine_control::ThreadsWaitingForMessengerLock(messenger), 1);
  controller_.reset();
  // The worker's reply still holds the messenger object.
  FlutterDesktopMessengerUnlock(messenger);
  worker.join();
  EXPECT_EQ(engine_control::GetCounts().late_responses, 0)
      << "the reply checked the engine without the lock and answered after "
         "it had gone";
}

TEST_F(BinaryMessengerTest, ReplacingAHandlerRoutesToTheNewOneOnly) {
  int old_calls = 0;
  messenger()->RegisterChannelHandler(
      "a", [&](const uint8_t*, size_t, ReplyCallback reply) {
        ++old_calls;
        reply(nullptr, 0);
      });
  messenger()->RegisterChannelHandler(
      "a", [](const uint8_t*, size_t, ReplyCallback reply) {
        const uint8_t byte = 2;
        reply(&byte, 1);
      });
  EXPECT_EQ(Call("a", {}), Bytes{2});
  EXPECT_EQ(old_calls, 0);
}

TEST_F(BinaryMessengerTest, EmptyHandlerUnregistersTheChannelWithTheEngine) {
  Keep("a");
  Keep("b");
  messenger()->RegisterChannelHandler("a", nullptr);
  EXPECT_EQ(engine_control::RegisteredChannels(engine_),
            std::vector<std::string>{"b"});
  // The engine answers for a channel nobody listens on.
  EXPECT_EQ(Call("a", {1}), Bytes{});
  EXPECT_TRUE(messages_.empty());
}

TEST_F(BinaryMessengerTest, HandlerMayUnregisterItsOwnChannelWhileRunning) {
  std::string seen;
  messenger()->RegisterChannelHandler(
      "a", [this, &seen, text = std::string(64, 'x')](const uint8_t*, size_t,
                                                      ReplyCallback reply) {
        messenger()->RegisterChannelHandler("a", nullptr);
        // Still usable: the running handler is not the stored one.
        seen = text;
        reply(nullptr, 0);
      });
  EXPECT_EQ(Call("a", {}), Bytes{});
  EXPECT_EQ(seen, std::string(64, 'x'));
  EXPECT_TRUE(engine_control::RegisteredChannels(engine_).empty());
}

TEST_F(BinaryMessengerTest, SendGoesToTheEngineWithOrWithoutAReply) {
  const uint8_t bytes[] = {5, 6};
  messenger()->Send("out", bytes, 2, nullptr);
  int replies = 0;
  messenger()->Send("ask", bytes, 1, [&](const uint8_t*, size_t size) {
    ++replies;
    EXPECT_EQ(size, 0u);
  });
  engine_control::RunPendingMessages();
  EXPECT_EQ(replies, 1);
  const auto sent = engine_control::SentMessages(engine_);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].channel, "out");
  EXPECT_EQ(sent[0].bytes, (Bytes{5, 6}));
  EXPECT_FALSE(sent[0].wants_reply);
  EXPECT_EQ(sent[1].channel, "ask");
  EXPECT_TRUE(sent[1].wants_reply);
}

TEST_F(BinaryMessengerTest, RefusedSendDestroysTheReplyUncalled) {
  engine_control::RefuseSendWithReply(true);
  auto token = std::make_shared<int>(0);
  bool called = false;
  messenger()->Send(
      "ask", nullptr, 0,
      [token, &called](const uint8_t*, size_t) { called = true; });
  engine_control::RunPendingMessages();
  EXPECT_FALSE(called);
  EXPECT_EQ(token.use_count(), 1) << "the reply's copy was kept";
}

}  // namespace
}  // namespace flutter
