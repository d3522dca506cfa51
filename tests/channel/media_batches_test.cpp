// How a running enumeration's entries are gathered into batches for the
// listener on "snapferry/wpd_media": when a batch goes, what it carries, and
// what happens while nobody listens, and the final batch.

#include "channel/media_batches.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "channel/wpd_channel_handler.h"
#include "tests/channel/channel_test_util.h"

namespace snapferry {
namespace {

using channel_test::At;
using channel_test::DecodeReply;
using channel_test::EncodedCall;
using flutter::EncodableValue;
using flutter::ValueList;

class MediaBatchesTest : public channel_test::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    messenger_.Deliver(kWpdMediaChannelName, EncodedCall("listen"));
  }

  // Runs the batches queued so far, as the window's drain would.
  void RunQueued() {
    std::vector<Completion> queued;
    {
      std::lock_guard<std::mutex> lock(queue_->mutex);
      queued.swap(queue_->completions);
    }
    for (Completion& completion : queued) completion();
  }

  // Every batch sent so far.
  std::vector<EncodableValue> Sent() {
    RunQueued();
    std::vector<EncodableValue> batches;
    for (const auto& sent : messenger_.sent) {
      if (sent.channel == kWpdMediaChannelName) {
        batches.push_back(DecodeReply(sent.bytes).value);
      }
    }
    return batches;
  }

  // The object ids of every batch sent so far, batch by batch.
  std::vector<std::vector<std::string>> Batches() {
    std::vector<std::vector<std::string>> batches;
    for (const EncodableValue& batch : Sent()) {
      EXPECT_EQ(At(batch, "deviceId"), EncodableValue("phone"));
      EXPECT_EQ(At(batch, "token"), EncodableValue("t1"));
      batches.emplace_back();
      const EncodableValue entries = At(batch, "entries");
      for (const EncodableValue& entry : std::get<ValueList>(entries)) {
        EXPECT_EQ(channel_test::KeysOf(entry).size(), 5u);
        batches.back().push_back(std::get<std::string>(At(entry, "objectId")));
      }
    }
    return batches;
  }

  size_t EntriesSent() {
    size_t count = 0;
    for (const auto& batch : Batches()) count += batch.size();
    return count;
  }

  std::shared_ptr<WpdChannelHandler::ReplyQueue> queue_ =
      std::make_shared<WpdChannelHandler::ReplyQueue>();
  std::shared_ptr<std::atomic<bool>> listening_ =
      std::make_shared<std::atomic<bool>>(true);
};

MediaEntry Entry(int number) {
  MediaEntry entry;
  entry.objectId = "o" + std::to_string(number);
  entry.name = "IMG_" + std::to_string(number) + ".HEIC";
  return entry;
}

TEST_F(MediaBatchesTest,
       FirstAtOnceThenEveryFiveHundredOrHundredMsOnlyTheFinalOneMayBeEmpty) {
  MediaBatcher batcher(queue_, window_.hwnd(), handler_.get(), "phone", "t1",
                       listening_);
  std::vector<std::string> expected;
  auto add = [&](int from, int to, bool kept) {
    for (int n = from; n <= to; ++n) {
      batcher.Add(Entry(n));
      if (kept) expected.push_back("o" + std::to_string(n));
    }
  };

  add(1, 1, true);
  EXPECT_EQ(Batches(), (std::vector<std::vector<std::string>>{{"o1"}}));
  add(2, 501, true);
  add(502, 502, true);
  // 100 ms after the last batch, the next entry sends whatever waits.
  std::this_thread::sleep_for(kMediaBatchInterval +
                              std::chrono::milliseconds(20));
  add(503, 503, true);
  EXPECT_EQ(EntriesSent(), 503u);

  // Nobody listens: nothing is kept. A new listener gets the next entry at
  // once, as a first batch.
  listening_->store(false);
  add(504, 506, false);
  listening_->store(true);
  add(507, 507, true);
  EXPECT_EQ(EntriesSent(), 504u);
  add(508, 509, true);
  batcher.Finish({});  // what waits goes in the final batch

  std::vector<std::string> streamed;
  const auto batches = Batches();
  for (const auto& batch : batches) {
    EXPECT_FALSE(batch.empty());
    EXPECT_LE(batch.size(), kMediaBatchEntries);
    streamed.insert(streamed.end(), batch.begin(), batch.end());
  }
  EXPECT_EQ(streamed, expected);
  EXPECT_EQ(batches.back(), (std::vector<std::string>{"o508", "o509"}));
}

// The final batch goes even when no entry waits, marked and carrying the
// unread items; no other batch has those keys, and nobody listening gets
// none.
TEST_F(MediaBatchesTest, TheFinalBatchIsMarkedAndCarriesTheUnreadItems) {
  MediaBatcher batcher(queue_, window_.hwnd(), handler_.get(), "phone", "t1",
                       listening_);
  batcher.Add(Entry(1));
  batcher.Finish({{"202610_a", "o7", static_cast<int32_t>(0x8007001F)},
                  {"", "DEVICE", static_cast<int32_t>(E_FAIL)}});
  const std::vector<EncodableValue> sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(channel_test::KeysOf(sent[0]),
            (std::vector<std::string>{"deviceId", "entries", "token"}));
  const EncodableValue& last = sent[1];
  EXPECT_EQ(At(last, "entries"), EncodableValue(ValueList{}));
  EXPECT_EQ(At(last, "last"), EncodableValue(true));
  auto item = [](const char* folder, const char* id, int64_t hresult) {
    return EncodableValue(flutter::ValueMap{
        {EncodableValue("folder"), EncodableValue(folder)},
        {EncodableValue("objectId"), EncodableValue(id)},
        {EncodableValue("hresult"), EncodableValue(hresult)}});
  };
  EXPECT_EQ(At(last, "unread"),
            EncodableValue(ValueList{item("202610_a", "o7", -2147024865),
                                     item("", "DEVICE", -2147467259)}));

  listening_->store(false);
  batcher.Finish({});
  EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(MediaBatchesTest, BatchesForNobodyAreDroppedOnTheUiThread) {
  MediaBatcher batcher(queue_, window_.hwnd(), handler_.get(), "phone", "t1",
                       listening_);
  batcher.Add(Entry(1));
  // The listener leaves before the batch is run: it is not sent, and a
  // later listener does not get it either.
  messenger_.Deliver(kWpdMediaChannelName, EncodedCall("cancel"));
  RunQueued();
  messenger_.Deliver(kWpdMediaChannelName, EncodedCall("listen"));
  EXPECT_TRUE(Batches().empty());
}

}  // namespace
}  // namespace snapferry
