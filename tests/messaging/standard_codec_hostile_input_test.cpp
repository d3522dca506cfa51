// Hostile messages: declared sizes far beyond the input, and nesting far
// beyond any real reply. The reader must stay within memory and stack bounds
// proportional to the message, whatever the message claims.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "messaging/standard_codec_serializer.h"
#include "tests/messaging/codec_test_util.h"

// Counts what the process allocates while a probe is active. Replacing the
// global operators is the only way to see allocations made inside the
// standard containers the reader builds.
// GCC cannot tell that these replacements pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<bool> g_probing{false};
std::atomic<size_t> g_total_bytes{0};
std::atomic<size_t> g_largest_bytes{0};

void* CountedAlloc(size_t size) {
  if (g_probing.load(std::memory_order_relaxed)) {
    g_total_bytes.fetch_add(size, std::memory_order_relaxed);
    size_t largest = g_largest_bytes.load(std::memory_order_relaxed);
    while (size > largest && !g_largest_bytes.compare_exchange_weak(
                                 largest, size, std::memory_order_relaxed)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void* operator new(size_t size) {
  void* p = CountedAlloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace flutter {
namespace {

using flutter_test::Bytes;
using flutter_test::Decode;
using flutter_test::Decoded;
using flutter_test::kInvalidRead;

struct Probed {
  Decoded decoded;
  size_t total_bytes;
  size_t largest_bytes;
  double seconds;
};

Probed DecodeProbed(const Bytes& wire) {
  g_total_bytes = 0;
  g_largest_bytes = 0;
  auto start = std::chrono::steady_clock::now();
  g_probing = true;
  Decoded decoded = Decode(wire);
  g_probing = false;
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  return {std::move(decoded), g_total_bytes.load(), g_largest_bytes.load(),
          seconds};
}

int NestingDepth(const EncodableValue& value) {
  int depth = 0;
  const EncodableValue* current = &value;
  while (true) {
    if (const auto* list = std::get_if<ValueList>(current);
        list && !list->empty()) {
      current = &list->back();
    } else if (const auto* map = std::get_if<ValueMap>(current);
               map && !map->empty()) {
      current = &map->rbegin()->second;
    } else {
      return depth + (current->index() == 10 || current->index() == 11 ? 1 : 0);
    }
    ++depth;
  }
}

TEST(StandardCodecHostileInputTest,
     SizesBeyondTheInputAreRefusedBeforeAllocating) {
  // Each declares 0xFFFFFFFF units (up to 32 GiB) in a six-byte message.
  const Bytes huge = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  struct Case {
    uint8_t tag;
    EncodableValue empty;
    size_t end_position;  // typed lists still skip to their alignment
  } cases[] = {
      {0x05, std::string(), 6},
      {0x07, std::string(), 6},
      {0x08, std::vector<uint8_t>(), 6},
      {0x09, std::vector<int32_t>(), 8},
      {0x0A, std::vector<int64_t>(), 8},
      {0x0B, std::vector<double>(), 8},
      {0x0E, std::vector<float>(), 8},
      {0x0C, ValueList(), 6},
      {0x0D, ValueMap(), 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.tag));
    Bytes wire = {c.tag};
    wire.insert(wire.end(), huge.begin(), huge.end());
    Probed probed = DecodeProbed(wire);
    EXPECT_EQ(probed.decoded.value, c.empty);
    EXPECT_EQ(probed.decoded.diagnostics, kInvalidRead);
    EXPECT_EQ(probed.decoded.end_position, c.end_position);
    EXPECT_LT(probed.total_bytes, 4096u);  // only the capture's own strings
    EXPECT_LT(probed.seconds, 1.0);
  }
  // Five bytes: the four-byte size itself is cut short and reads as 0.
  Probed short_size = DecodeProbed({0x07, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(short_size.decoded.value, EncodableValue(""));
  EXPECT_EQ(short_size.decoded.diagnostics, kInvalidRead);
}

TEST(StandardCodecHostileInputTest,
     SizeThatExactlyFitsIsReadAndOneMoreIsRefused) {
  // A double list of one element after four bytes of padding.
  Bytes fits = {0x0B, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  auto read = Decode(fits);
  EXPECT_EQ(read.value, EncodableValue(std::vector<double>{1.0}));
  EXPECT_EQ(read.diagnostics, "");
  Bytes one_short(fits.begin(), fits.end() - 1);
  read = Decode(one_short);
  EXPECT_EQ(read.value, EncodableValue(std::vector<double>{}));
  EXPECT_EQ(read.diagnostics, kInvalidRead);
  EXPECT_EQ(read.end_position, 8u);

  EXPECT_EQ(Decode({0x07, 0x02, 'o', 'k'}).value, EncodableValue("ok"));
  read = Decode({0x07, 0x03, 'o', 'k'});
  EXPECT_EQ(read.value, EncodableValue(""));
  EXPECT_EQ(read.end_position, 2u);  // the two bytes are left for the next read
}

TEST(StandardCodecHostileInputTest, NestedListsCannotEachClaimTheWholeMessage) {
  // 120 lists inside one another, each declaring as many elements as there
  // are bytes left, then 60,000 nulls: only the innermost list gets them.
  Bytes wire;
  const size_t kLevels = 120, kNulls = 60000;
  for (size_t level = 0; level < kLevels; ++level) {
    size_t remaining = (kLevels - level - 1) * 4 + kNulls;
    wire.insert(wire.end(), {0x0C, 0xFE, static_cast<uint8_t>(remaining),
                             static_cast<uint8_t>(remaining >> 8)});
  }
  wire.resize(wire.size() + kNulls, 0x00);
  Probed probed = DecodeProbed(wire);
  EXPECT_EQ(NestingDepth(probed.decoded.value), static_cast<int>(kLevels));
  // Each enclosing list notices once that the input is used up.
  EXPECT_EQ(
      probed.decoded.diagnostics,
      flutter_test::Repeat("Invalid read in StandardCodecByteStreamReader",
                           static_cast<int>(kLevels) - 1));
  // Proportional to the message (the nulls themselves), not to 120 times it.
  // The lower bound shows that the probe does see the reader's allocations.
  EXPECT_GT(probed.total_bytes, kNulls * sizeof(EncodableValue));
  EXPECT_LT(probed.total_bytes, 40u * 1024 * 1024);
  EXPECT_LT(probed.seconds, 5.0);
}

TEST(StandardCodecHostileInputTest,
     HundredThousandNestedListsAreRefusedWithOneLine) {
  for (uint8_t container : {0x0C, 0x0D}) {
    SCOPED_TRACE(static_cast<int>(container));
    Bytes wire;
    for (int i = 0; i < 100000; ++i) {
      wire.insert(wire.end(), {container, 0x01});
      if (container == 0x0D) wire.push_back(0x00);  // a null key
    }
    wire.push_back(0x00);
    Probed probed = DecodeProbed(wire);
    EXPECT_EQ(probed.decoded.diagnostics,
              "Value nested deeper than 128 levels in "
              "StandardCodecSerializer::ReadValueOfType\n");
    EXPECT_EQ(NestingDepth(probed.decoded.value),
              StandardCodecSerializer::kMaxNestingDepth);
    EXPECT_LT(probed.total_bytes, 1024u * 1024);
    EXPECT_LT(probed.seconds, 2.0);
  }
}

TEST(StandardCodecHostileInputTest, NestingUpToTheLimitIsRead) {
  const int kLimit = StandardCodecSerializer::kMaxNestingDepth;
  EncodableValue value = 1;
  for (int i = 0; i < kLimit; ++i)
    value = EncodableValue(ValueList{std::move(value)});
  auto decoded = Decode(flutter_test::Encode(value));
  EXPECT_EQ(decoded.diagnostics, "");
  EXPECT_EQ(decoded.value, value);
  EXPECT_EQ(NestingDepth(decoded.value), kLimit);
}

// Every proper prefix of a real message is a clean failure: diagnostics no
// more numerous than the bytes (a cut can turn text into unknown tags),
// substitutes, no crash and (under the sanitizers) no bad access.
TEST(StandardCodecHostileInputTest, EveryTruncationOfAReplyFailsCleanly) {
  EncodableValue reply(ValueList{
      ValueMap{{"objectId", "o1"}, {"size", int64_t{1} << 33}, {"ratio", 0.5}},
      std::vector<int32_t>{1, 2, 3}, std::vector<double>{2.5},
      std::string(300, 'n'), int32_t{9}});
  Bytes wire = flutter_test::Encode(reply);
  for (size_t n = 0; n < wire.size(); ++n) {
    SCOPED_TRACE(n);
    auto decoded = Decode(Bytes(wire.begin(), wire.begin() + n));
    EXPECT_NE(decoded.diagnostics.find("Invalid read"), std::string::npos);
    size_t lines = std::count(decoded.diagnostics.begin(),
                              decoded.diagnostics.end(), '\n');
    EXPECT_LE(lines, n + 1);
    EXPECT_NE(decoded.value, reply);
  }
}

}  // namespace
}  // namespace flutter
