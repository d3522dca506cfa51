// The handler on a messenger: which channels it registers and unregisters,
// how the event channel's listen and cancel move the sink, and the progress
// event's payload.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channel/progress_events.h"
#include "channel/wpd_channel_handler.h"
#include "tests/channel/channel_test_util.h"

namespace snapferry {
namespace {

using channel_test::Bytes;
using channel_test::DrainWindow;
using channel_test::EncodedCall;
using channel_test::FakeMessenger;
using flutter::EncodableValue;

Bytes SuccessBytes(const EncodableValue* value) {
  return *channel_test::Codec().EncodeSuccessEnvelope(value);
}

class ChannelSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handler_ = std::make_unique<WpdChannelHandler>(&messenger_, window_.hwnd());
  }
  int Events() {
    int count = 0;
    for (const auto& sent : messenger_.sent) {
      if (sent.channel == kWpdEventChannelName) ++count;
    }
    return count;
  }

  DrainWindow window_;
  FakeMessenger messenger_;
  std::unique_ptr<WpdChannelHandler> handler_;
};

TEST_F(ChannelSetupTest, RegistersBothChannelsAndUnregistersThemWhenDestroyed) {
  ASSERT_EQ(messenger_.handlers.size(), 4u);
  EXPECT_EQ(messenger_.handlers.count("snapferry/wpd"), 1u);
  EXPECT_EQ(messenger_.handlers.count("snapferry/wpd_events"), 1u);
  EXPECT_EQ(messenger_.handlers.count("snapferry/wpd_media"), 1u);
  EXPECT_EQ(messenger_.handlers.count("snapferry/wpd_devices"), 1u);
  handler_.reset();
  EXPECT_TRUE(messenger_.handlers.empty());
}

TEST_F(ChannelSetupTest, ProgressGoesOnlyToTheCurrentListener) {
  handler_->SendProgressEvent("o1", 1, 2);
  EXPECT_EQ(Events(), 0);

  const int listen =
      messenger_.Deliver(kWpdEventChannelName, EncodedCall("listen"));
  EXPECT_EQ(messenger_.replies.at(listen), SuccessBytes(nullptr));
  handler_->SendProgressEvent("o1", 1, 2);
  EXPECT_EQ(Events(), 1);

  // A second listen replaces the sink: still one event per report.
  messenger_.Deliver(kWpdEventChannelName, EncodedCall("listen"));
  handler_->SendProgressEvent("o1", 3, 4);
  EXPECT_EQ(Events(), 2);

  const int cancel =
      messenger_.Deliver(kWpdEventChannelName, EncodedCall("cancel"));
  EXPECT_EQ(messenger_.replies.at(cancel), SuccessBytes(nullptr));
  handler_->SendProgressEvent("o1", 5, 6);
  EXPECT_EQ(Events(), 2);
}

TEST_F(ChannelSetupTest, ProgressEventCarriesObjectIdAndSixtyFourBitCounts) {
  messenger_.Deliver(kWpdEventChannelName, EncodedCall("listen"));
  handler_->SendProgressEvent("o:1/\xC3\xA9", 3000000000LL, 0);
  ASSERT_EQ(Events(), 1);
  const EncodableValue expected(flutter::ValueMap{
      {EncodableValue("objectId"), EncodableValue("o:1/\xC3\xA9")},
      {EncodableValue("bytes"), EncodableValue(int64_t{3000000000LL})},
      {EncodableValue("total"), EncodableValue(int64_t{0})},
  });
  EXPECT_EQ(messenger_.sent.back().bytes, SuccessBytes(&expected));
}

TEST_F(ChannelSetupTest,
       ReportMadeBeforeTheListenReachesTheListenerOfItsDrain) {
  window_.set_handler(handler_.get());
  // The report is made on a worker and waits in the queue while nobody
  // listens; the sink is looked up when the report runs.
  auto made = std::make_shared<channel_test::Signal>();
  handler_->RunJob([&, made]() -> Completion {
    Completion report;
    // The callback posts into a queue of our own here; the report it made
    // then travels as this job's completion.
    auto queue = std::make_shared<WpdChannelHandler::ReplyQueue>();
    MakeProgressCallback(queue, window_.hwnd(), "o1", handler_.get())(7, 9);
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      report = std::move(queue->completions.front());
    }
    made->Set();
    return report;
  });
  ASSERT_TRUE(made->Wait());
  messenger_.Deliver(kWpdEventChannelName, EncodedCall("listen"));
  ASSERT_TRUE(channel_test::PumpUntil([&] { return Events() == 1; }));
  const EncodableValue expected(flutter::ValueMap{
      {EncodableValue("objectId"), EncodableValue("o1")},
      {EncodableValue("bytes"), EncodableValue(int64_t{7})},
      {EncodableValue("total"), EncodableValue(int64_t{9})},
  });
  EXPECT_EQ(messenger_.sent.back().bytes, SuccessBytes(&expected));
  window_.set_handler(nullptr);
}

}  // namespace
}  // namespace snapferry
