#include "messaging/standard_method_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/messaging/codec_test_util.h"

namespace flutter {
namespace {

using flutter_test::Bytes;
using flutter_test::kInvalidRead;

const MethodCodec& Codec() { return StandardMethodCodec::SharedInstance(); }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// What DecodeEnvelope delivered, as one line per answer.
class RecordingResult : public MethodResult {
 public:
  std::vector<std::string> answers;
  std::unique_ptr<EncodableValue> value;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    answers.push_back(result ? "success with value" : "success");
    if (result) value = std::make_unique<EncodableValue>(*result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    answers.push_back("error " + code + "/" + message +
                      (details ? " with details" : ""));
    if (details) value = std::make_unique<EncodableValue>(*details);
  }
  void NotImplementedInternal() override {
    answers.push_back("not implemented");
  }
};

TEST(StandardMethodCodecTest, WorkedExamplesByteForByte) {
  MethodCall listen("listen", nullptr);
  EXPECT_EQ(*Codec().EncodeCall(listen),
            Concat({{0x07, 0x06}, Text("listen"), {0x00}}));
  EXPECT_EQ(*Codec().EncodeSuccessEnvelope(nullptr), (Bytes{0x00, 0x00}));
  EXPECT_EQ(*Codec().EncodeErrorEnvelope("error", "No active stream to cancel",
                                         nullptr),
            Concat({{0x01, 0x07, 0x05},
                    Text("error"),
                    {0x07, 0x1A},
                    Text("No active stream to cancel"),
                    {0x00}}));
}

TEST(StandardMethodCodecTest, EnvelopesFramePaddingFromTheirFirstByte) {
  EncodableValue null_value;
  EXPECT_EQ(*Codec().EncodeSuccessEnvelope(&null_value), (Bytes{0x00, 0x00}));
  // The success byte shifts the double: its tag is byte 1, so six bytes pad.
  EncodableValue half(0.5);
  EXPECT_EQ(
      *Codec().EncodeSuccessEnvelope(&half),
      (Bytes{0x00, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F}));
  // Empty message: null in its place, not an empty string.
  EncodableValue hresult(int64_t{-2147024891});
  EXPECT_EQ(*Codec().EncodeErrorEnvelope("wpd_error", "", &hresult),
            Concat({{0x01, 0x07, 0x09},
                    Text("wpd_error"),
                    {0x00},
                    {0x04, 0x05, 0x00, 0x07, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}}));
}

TEST(StandardMethodCodecTest, CallsRoundTrip) {
  MethodCall call(
      "copyObject",
      std::make_unique<EncodableValue>(
          ValueMap{{"id", "dev"}, {"objectId", "o1"}, {"tempPath", "C:\\t"}}));
  Bytes wire = *Codec().EncodeCall(call);
  wire.push_back(0x42);  // trailing bytes are ignored
  testing::internal::CaptureStderr();
  auto decoded = Codec().DecodeCall(wire.data(), wire.size());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "copyObject");
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_EQ(*decoded->arguments(), *call.arguments());
}

TEST(StandardMethodCodecTest, MalformedCallsGiveNoCallOrNullArguments) {
  const std::string kNotString =
      "Invalid method call; method name is not a string.\n";
  // Name only: the arguments read as null, with one invalid-read line.
  Bytes name_only = Concat({{0x07, 0x06}, Text("listen")});
  testing::internal::CaptureStderr();
  auto call = Codec().DecodeCall(name_only.data(), name_only.size());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kInvalidRead);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "listen");
  ASSERT_NE(call->arguments(), nullptr);
  EXPECT_TRUE(call->arguments()->IsNull());

  Bytes int_name = {0x03, 1, 0, 0, 0, 0x00};
  testing::internal::CaptureStderr();
  EXPECT_EQ(Codec().DecodeCall(int_name.data(), int_name.size()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kNotString);

  testing::internal::CaptureStderr();
  EXPECT_EQ(Codec().DecodeCall(nullptr, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string(kInvalidRead) + kNotString);
}

TEST(StandardMethodCodecTest, DecodeEnvelopeDeliversSuccessAndError) {
  struct Case {
    const char* name;
    Bytes wire;
    bool decoded;
    std::vector<std::string> answers;
  } cases[] = {
      {"success without value", {0x00, 0x00}, true, {"success"}},
      {"success with value", {0x00, 0x01}, true, {"success with value"}},
      {"error, null message and details",
       Concat({{0x01, 0x07, 0x01}, Text("e"), {0x00, 0x00}}),
       true,
       {"error e/"}},
      {"error with everything",
       Concat({{0x01, 0x07, 0x01}, Text("e"), {0x07, 0x01}, Text("m"), {0x02}}),
       true,
       {"error e/m with details"}},
      {"neither", {0x02, 0x00}, false, {}},
      // Not a usable error: nothing delivered.
      {"error code not a string",
       {0x01, 0x03, 1, 0, 0, 0, 0x00, 0x00},
       false,
       {}},
      {"error message not a string",
       Concat({{0x01, 0x07, 0x01}, Text("e"), {0x01, 0x00}}),
       false,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingResult result;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Codec().DecodeEnvelope(c.wire.data(), c.wire.size(), &result),
              c.decoded);
    std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.answers, c.answers);
    if (c.wire[0] == 0x01 && !c.decoded) {
      EXPECT_EQ(
          diagnostics,
          "Invalid error envelope; error code or message is not a string.\n");
    } else {
      EXPECT_EQ(diagnostics, "");
    }
  }
  // The details value itself arrives.
  RecordingResult result;
  EncodableValue details(ValueList{int64_t{-5}, "x"});
  auto wire = Codec().EncodeErrorEnvelope("c", "m", &details);
  EXPECT_TRUE(Codec().DecodeEnvelope(wire->data(), wire->size(), &result));
  ASSERT_NE(result.value, nullptr);
  EXPECT_EQ(*result.value, details);
}

TEST(StandardMethodCodecTest, SharedInstanceIsOnePerSerializer) {
  class OtherSerializer : public StandardCodecSerializer {};
  static const OtherSerializer other;
  EXPECT_EQ(&StandardCodecSerializer::SharedInstance(),
            &StandardCodecSerializer::SharedInstance());
  const auto& shared = StandardMethodCodec::SharedInstance();
  EXPECT_EQ(&shared, &StandardMethodCodec::SharedInstance());
  EXPECT_EQ(&shared, &StandardMethodCodec::SharedInstance(
                         &StandardCodecSerializer::SharedInstance()));
  const auto& bound = StandardMethodCodec::SharedInstance(&other);
  EXPECT_NE(&bound, &shared);
  EXPECT_EQ(&bound, &StandardMethodCodec::SharedInstance(&other));
}

}  // namespace
}  // namespace flutter
