// The byte streams the standard codec reads from and writes to.

#ifndef SNAPFERRY_MESSAGING_BYTE_STREAMS_H_
#define SNAPFERRY_MESSAGING_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flutter {

// The diagnostic line (without its newline) for any read past the input.
extern const char kInvalidReadMessage[];

// Writes kInvalidReadMessage and a newline to standard error.
void ReportInvalidRead();

class ByteStreamReader {
 public:
  ByteStreamReader() = default;
  virtual ~ByteStreamReader();

  ByteStreamReader(const ByteStreamReader&) = delete;
  ByteStreamReader& operator=(const ByteStreamReader&) = delete;

  // The next byte; 0 (and a diagnostic line) past the end.
  virtual uint8_t TakeByte() = 0;
  // Copies `count` bytes into `destination`, or nothing at all (and writes a
  // diagnostic line) when fewer remain.
  virtual void TakeBytes(uint8_t* destination, size_t count) = 0;
  // Advances the position to a multiple of `alignment`, counted from the
  // first byte of the input.
  virtual void SkipToAlignment(uint8_t alignment) = 0;
  // Bytes between the position and the end (0 once past it). The serializer
  // checks every declared size against this before it allocates, so a short
  // hostile message cannot make it reserve gigabytes.
  virtual size_t RemainingBytes() const = 0;

 private:
  // Per-decode bookkeeping of the serializer's nesting guard. It lives here
  // rather than in the serializer because the serializer is shared and keeps
  // no state, while a reader belongs to exactly one decode.
  friend class StandardCodecSerializer;
  int nesting_depth_ = 0;
  bool nesting_refused_ = false;
};

// Reads from a borrowed buffer; never copies it.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size)
      : bytes_(bytes), size_(size) {}
  ~ByteBufferStreamReader() override;

  uint8_t TakeByte() override;
  void TakeBytes(uint8_t* destination, size_t count) override;
  void SkipToAlignment(uint8_t alignment) override;
  size_t RemainingBytes() const override;

  // Offset of the next byte to read; may lie past the end after an alignment.
  size_t position() const { return position_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t position_ = 0;
};

class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter();

  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;

  virtual void PutByte(uint8_t byte) = 0;
  virtual void PutBytes(const uint8_t* source, size_t count) = 0;
  // Appends zero bytes until the message length is a multiple of
  // `alignment`, counted from the first byte of the message.
  virtual void PadToAlignment(uint8_t alignment) = 0;
};

// Appends to a borrowed byte vector that the caller owns.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer)
      : buffer_(buffer) {}
  ~ByteBufferStreamWriter() override;

  void PutByte(uint8_t byte) override;
  void PutBytes(const uint8_t* source, size_t count) override;
  void PadToAlignment(uint8_t alignment) override;

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_BYTE_STREAMS_H_
