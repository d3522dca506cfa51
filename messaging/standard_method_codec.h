// The method codec whose calls and envelopes are standard codec values.

#ifndef SNAPFERRY_MESSAGING_STANDARD_METHOD_CODEC_H_
#define SNAPFERRY_MESSAGING_STANDARD_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "messaging/method_codec.h"
#include "messaging/standard_codec_serializer.h"

namespace flutter {

class StandardMethodCodec : public MethodCodec {
 public:
  // The codec bound to `serializer` (null: the shared serializer). One codec
  // per serializer, made on first request and kept until the process ends.
  // Not locked: channels are set up on the platform thread.
  static const StandardMethodCodec& SharedInstance(
      const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override;

  std::unique_ptr<MethodCall> DecodeCall(const uint8_t* message,
                                         size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeCall(
      const MethodCall& call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  bool DecodeEnvelope(const uint8_t* response, size_t response_size,
                      MethodResult* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer)
      : serializer_(serializer) {}

  // Borrowed; outlives the codec.
  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_STANDARD_METHOD_CODEC_H_
