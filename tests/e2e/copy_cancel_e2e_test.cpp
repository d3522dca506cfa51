// A cancel on the channel reaches a copy or a thumbnail read that hangs
// inside the device.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "tests/e2e/e2e_test_util.h"

namespace e2e {
namespace {

using channel_test::At;
using channel_test::PumpUntil;
using channel_test::Str;

constexpr wchar_t kPhoneW[] = L"\\\\?\\usb#vid_05ac&pid_12a8#stuck#{6ac27878}";
constexpr char kPhone[] = "\\\\?\\usb#vid_05ac&pid_12a8#stuck#{6ac27878}";

class CopyCancelEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    wpd_sim::Fixture fixture;
    auto& phone = fixture.AddDevice(kPhoneW).OptimalTransferSize(65536);
    phone.AddStorage(L"s1", L"Internal Storage");
    // The first chunk comes; the read after it never returns by itself.
    phone
        .AddPatternFile(L"stuck", L"s1", L"IMG_0001.MOV",
                        wpd_sim::ContentType::kVideo, 1 << 20)
        .faults.push_back({wpd_sim::Call::kRead, wpd_sim::Fault::Hang(65536)});
    // Its thumbnail read hangs at once; the other's comes.
    phone.AddPatternFile(L"slow", L"s1", L"IMG_0002.HEIC",
                         wpd_sim::ContentType::kImage, 10)
        .ThumbnailPattern(500)
        .Fail(wpd_sim::Call::kRead, wpd_sim::Fault::Hang(0));
    phone.AddPatternFile(L"quick", L"s1", L"IMG_0003.HEIC",
                         wpd_sim::ContentType::kImage, 10)
        .ThumbnailPattern(500);
    StartDevices(std::move(fixture));
  }
};

TEST_F(CopyCancelEndToEndTest, CancelEndsACopyWhoseReadHangs) {
  const int copy = Send("copyObject", CopyArgs(kPhone, "stuck", "stuck.mov"));
  ASSERT_TRUE(PumpUntil([&] { return devices_->BlockedReads() == 1; }));

  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(AwaitBytes(Send("cancel")).has_value());
  Reply copied = Await(copy);
  EXPECT_LT(std::chrono::steady_clock::now() - started,
            std::chrono::seconds(5));
  EXPECT_EQ(At(copied.value, "status"), Str("cancelled"));
  EXPECT_EQ(At(copied.value, "error"), Str("Cancelled"));
  EXPECT_EQ(At(copied.value, "hresult"), flutter::EncodableValue(int64_t{0}));
  EXPECT_EQ(At(copied.value, "bytesWritten"),
            flutter::EncodableValue(int64_t{65536}));
  EXPECT_FALSE(std::filesystem::exists(Staging("stuck.mov")));
}

TEST_F(CopyCancelEndToEndTest, CancelEndsTheThumbnailReadsRunningThenOnly) {
  const auto ids = [](const char* object) {
    return channel_test::Args(
        {{Str("id"), Str(kPhone)}, {Str("objectId"), Str(object)}});
  };
  const int slow = Send("getThumbnail", ids("slow"));
  ASSERT_TRUE(PumpUntil([&] { return devices_->BlockedReads() == 1; }));
  ASSERT_TRUE(AwaitBytes(Send("cancel")).has_value());
  Reply cancelled = Await(slow);
  EXPECT_EQ(cancelled.kind, Reply::Kind::kError);
  EXPECT_EQ(cancelled.code, "cancelled");
  EXPECT_EQ(cancelled.message, "Cancelled");
  // Asked for after the cancel: read as ever.
  Reply after = Await(Send("getThumbnail", ids("quick")));
  ASSERT_EQ(after.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(std::get<std::vector<uint8_t>>(after.value).size(), 500u);
}

}  // namespace
}  // namespace e2e
