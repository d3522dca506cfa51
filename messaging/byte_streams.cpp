#include "messaging/byte_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

const char kInvalidReadMessage[] =
    "Invalid read in StandardCodecByteStreamReader";

void ReportInvalidRead() { std::cerr << kInvalidReadMessage << std::endl; }

ByteStreamReader::~ByteStreamReader() = default;
ByteBufferStreamReader::~ByteBufferStreamReader() = default;
ByteStreamWriter::~ByteStreamWriter() = default;
ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

uint8_t ByteBufferStreamReader::TakeByte() {
  if (position_ >= size_) {
    ReportInvalidRead();
    return 0;
  }
  return bytes_[position_++];
}

void ByteBufferStreamReader::TakeBytes(uint8_t* destination, size_t count) {
  // Written so that neither side can overflow: the position may already lie
  // past the end after an alignment skip.
  if (position_ > size_ || count > size_ - position_) {
    ReportInvalidRead();
    return;
  }
  if (count > 0) std::memcpy(destination, bytes_ + position_, count);
  position_ += count;
}

void ByteBufferStreamReader::SkipToAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  size_t remainder = position_ % alignment;
  if (remainder != 0) position_ += alignment - remainder;
}

size_t ByteBufferStreamReader::RemainingBytes() const {
  return position_ < size_ ? size_ - position_ : 0;
}

void ByteBufferStreamWriter::PutByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::PutBytes(const uint8_t* source, size_t count) {
  if (count == 0) return;
  buffer_->insert(buffer_->end(), source, source + count);
}

void ByteBufferStreamWriter::PadToAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  size_t remainder = buffer_->size() % alignment;
  if (remainder == 0) return;
  for (size_t i = remainder; i < alignment; ++i) PutByte(0);
}

}  // namespace flutter
