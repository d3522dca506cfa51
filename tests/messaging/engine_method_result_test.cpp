// The result a method channel hands out: envelopes, the one-answer rule and
// its diagnostics. Driven directly through its reply callback.

#include "messaging/engine_method_result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "messaging/standard_method_codec.h"

namespace flutter {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kDuplicateLine[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and "
    "it can be called exactly once. Ignoring duplicate result.\n";
constexpr char kUnansweredLine[] =
    "Warning: Failed to respond to a message. This is a memory leak.\n";

struct Replies {
  struct Reply {
    bool null_data;
    Bytes bytes;
  };
  std::vector<Reply> seen;

  ReplyCallback Callback() {
    return [this](const uint8_t* data, size_t size) {
      seen.push_back({data == nullptr,
                      data ? Bytes(data, data + size) : Bytes(size, 0xEE)});
    };
  }
};

std::unique_ptr<EngineMethodResult> MakeResult(Replies* replies) {
  return std::make_unique<EngineMethodResult>(
      replies->Callback(), &StandardMethodCodec::SharedInstance());
}

TEST(EngineMethodResultTest, SuccessWithoutAndWithNullValueSendTheSameBytes) {
  Replies replies;
  MakeResult(&replies)->Success();
  MakeResult(&replies)->Success(EncodableValue());
  ASSERT_EQ(replies.seen.size(), 2u);
  EXPECT_EQ(replies.seen[0].bytes, (Bytes{0x00, 0x00}));
  EXPECT_EQ(replies.seen[1].bytes, (Bytes{0x00, 0x00}));
}

TEST(EngineMethodResultTest, ErrorSendsTheErrorEnvelope) {
  Replies replies;
  MakeResult(&replies)->Error("bad_args", "", EncodableValue(true));
  ASSERT_EQ(replies.seen.size(), 1u);
  const Bytes expected = {0x01, 0x07, 0x08, 'b', 'a',  'd', '_',
                          'a',  'r',  'g',  's', 0x00, 0x01};
  EXPECT_EQ(replies.seen[0].bytes, expected);
}

TEST(EngineMethodResultTest, NotImplementedSendsNoBytesAtAll) {
  Replies replies;
  MakeResult(&replies)->NotImplemented();
  ASSERT_EQ(replies.seen.size(), 1u);
  EXPECT_TRUE(replies.seen[0].null_data);
  EXPECT_TRUE(replies.seen[0].bytes.empty());
}

TEST(EngineMethodResultTest, SecondAnswerOfAnyKindIsRefusedWithOneLine) {
  Replies replies;
  auto result = MakeResult(&replies);
  result->Success(EncodableValue(1));
  testing::internal::CaptureStderr();
  result->Success(EncodableValue(2));
  result->Error("late");
  result->NotImplemented();
  const std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_EQ(diagnostics,
            std::string(kDuplicateLine) + kDuplicateLine + kDuplicateLine);
  ASSERT_EQ(replies.seen.size(), 1u);
  EXPECT_EQ(replies.seen[0].bytes, (Bytes{0x00, 0x03, 0x01, 0x00, 0x00, 0x00}));
}

TEST(EngineMethodResultTest, DestroyedUnansweredWarnsAndSendsNothing) {
  Replies replies;
  testing::internal::CaptureStderr();
  MakeResult(&replies).reset();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kUnansweredLine);
  EXPECT_TRUE(replies.seen.empty());

  // Answered ones go quietly.
  testing::internal::CaptureStderr();
  MakeResult(&replies)->NotImplemented();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace flutter
