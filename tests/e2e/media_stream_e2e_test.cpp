// Entries of running enumerations streamed on "snapferry/wpd_media": batches
// in order, before their own reply, adding up to it, told apart by token;
// the final one says what the walk passed over.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "platform/engine/engine_control.h"
#include "tests/e2e/e2e_test_util.h"

namespace e2e {
namespace {

using channel_test::Args;
using channel_test::At;
using channel_test::Codec;
using channel_test::DecodeReply;
using channel_test::Str;
using flutter::ValueList;
using wpd_sim::ContentType;

constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
constexpr wchar_t kPhoneW[] = L"phone";
constexpr char kPhone[] = "phone";
constexpr wchar_t kCameraW[] = L"camera";
constexpr char kCamera[] = "camera";
constexpr wchar_t kOddW[] = L"odd";
constexpr char kOdd[] = "odd";

// A phone with 1,300 photos in two DCIM folders (and media outside DCIM
// that the listing drops), a camera without any DCIM folder, and a device
// whose DCIM folder is met only after a photo outside it.
wpd_sim::Fixture Devices() {
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(kPhoneW);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"down", L"s1", L"Downloads");
  phone.AddPatternFile(L"x1", L"down", L"saved.jpg", ContentType::kImage, 5);
  phone.AddFolder(L"dcim", L"s1", L"DCIM");
  for (int folder = 0; folder < 2; ++folder) {
    std::wstring folder_id = L"f" + std::to_wstring(folder);
    phone.AddFolder(folder_id, L"dcim",
                    std::to_wstring(100 + folder) + L"APPLE");
    for (int i = 0; i < (folder == 0 ? 700 : 600); ++i) {
      std::wstring number = std::to_wstring(folder * 1000 + i);
      phone.AddPatternFile(L"o" + number, folder_id,
                           L"IMG_" + number + L".HEIC", ContentType::kImage,
                           10);
    }
  }
  auto& camera = fixture.AddDevice(kCameraW);
  camera.AddStorage(L"c1", L"Card");
  camera.AddFolder(L"pics", L"c1", L"Pictures");
  camera.AddPatternFile(L"p1", L"pics", L"a.jpg", ContentType::kImage, 3);
  camera.AddPatternFile(L"p2", L"c1", L"b.mov", ContentType::kVideo, 4);
  auto& odd = fixture.AddDevice(kOddW);
  odd.AddStorage(L"d1", L"Card");
  odd.AddFolder(L"holder", L"d1", L"Pictures");
  odd.AddFolder(L"late", L"holder", L"DCIM");
  odd.AddPatternFile(L"in", L"late", L"c.jpg", ContentType::kImage, 3);
  odd.AddFolder(L"other", L"d1", L"Other");  // pushed last, walked first
  odd.AddPatternFile(L"out", L"other", L"d.jpg", ContentType::kImage, 3);
  return fixture;
}

class MediaStreamTest : public EndToEndTest {
 protected:
  void ListenForMedia(const char* method = "listen") {
    const int number =
        engine_control::DeliverMessage(engine_, snapferry::kWpdMediaChannelName,
                                       channel_test::EncodedCall(method));
    ASSERT_TRUE(AwaitBytes(number).has_value());
  }

  int Enumerate(const char* device, const char* token) {
    flutter::ValueMap args{{Str("id"), Str(device)}};
    if (token != nullptr) args[Str("token")] = Str(token);
    return Send("enumerateMedia", Args(std::move(args)));
  }

  int MediaMessages() {
    int count = 0;
    for (const auto& sent : engine_control::SentMessages(engine_)) {
      if (sent.channel == snapferry::kWpdMediaChannelName) ++count;
    }
    return count;
  }
};

// What one enumeration got: its batches' entries in order, whether each was
// marked the last, the final batch's unread items, and its reply.
struct Stream {
  std::vector<size_t> batch_sizes;
  std::vector<bool> last;
  EncodableValue unread;
  ValueList streamed;
  std::string device_id;
  bool reply_seen = false;
  bool batch_after_reply = false;
  Reply reply;
};

TEST_F(MediaStreamTest, BatchesComeInOrderBeforeTheirReplyAndAddUpToIt) {
  StartDevices(Devices());
  // Without a listener nothing is sent.
  ASSERT_EQ(Await(Enumerate(kPhone, "early")).kind, Reply::Kind::kSuccess);
  EXPECT_EQ(MediaMessages(), 0);

  ListenForMedia();
  recorder_->timeline.clear();
  const int numbers[] = {Enumerate(kPhone, "a"), Enumerate(kPhone, "b"),
                         Enumerate(kCamera, nullptr), Enumerate(kOdd, "odd")};
  for (int number : numbers) Await(number);

  std::map<std::string, Stream> streams;
  for (const RecordingMessenger::Entry& entry : recorder_->timeline) {
    if (entry.is_event) {
      ASSERT_EQ(entry.channel, snapferry::kWpdMediaChannelName);
      EncodableValue batch = DecodeReply(entry.bytes).value;
      Stream& stream = streams[std::get<std::string>(At(batch, "token"))];
      stream.device_id = std::get<std::string>(At(batch, "deviceId"));
      stream.batch_after_reply |= stream.reply_seen;
      const EncodableValue entries = At(batch, "entries");
      const auto& list = std::get<ValueList>(entries);
      stream.batch_sizes.push_back(list.size());
      stream.streamed.insert(stream.streamed.end(), list.begin(), list.end());
      stream.last.push_back(At(batch, "last") == EncodableValue(true));
      if (stream.last.back()) stream.unread = At(batch, "unread");
      continue;
    }
    auto call = Codec().DecodeCall(entry.request.data(), entry.request.size());
    ASSERT_NE(call, nullptr);
    const EncodableValue token = At(*call->arguments(), "token");
    Stream& stream =
        streams[token.IsNull() ? std::string() : std::get<std::string>(token)];
    stream.reply_seen = true;
    stream.reply = DecodeReply(entry.bytes);
  }

  ASSERT_EQ(streams.size(), 4u);
  // A DCIM folder met after a photo outside it: that photo was streamed
  // before the walk could know the listing drops it.
  Stream& odd = streams["odd"];
  ASSERT_EQ(odd.streamed.size(), 2u);
  EXPECT_EQ(At(odd.streamed[0], "objectId"), Str("out"));
  EXPECT_EQ(odd.reply.value, EncodableValue(ValueList{odd.streamed[1]}));
  streams.erase("odd");

  const std::map<std::string, std::string> devices = {
      {"a", kPhone}, {"b", kPhone}, {"", kCamera}};
  for (const auto& [token, stream] : streams) {
    SCOPED_TRACE("token \"" + token + "\"");
    EXPECT_EQ(stream.device_id, devices.at(token));
    ASSERT_TRUE(stream.reply_seen);
    EXPECT_FALSE(stream.batch_after_reply);
    ASSERT_EQ(stream.reply.kind, Reply::Kind::kSuccess);
    EXPECT_EQ(EncodableValue(stream.streamed), stream.reply.value);
    ASSERT_FALSE(stream.batch_sizes.empty());
    // Only the final batch is marked, and only it may be empty.
    std::vector<bool> last(stream.batch_sizes.size(), false);
    last.back() = true;
    EXPECT_EQ(stream.last, last);
    EXPECT_EQ(stream.unread, EncodableValue(ValueList{}));
    for (size_t i = 0; i < stream.batch_sizes.size(); ++i) {
      if (!last[i]) {
        EXPECT_GT(stream.batch_sizes[i], 0u);
      }
      EXPECT_LE(stream.batch_sizes[i], 500u);
    }
  }
  // The first entry goes alone, as soon as it was found.
  EXPECT_EQ(streams["a"].batch_sizes.front(), 1u);
  EXPECT_EQ(streams[""].batch_sizes.front(), 1u);
  EXPECT_EQ(streams["a"].streamed.size(), 1300u);
  EXPECT_EQ(streams[""].streamed.size(), 2u);

  // After the listener left, nothing more is sent.
  ListenForMedia("cancel");
  const int before = MediaMessages();
  ASSERT_EQ(Await(Enumerate(kPhone, "late")).kind, Reply::Kind::kSuccess);
  EXPECT_EQ(MediaMessages(), before);
}

TEST_F(MediaStreamTest, AWalkThatFailsAfterSomeBatchesEndsWithItsError) {
  StartDevices(Devices());
  ListenForMedia();
  Reply whole = Await(Enumerate(kPhone, "whole"));
  ASSERT_EQ(whole.kind, Reply::Kind::kSuccess);
  const ValueList& listing = std::get<ValueList>(whole.value);

  // The phone goes away at its 601st property read, well into the roll.
  ASSERT_TRUE(devices_->SetDeviceFault(kPhoneW, wpd_sim::Call::kGetValues,
                                       wpd_sim::Fault::Unplug(600)));
  recorder_->timeline.clear();
  Reply failed = Await(Enumerate(kPhone, "cut"));
  ASSERT_EQ(failed.kind, Reply::Kind::kError);
  EXPECT_EQ(failed.code, "wpd_error");
  EXPECT_EQ(failed.message,
            "Enumerate objects failed (HRESULT 0x8007048F)");  // not connected

  // Batches came before the error, each non-empty and none the final one,
  // and what they hold is the start of the whole listing.
  ValueList streamed;
  ASSERT_FALSE(recorder_->timeline.empty());
  EXPECT_FALSE(recorder_->timeline.back().is_event);
  for (const RecordingMessenger::Entry& entry : recorder_->timeline) {
    if (!entry.is_event) continue;
    EncodableValue batch = DecodeReply(entry.bytes).value;
    EXPECT_EQ(At(batch, "token"), Str("cut"));
    const EncodableValue entries = At(batch, "entries");
    const auto& list = std::get<ValueList>(entries);
    EXPECT_FALSE(list.empty());
    EXPECT_TRUE(At(batch, "last").IsNull());
    streamed.insert(streamed.end(), list.begin(), list.end());
  }
  ASSERT_GT(streamed.size(), 1u);
  ASSERT_LT(streamed.size(), listing.size());
  EXPECT_TRUE(std::equal(streamed.begin(), streamed.end(), listing.begin()));
}

// One photo the phone cannot serve, while it stays plugged in: the listing
// passes over it, and the final batch names it, with the code as the
// 64-bit value the interface reads.
TEST_F(MediaStreamTest, TheFinalBatchNamesWhatTheWalkPassedOver) {
  StartDevices(Devices());
  handler_->SetUnplugNoticePause(std::chrono::milliseconds(0));
  ASSERT_TRUE(devices_->SetObjectFault(kPhoneW, L"o1005",
                                       wpd_sim::Call::kGetValues,
                                       wpd_sim::Fault{kGenFailure, 0}));
  ListenForMedia();
  recorder_->timeline.clear();
  Reply reply = Await(Enumerate(kPhone, "t"));
  ASSERT_EQ(reply.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(std::get<ValueList>(reply.value).size(), 1299u);

  ASSERT_GE(recorder_->timeline.size(), 2u);
  const auto& final_batch = recorder_->timeline.end()[-2];
  ASSERT_TRUE(final_batch.is_event);
  EncodableValue batch = DecodeReply(final_batch.bytes).value;
  EXPECT_EQ(channel_test::KeysOf(batch),
            (std::vector<std::string>{"deviceId", "entries", "last", "token",
                                      "unread"}));
  EXPECT_EQ(At(batch, "last"), EncodableValue(true));
  const EncodableValue unread = At(batch, "unread");
  const auto& items = std::get<ValueList>(unread);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(channel_test::KeysOf(items[0]),
            (std::vector<std::string>{"folder", "hresult", "objectId"}));
  EXPECT_EQ(At(items[0], "folder"), Str("101APPLE"));
  EXPECT_EQ(At(items[0], "objectId"), Str("o1005"));
  EXPECT_EQ(At(items[0], "hresult"), EncodableValue(int64_t{-2147024865}));
}

}  // namespace
}  // namespace e2e
