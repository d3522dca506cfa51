#include "messaging/standard_codec_serializer.h"

#include <algorithm>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

namespace {

// Wire tags.
enum Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // read only: arrives as a string of its bytes
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// Upper bound on what a list reserves ahead of its elements: the declared
// count is only known to fit the remaining bytes, and every nesting level
// could otherwise reserve that much again before reading anything.
constexpr size_t kMaxListReserve = 1024;

template <typename T>
void WriteNumber(T number, ByteStreamWriter* stream) {
  stream->PutBytes(reinterpret_cast<const uint8_t*>(&number), sizeof(T));
}

template <typename T>
T ReadNumber(ByteStreamReader* stream) {
  T number{};
  stream->TakeBytes(reinterpret_cast<uint8_t*>(&number), sizeof(T));
  return number;
}

// Typed lists are always padded, even when empty: readers (ours and the
// peer's) skip to the alignment whatever the count, so an unpadded empty
// list would shift everything after it.
template <typename T>
void WriteTypedList(uint8_t tag, const std::vector<T>& list,
                    const StandardCodecSerializer& serializer,
                    ByteStreamWriter* stream) {
  stream->PutByte(tag);
  serializer.WriteSizePrefix(list.size(), stream);
  if (sizeof(T) > 1) stream->PadToAlignment(sizeof(T));
  if (!list.empty()) {
    stream->PutBytes(reinterpret_cast<const uint8_t*>(list.data()),
                     list.size() * sizeof(T));
  }
}

// Bytes, strings and typed lists. A declared length that the remaining input
// cannot hold is refused before anything is allocated: it reads as empty,
// with the invalid-read line, and consumes nothing more.
template <typename Container>
Container ReadPacked(size_t count, ByteStreamReader* stream) {
  using Element = typename Container::value_type;
  if (sizeof(Element) > 1) stream->SkipToAlignment(sizeof(Element));
  if (count == 0) return Container();
  if (count > stream->RemainingBytes() / sizeof(Element)) {
    ReportInvalidRead();
    return Container();
  }
  Container result(count, Element{});
  stream->TakeBytes(reinterpret_cast<uint8_t*>(&result[0]),
                    count * sizeof(Element));
  return result;
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;
StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::SharedInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  switch (value.index()) {
    case 0:
      stream->PutByte(kNull);
      return;
    case 1:
      stream->PutByte(std::get<bool>(value) ? kTrue : kFalse);
      return;
    case 2:
      stream->PutByte(kInt32);
      WriteNumber(std::get<int32_t>(value), stream);
      return;
    case 3:
      stream->PutByte(kInt64);
      WriteNumber(std::get<int64_t>(value), stream);
      return;
    case 4:
      stream->PutByte(kFloat64);
      stream->PadToAlignment(8);
      WriteNumber(std::get<double>(value), stream);
      return;
    case 5: {
      const auto& string = std::get<std::string>(value);
      stream->PutByte(kString);
      WriteSizePrefix(string.size(), stream);
      stream->PutBytes(reinterpret_cast<const uint8_t*>(string.data()),
                       string.size());
      return;
    }
    case 6: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      stream->PutByte(kUInt8List);
      WriteSizePrefix(bytes.size(), stream);
      stream->PutBytes(bytes.data(), bytes.size());
      return;
    }
    case 7:
      WriteTypedList(kInt32List, std::get<std::vector<int32_t>>(value), *this,
                     stream);
      return;
    case 8:
      WriteTypedList(kInt64List, std::get<std::vector<int64_t>>(value), *this,
                     stream);
      return;
    case 9:
      WriteTypedList(kFloat64List, std::get<std::vector<double>>(value), *this,
                     stream);
      return;
    case 10: {
      const auto& list = std::get<ValueList>(value);
      stream->PutByte(kList);
      WriteSizePrefix(list.size(), stream);
      for (const EncodableValue& element : list) WriteValue(element, stream);
      return;
    }
    case 11: {
      const auto& map = std::get<ValueMap>(value);
      stream->PutByte(kMap);
      WriteSizePrefix(map.size(), stream);
      for (const auto& [key, mapped] : map) {
        WriteValue(key, stream);
        WriteValue(mapped, stream);
      }
      return;
    }
    case 12:
      std::cerr
          << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
          << "Custom types require codec extensions." << std::endl;
      stream->PutByte(kNull);
      return;
    case 13:
      WriteTypedList(kFloat32List, std::get<std::vector<float>>(value), *this,
                     stream);
      return;
  }
}

EncodableValue StandardCodecSerializer::ReadTaggedValue(
    ByteStreamReader* stream) const {
  uint8_t type = stream->TakeByte();
  return ReadValueOfType(type, stream);
}

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(ReadNumber<int32_t>(stream));
    case kInt64:
      return EncodableValue(ReadNumber<int64_t>(stream));
    case kFloat64:
      stream->SkipToAlignment(8);
      return EncodableValue(ReadNumber<double>(stream));
    case kLargeInt:
    case kString:
      return EncodableValue(
          ReadPacked<std::string>(ReadSizePrefix(stream), stream));
    case kUInt8List:
      return EncodableValue(
          ReadPacked<std::vector<uint8_t>>(ReadSizePrefix(stream), stream));
    case kInt32List:
      return EncodableValue(
          ReadPacked<std::vector<int32_t>>(ReadSizePrefix(stream), stream));
    case kInt64List:
      return EncodableValue(
          ReadPacked<std::vector<int64_t>>(ReadSizePrefix(stream), stream));
    case kFloat64List:
      return EncodableValue(
          ReadPacked<std::vector<double>>(ReadSizePrefix(stream), stream));
    case kFloat32List:
      return EncodableValue(
          ReadPacked<std::vector<float>>(ReadSizePrefix(stream), stream));
    case kList:
      return ReadList(stream);
    case kMap:
      return ReadMap(stream);
  }
  std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
            << static_cast<int>(type) << std::endl;
  return EncodableValue();
}

EncodableValue StandardCodecSerializer::ReadList(
    ByteStreamReader* stream) const {
  if (!EnterNested(stream)) return EncodableValue();
  size_t count = ReadSizePrefix(stream);
  ValueList list;
  for (size_t i = 0; i < count && !NestingRefused(stream); ++i) {
    // Every element still to come takes at least its tag byte. Checking
    // before each element, not only once, keeps nested lists from all
    // claiming the same remaining bytes: no more elements are ever made than
    // the message has bytes.
    if (count - i > stream->RemainingBytes()) {
      ReportInvalidRead();
      break;
    }
    if (i == 0) list.reserve(std::min(count, kMaxListReserve));
    uint8_t type = stream->TakeByte();
    list.push_back(ReadValueOfType(type, stream));
  }
  LeaveNested(stream);
  return EncodableValue(std::move(list));
}

EncodableValue StandardCodecSerializer::ReadMap(
    ByteStreamReader* stream) const {
  if (!EnterNested(stream)) return EncodableValue();
  size_t count = ReadSizePrefix(stream);
  ValueMap map;
  for (size_t i = 0; i < count && !NestingRefused(stream); ++i) {
    // Every entry still to come takes at least a key tag and a value tag.
    if (count - i > stream->RemainingBytes() / 2) {
      ReportInvalidRead();
      break;
    }
    uint8_t key_type = stream->TakeByte();
    EncodableValue key = ReadValueOfType(key_type, stream);
    uint8_t value_type = stream->TakeByte();
    EncodableValue value = ReadValueOfType(value_type, stream);
    // Maps arrive sorted, so the end is the right hint; a repeated key
    // keeps its first value.
    map.emplace_hint(map.end(), std::move(key), std::move(value));
  }
  LeaveNested(stream);
  return EncodableValue(std::move(map));
}

bool StandardCodecSerializer::EnterNested(ByteStreamReader* stream) {
  if (stream->nesting_refused_) return false;
  if (stream->nesting_depth_ >= kMaxNestingDepth) {
    // One line per decode: every enclosing list and map stops reading too.
    stream->nesting_refused_ = true;
    std::cerr << "Value nested deeper than " << kMaxNestingDepth
              << " levels in StandardCodecSerializer::ReadValueOfType"
              << std::endl;
    return false;
  }
  ++stream->nesting_depth_;
  return true;
}

void StandardCodecSerializer::LeaveNested(ByteStreamReader* stream) {
  --stream->nesting_depth_;
}

bool StandardCodecSerializer::NestingRefused(const ByteStreamReader* stream) {
  return stream->nesting_refused_;
}

void StandardCodecSerializer::WriteSizePrefix(size_t size,
                                              ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->PutByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->PutByte(254);
    WriteNumber(static_cast<uint16_t>(size), stream);
  } else {
    stream->PutByte(255);
    WriteNumber(static_cast<uint32_t>(size), stream);
  }
}

size_t StandardCodecSerializer::ReadSizePrefix(ByteStreamReader* stream) const {
  uint8_t byte = stream->TakeByte();
  if (byte < 254) return byte;
  if (byte == 254) return ReadNumber<uint16_t>(stream);
  return ReadNumber<uint32_t>(stream);
}

}  // namespace flutter
