// Helpers shared by the messaging tests: encode and decode through the shared
// serializer, capture standard error, print values readably on failure.

#ifndef SNAPFERRY_TESTS_MESSAGING_CODEC_TEST_UTIL_H_
#define SNAPFERRY_TESTS_MESSAGING_CODEC_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "messaging/byte_streams.h"
#include "messaging/encodable_value.h"
#include "messaging/standard_codec_serializer.h"

namespace flutter {

// gtest prints values through this on failure.
void PrintTo(const EncodableValue& value, std::ostream* os);

namespace test_print {
struct Printer {
  std::ostream* os;
  void operator()(const std::monostate&) { *os << "null"; }
  void operator()(bool b) { *os << (b ? "true" : "false"); }
  void operator()(int32_t n) { *os << n << "i32"; }
  void operator()(int64_t n) { *os << n << "i64"; }
  void operator()(double d) { *os << d; }
  void operator()(const std::string& s) { *os << '"' << s << '"'; }
  void operator()(const CustomValue& c) { *os << "custom@" << c.identity(); }
  void operator()(const ValueList& list) {
    *os << '[';
    for (const auto& e : list) PrintTo(e, os), *os << ' ';
    *os << ']';
  }
  void operator()(const ValueMap& map) {
    *os << '{';
    for (const auto& [k, v] : map) {
      PrintTo(k, os), *os << ':', PrintTo(v, os), *os << ' ';
    }
    *os << '}';
  }
  template <typename T>
  void operator()(const std::vector<T>& list) {
    *os << "typed[";
    for (const auto& e : list) *os << +e << ' ';
    *os << ']';
  }
};
}  // namespace test_print

inline void PrintTo(const EncodableValue& value, std::ostream* os) {
  std::visit(test_print::Printer{os},
             static_cast<const EncodableValueVariant&>(value));
}

}  // namespace flutter

namespace flutter_test {

using Bytes = std::vector<uint8_t>;

inline Bytes Encode(const flutter::EncodableValue& value) {
  Bytes bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::SharedInstance().WriteValue(value, &writer);
  return bytes;
}

// One value read from the start of `bytes`; what it wrote to standard error
// goes to `diagnostics`, and where the reader stopped to `end_position`.
struct Decoded {
  flutter::EncodableValue value;
  std::string diagnostics;
  size_t end_position = 0;
};

inline Decoded Decode(const Bytes& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  testing::internal::CaptureStderr();
  Decoded decoded;
  decoded.value =
      flutter::StandardCodecSerializer::SharedInstance().ReadTaggedValue(
          &reader);
  decoded.diagnostics = testing::internal::GetCapturedStderr();
  decoded.end_position = reader.position();
  return decoded;
}

inline std::string Repeat(const std::string& line, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += line + "\n";
  return out;
}

constexpr char kInvalidRead[] =
    "Invalid read in StandardCodecByteStreamReader\n";

}  // namespace flutter_test

#endif  // SNAPFERRY_TESTS_MESSAGING_CODEC_TEST_UTIL_H_
