// The standard codec's value reader on any bytes. Whatever it reads must
// write out and read back as the same value (floating-point numbers by their
// bits), and writing that again must give the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz/bitwise_equal.h"
#include "fuzz/fuzz_util.h"
#include "messaging/byte_streams.h"
#include "messaging/encodable_value.h"
#include "messaging/standard_codec_serializer.h"

namespace {

using flutter::EncodableValue;

const flutter::StandardCodecSerializer& Serializer() {
  return flutter::StandardCodecSerializer::SharedInstance();
}

std::vector<uint8_t> Write(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  Serializer().WriteValue(value, &writer);
  return bytes;
}

EncodableValue Read(const uint8_t* data, size_t size) {
  flutter::ByteBufferStreamReader reader(data, size);
  return Serializer().ReadTaggedValue(&reader);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceDiagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const EncodableValue value = Read(data, size);
  const std::vector<uint8_t> written = Write(value);
  const EncodableValue again = Read(written.data(), written.size());
  FUZZ_CHECK(fuzz::BitwiseEqual(value, again),
             "a value read from the input reads back differently once written");
  FUZZ_CHECK(Write(again) == written,
             "a value written, read back and written again changed its bytes");
  return 0;
}
