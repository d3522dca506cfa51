#include "messaging/standard_method_codec.h"

#include <iostream>
#include <map>
#include <utility>

#include "messaging/byte_streams.h"

namespace flutter {

namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// The value to write in place of an optional one. Returns a reference: a
// conditional expression mixing `*value` with a temporary would copy the
// whole value, which for a large reply costs more than encoding it.
const EncodableValue& ValueOrNull(const EncodableValue* value) {
  static const EncodableValue kNull;
  return value ? *value : kNull;
}

}  // namespace

MethodCodec::~MethodCodec() = default;
StandardMethodCodec::~StandardMethodCodec() = default;

const StandardMethodCodec& StandardMethodCodec::SharedInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::SharedInstance();
  }
  // Deliberately never destroyed: channels keep plain pointers to the codecs
  // and may be torn down after static destruction has begun.
  static auto* const registry =
      new std::map<const StandardCodecSerializer*,
                   std::unique_ptr<StandardMethodCodec>>();
  auto& codec = (*registry)[serializer];
  if (!codec) codec.reset(new StandardMethodCodec(serializer));
  return *codec;
}

std::unique_ptr<MethodCall> StandardMethodCodec::DecodeCall(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader stream(message, message_size);
  EncodableValue name = serializer_->ReadTaggedValue(&stream);
  const auto* method_name = std::get_if<std::string>(&name);
  if (method_name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string."
              << std::endl;
    return nullptr;
  }
  // Whatever follows the arguments is ignored.
  auto arguments =
      std::make_unique<EncodableValue>(serializer_->ReadTaggedValue(&stream));
  return std::make_unique<MethodCall>(*method_name, std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeCall(
    const MethodCall& call) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  serializer_->WriteValue(EncodableValue(call.method_name()), &stream);
  serializer_->WriteValue(ValueOrNull(call.arguments()), &stream);
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>>
StandardMethodCodec::EncodeSuccessEnvelope(const EncodableValue* result) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  stream.PutByte(kSuccessEnvelope);
  serializer_->WriteValue(ValueOrNull(result), &stream);
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelope(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  stream.PutByte(kErrorEnvelope);
  serializer_->WriteValue(EncodableValue(error_code), &stream);
  // An empty message travels as null, not as an empty string.
  serializer_->WriteValue(
      error_message.empty() ? EncodableValue() : EncodableValue(error_message),
      &stream);
  serializer_->WriteValue(ValueOrNull(error_details), &stream);
  return encoded;
}

bool StandardMethodCodec::DecodeEnvelope(const uint8_t* response,
                                         size_t response_size,
                                         MethodResult* result) const {
  ByteBufferStreamReader stream(response, response_size);
  uint8_t kind = stream.TakeByte();
  if (kind == kSuccessEnvelope) {
    EncodableValue value = serializer_->ReadTaggedValue(&stream);
    if (result != nullptr) {
      if (value.IsNull()) {
        result->Success();
      } else {
        result->Success(value);
      }
    }
    return true;
  }
  if (kind == kErrorEnvelope) {
    EncodableValue code = serializer_->ReadTaggedValue(&stream);
    EncodableValue message = serializer_->ReadTaggedValue(&stream);
    EncodableValue details = serializer_->ReadTaggedValue(&stream);
    // A code that is no string, or a message that is neither null nor a
    // string, makes the whole envelope unusable: nothing is delivered.
    const auto* code_string = std::get_if<std::string>(&code);
    const auto* message_string = std::get_if<std::string>(&message);
    if (code_string == nullptr ||
        (message_string == nullptr && !message.IsNull())) {
      std::cerr << "Invalid error envelope; error code or message is not a "
                   "string."
                << std::endl;
      return false;
    }
    if (result != nullptr) {
      const std::string empty;
      const std::string& message_text =
          message_string ? *message_string : empty;
      if (details.IsNull()) {
        result->Error(*code_string, message_text);
      } else {
        result->Error(*code_string, message_text, details);
      }
    }
    return true;
  }
  return false;
}

}  // namespace flutter
