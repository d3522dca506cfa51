// Writes EncodableValues as the standard message codec's bytes and reads
// them back: one tag byte per value, a 1-, 3- or 5-byte size prefix,
// little-endian numbers, and padding counted from the start of the message.

#ifndef SNAPFERRY_MESSAGING_STANDARD_CODEC_SERIALIZER_H_
#define SNAPFERRY_MESSAGING_STANDARD_CODEC_SERIALIZER_H_

#include <cstddef>
#include <cstdint>

#include "messaging/byte_streams.h"
#include "messaging/encodable_value.h"

namespace flutter {

// Stateless: one instance serves every channel and thread. Derive from it to
// handle custom values; nested values go through the same virtual
// operations, so an override also sees the elements of lists and maps.
class StandardCodecSerializer {
 public:
  // Lists and maps nested deeper than this are refused when reading, so a
  // small hostile message cannot exhaust the stack.
  static constexpr int kMaxNestingDepth = 128;

  virtual ~StandardCodecSerializer();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The process-wide serializer.
  static const StandardCodecSerializer& SharedInstance();

  // Appends the tag and payload of `value`.
  virtual void WriteValue(const EncodableValue& value,
                          ByteStreamWriter* stream) const;

  // Reads a tag byte, then the value it announces.
  EncodableValue ReadTaggedValue(ByteStreamReader* stream) const;

  // Reads the payload of a value whose tag has already been read. Malformed
  // input never throws: each fault writes one line to standard error and
  // reads as a substitute value.
  virtual EncodableValue ReadValueOfType(uint8_t type,
                                         ByteStreamReader* stream) const;

  // The variable-length size prefix: one byte below 254, 0xFE and two bytes
  // up to 0xFFFF, otherwise 0xFF and four bytes (the low 32 bits).
  void WriteSizePrefix(size_t size, ByteStreamWriter* stream) const;
  // Accepts any of the three forms, shortest or not.
  size_t ReadSizePrefix(ByteStreamReader* stream) const;

 protected:
  StandardCodecSerializer();

 private:
  EncodableValue ReadList(ByteStreamReader* stream) const;
  EncodableValue ReadMap(ByteStreamReader* stream) const;
  // Nesting guard around reading one list or map. Enter returns false (after
  // one diagnostic line per decode) when the limit is reached.
  static bool EnterNested(ByteStreamReader* stream);
  static void LeaveNested(ByteStreamReader* stream);
  static bool NestingRefused(const ByteStreamReader* stream);
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_STANDARD_CODEC_SERIALIZER_H_
