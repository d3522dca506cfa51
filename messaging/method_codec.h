// Turns method calls and their replies into bytes and back.

#ifndef SNAPFERRY_MESSAGING_METHOD_CODEC_H_
#define SNAPFERRY_MESSAGING_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "messaging/encodable_value.h"
#include "messaging/method_call.h"
#include "messaging/method_result.h"

namespace flutter {

class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec();

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // The call in `message`, or null when the bytes are not a call.
  virtual std::unique_ptr<MethodCall> DecodeCall(const uint8_t* message,
                                                 size_t message_size) const = 0;

  virtual std::unique_ptr<std::vector<uint8_t>> EncodeCall(
      const MethodCall& call) const = 0;

  // `result` may be null: success without a value.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result) const = 0;

  // `error_details` may be null: no details.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const = 0;

  // Delivers the success or error in `response` to `result` and returns
  // true; returns false, delivering nothing, when the bytes are neither.
  virtual bool DecodeEnvelope(const uint8_t* response, size_t response_size,
                              MethodResult* result) const = 0;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_METHOD_CODEC_H_
