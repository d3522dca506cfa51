#include "messaging/standard_codec_serializer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/messaging/codec_test_util.h"

namespace flutter {
namespace {

using flutter_test::Bytes;
using flutter_test::Decode;
using flutter_test::Encode;
using flutter_test::kInvalidRead;

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Head(const Bytes& bytes, size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + n);
}

// Encodes, checks the exact bytes, and reads them back whole and silently.
void ExpectWire(const EncodableValue& value, const Bytes& wire) {
  EXPECT_EQ(Encode(value), wire);
  auto decoded = Decode(wire);
  EXPECT_EQ(decoded.value, value);
  EXPECT_EQ(decoded.diagnostics, "");
  EXPECT_EQ(decoded.end_position, wire.size());
}

TEST(StandardCodecSerializerTest, WorkedExamplesByteForByte) {
  ExpectWire(ValueMap{{"a", 1}},
             {0x0D, 0x01, 0x07, 0x01, 0x61, 0x03, 0x01, 0x00, 0x00, 0x00});
  ExpectWire(ValueList{1.5},
             {0x0C, 0x01, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F});
  EXPECT_EQ(Head(Encode(std::string(300, 'x')), 4),
            (Bytes{0x07, 0xFE, 0x2C, 0x01}));
  EXPECT_EQ(Head(Encode(std::vector<uint8_t>(65536, 7)), 6),
            (Bytes{0x08, 0xFF, 0x00, 0x00, 0x01, 0x00}));
}

TEST(StandardCodecSerializerTest, ScalarsAreLittleEndianAndUnpadded) {
  ExpectWire(EncodableValue(), {0x00});
  ExpectWire(true, {0x01});
  ExpectWire(false, {0x02});
  ExpectWire(int32_t{-2}, {0x03, 0xFE, 0xFF, 0xFF, 0xFF});
  ExpectWire(int64_t{0x0102030405060708}, {0x04, 8, 7, 6, 5, 4, 3, 2, 1});
  // A double at the start of a message: seven bytes of padding after its tag.
  ExpectWire(-2.0, {0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xC0});
  ExpectWire("h\xC3\xA9", {0x07, 0x03, 0x68, 0xC3, 0xA9});
  ExpectWire(std::vector<float>{1.0f},
             {0x0E, 0x01, 0, 0, 0x00, 0x00, 0x80, 0x3F});
}

TEST(StandardCodecSerializerTest, EveryAlternativeRoundTrips) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ValueMap everything{
      {EncodableValue(), "null key"},
      {true, false},
      {int32_t{std::numeric_limits<int32_t>::min()}, int32_t{-1}},
      {int64_t{std::numeric_limits<int64_t>::max()}, int64_t{-2147024891}},
      {0.1, -0.0},
      {"", std::string("nul\0inside", 10)},
      {std::vector<uint8_t>{0, 255}, std::vector<uint8_t>{}},
      {std::vector<int32_t>{-1, 2}, std::vector<int32_t>{}},
      {std::vector<int64_t>{int64_t{1} << 40}, std::vector<int64_t>{}},
      {std::vector<double>{1.5, -2.5}, std::vector<double>{}},
      {ValueList{1, "x", ValueList{}}, ValueList{}},
      {ValueMap{{"k", 1}}, ValueMap{{int32_t{1}, ValueMap{}}}},
      {std::vector<float>{0.5f, 3}, std::vector<float>{}},
  };
  EncodableValue message(ValueList{everything, 3.25, std::vector<int32_t>{7}});
  auto decoded = Decode(Encode(message));
  EXPECT_EQ(decoded.diagnostics, "");
  EXPECT_EQ(decoded.value, message);
  EXPECT_EQ(decoded.end_position, Encode(message).size());

  // NaN is unequal to itself, so compare its bits instead.
  auto nan_bytes = Encode(nan);
  double read = std::get<double>(Decode(nan_bytes).value);
  EXPECT_TRUE(std::isnan(read));
}

TEST(StandardCodecSerializerTest,
     PaddingCountsFromTheMessageStartInsideListsAndMaps) {
  // The double's tag is byte 5, so two bytes pad it to offset 8.
  ExpectWire(ValueMap{{"a", 1.5}}, {0x0D, 0x01, 0x07, 0x01, 0x61, 0x06, 0, 0, 0,
                                    0, 0, 0, 0, 0, 0xF8, 0x3F});
  // The int64 list's size ends at byte 5: three bytes pad it to offset 8.
  ExpectWire(ValueList{true, std::vector<int64_t>{1}},
             {0x0C, 0x02, 0x01, 0x0A, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
  // Already aligned: no padding at all.
  ExpectWire(ValueList{int32_t{0}, 0.5}, {0x0C, 0x02, 0x03, 0, 0, 0, 0, 0x06, 0,
                                          0, 0, 0, 0, 0, 0xE0, 0x3F});
}

TEST(StandardCodecSerializerTest, ReaderAlignsByOffsetNotByMemoryAddress) {
  Bytes wire = Encode(ValueList{true, std::vector<double>{1.25, -8}});
  // The same bytes one past an 8-byte boundary in memory.
  std::vector<uint64_t> storage(wire.size() / 8 + 2);
  auto* shifted = reinterpret_cast<uint8_t*>(storage.data()) + 1;
  std::copy(wire.begin(), wire.end(), shifted);
  ByteBufferStreamReader reader(shifted, wire.size());
  EXPECT_EQ(StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader),
            EncodableValue(ValueList{true, std::vector<double>{1.25, -8}}));
}

TEST(StandardCodecSerializerTest,
     EmptyTypedListsArePaddedSoWhatFollowsStaysInPlace) {
  ExpectWire(std::vector<int32_t>{}, {0x09, 0x00, 0, 0});
  ExpectWire(ValueList{true, std::vector<int32_t>{}, int32_t{7}},
             {0x0C, 0x03, 0x01, 0x09, 0x00, 0, 0, 0, 0x03, 0x07, 0, 0, 0});
  // An unpadded empty list at the very end still reads, silently, and the
  // reader has moved to the next multiple of four.
  auto decoded = Decode({0x0B, 0x00});
  EXPECT_EQ(decoded.value, EncodableValue(std::vector<double>{}));
  EXPECT_EQ(decoded.diagnostics, "");
  EXPECT_EQ(decoded.end_position, 8u);
}

TEST(StandardCodecSerializerTest, SizePrefixBoundaries) {
  struct Case {
    size_t size;
    Bytes prefix;
  } cases[] = {{253, {0xFD}},
               {254, {0xFE, 0xFE, 0x00}},
               {65535, {0xFE, 0xFF, 0xFF}},
               {65536, {0xFF, 0x00, 0x00, 0x01, 0x00}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    EncodableValue value(std::string(c.size, 'z'));
    Bytes wire = Encode(value);
    EXPECT_EQ(Head(wire, 1 + c.prefix.size()), Concat({0x07}, c.prefix));
    EXPECT_EQ(wire.size(), 1 + c.prefix.size() + c.size);
    EXPECT_EQ(Decode(wire).value, value);
  }
  // The reader takes longer forms than needed.
  Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(Decode(Concat({0x07, 0xFE, 0x05, 0x00}, hello)).value,
            EncodableValue("hello"));
  EXPECT_EQ(Decode(Concat({0x07, 0xFF, 0x05, 0, 0, 0}, hello)).value,
            EncodableValue("hello"));
  EXPECT_EQ(Decode({0x07, 0xFF, 0, 0, 0, 0}).value, EncodableValue(""));
}

TEST(StandardCodecSerializerTest, RepeatedMapKeyKeepsItsFirstValue) {
  auto decoded = Decode({0x0D, 0x02, 0x07, 0x01, 0x61, 0x03, 0x01, 0, 0, 0,  //
                         0x07, 0x01, 0x61, 0x03, 0x02, 0, 0, 0});
  EXPECT_EQ(decoded.value, EncodableValue(ValueMap{{"a", 1}}));
  EXPECT_EQ(decoded.end_position, 18u);
  EXPECT_EQ(decoded.diagnostics, "");
}

TEST(StandardCodecSerializerTest, LargeIntegerTagReadsAsStringOfItsBytes) {
  EXPECT_EQ(Decode({0x05, 0x02, 0x37, 0x66}).value, EncodableValue("7f"));
}

TEST(StandardCodecSerializerTest, CustomValueGoesOutAsNullWithOneLine) {
  testing::internal::CaptureStderr();
  Bytes wire = Encode(ValueList{CustomValue(42), 1});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unhandled custom type in StandardCodecSerializer::WriteValue. "
            "Custom types require codec extensions.\n");
  EXPECT_EQ(wire, (Bytes{0x0C, 0x02, 0x00, 0x03, 1, 0, 0, 0}));
}

// A serializer that carries points as tag 128; nested ones too, because the
// base reads and writes elements through the virtual operations.
struct Point {
  int32_t x, y;
};
class PointSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value,
                  ByteStreamWriter* stream) const override {
    const auto* custom = std::get_if<CustomValue>(&value);
    const Point* point = custom ? custom->TryGet<Point>() : nullptr;
    if (point == nullptr)
      return StandardCodecSerializer::WriteValue(value, stream);
    stream->PutByte(128);
    WriteValue(point->x, stream);
    WriteValue(point->y, stream);
  }
  EncodableValue ReadValueOfType(uint8_t type,
                                 ByteStreamReader* stream) const override {
    if (type != 128)
      return StandardCodecSerializer::ReadValueOfType(type, stream);
    int32_t x = std::get<int32_t>(ReadTaggedValue(stream));
    int32_t y = std::get<int32_t>(ReadTaggedValue(stream));
    return EncodableValue(CustomValue(Point{x, y}));
  }
};

TEST(StandardCodecSerializerTest, DerivedSerializerHandlesNestedCustomValues) {
  PointSerializer serializer;
  Bytes wire;
  ByteBufferStreamWriter writer(&wire);
  serializer.WriteValue(ValueMap{{"p", ValueList{CustomValue(Point{1, -1})}}},
                        &writer);
  EXPECT_EQ(wire, (Bytes{0x0D, 0x01, 0x07, 0x01, 0x70, 0x0C, 0x01, 0x80,  //
                         0x03, 1, 0, 0, 0, 0x03, 0xFF, 0xFF, 0xFF, 0xFF}));
  ByteBufferStreamReader reader(wire.data(), wire.size());
  EncodableValue read = serializer.ReadTaggedValue(&reader);
  const auto& list =
      std::get<ValueList>(std::get<ValueMap>(read).at(EncodableValue("p")));
  const Point* point = std::get<CustomValue>(list.at(0)).TryGet<Point>();
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->x, 1);
  EXPECT_EQ(point->y, -1);
}

TEST(StandardCodecSerializerTest,
     MalformedInputReadsAsSubstitutesWithExactLines) {
  struct Case {
    const char* name;
    Bytes wire;
    EncodableValue value;
    std::string diagnostics;
    size_t end_position;
  } cases[] = {
      {"empty", {}, EncodableValue(), kInvalidRead, 0},
      // Nothing copied, nothing consumed past the tag.
      {"short int32", {0x03, 0x01, 0x02}, int32_t{0}, kInvalidRead, 1},
      {"short int64", {0x04, 1, 2, 3, 4, 5, 6, 7}, int64_t{0}, kInvalidRead, 1},
      {"short double", {0x06, 0, 0, 0, 0, 0, 0, 0, 1, 2}, 0.0, kInvalidRead, 8},
      {"missing size", {0x07}, "", kInvalidRead, 1},
      {"short long size", {0x07, 0xFE, 0x05}, "", kInvalidRead, 2},
      {"unknown tag",
       {200, 0x01},
       EncodableValue(),
       "Unknown type in StandardCodecSerializer::ReadValueOfType: 200\n",
       1},
      {"tag 15",
       {15},
       EncodableValue(),
       "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n",
       1},
      // A truncated element: zero in its place, and the list goes on.
      {"short element",
       {0x0C, 0x02, 0x03, 0x01},
       ValueList{int32_t{0}, true},
       kInvalidRead,
       4},
      // An element that swallowed the rest ends the list with one more line.
      {"list cut after element",
       {0x0C, 0x02, 0x0C, 0x01, 0x01},
       ValueList{ValueList{true}},
       kInvalidRead,
       5},
      // One byte cannot hold an entry's key tag and value tag.
      {"map entry cut", {0x0D, 0x01, 0x01}, ValueMap{}, kInvalidRead, 2},
      {"map value cut",
       {0x0D, 0x01, 0x01, 0x03},
       ValueMap{{true, int32_t{0}}},
       kInvalidRead,
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto decoded = Decode(c.wire);
    EXPECT_EQ(decoded.value, c.value);
    EXPECT_EQ(decoded.diagnostics, c.diagnostics);
    EXPECT_EQ(decoded.end_position, c.end_position);
  }
}

TEST(StandardCodecSerializerTest, UnknownTagLeavesTheNextByteForTheNextRead) {
  Bytes wire = {200, 0x01};
  ByteBufferStreamReader reader(wire.data(), wire.size());
  const auto& serializer = StandardCodecSerializer::SharedInstance();
  testing::internal::CaptureStderr();
  EXPECT_EQ(serializer.ReadTaggedValue(&reader), EncodableValue());
  EXPECT_EQ(serializer.ReadTaggedValue(&reader), EncodableValue(true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unknown type in StandardCodecSerializer::ReadValueOfType: 200\n");
}

}  // namespace
}  // namespace flutter
