#include "messaging/engine_method_result.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {

OneShotReply::OneShotReply(ReplyCallback reply) : reply_(std::move(reply)) {}

OneShotReply::~OneShotReply() {
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory "
                 "leak."
              << std::endl;
  }
}

void OneShotReply::SendResponseData(const std::vector<uint8_t>* data) {
  if (!reply_) {
    std::cerr
        << "Error: Only one of Success, Error, or NotImplemented can be "
           "called,"
        << " and it can be called exactly once. Ignoring duplicate result."
        << std::endl;
    return;
  }
  const uint8_t* bytes =
      data != nullptr && !data->empty() ? data->data() : nullptr;
  const size_t size = data != nullptr ? data->size() : 0;
  // Emptied before the call: whatever the reply does, it has been used.
  ReplyCallback reply = std::move(reply_);
  reply_ = nullptr;
  reply(bytes, size);
}

EngineMethodResult::EngineMethodResult(ReplyCallback reply,
                                       const MethodCodec* codec)
    : reply_(std::move(reply)), codec_(codec) {}

EngineMethodResult::~EngineMethodResult() = default;

void EngineMethodResult::SuccessInternal(const EncodableValue* result) {
  std::unique_ptr<std::vector<uint8_t>> data =
      codec_->EncodeSuccessEnvelope(result);
  reply_.SendResponseData(data.get());
}

void EngineMethodResult::ErrorInternal(const std::string& error_code,
                                       const std::string& error_message,
                                       const EncodableValue* error_details) {
  std::unique_ptr<std::vector<uint8_t>> data =
      codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
  reply_.SendResponseData(data.get());
}

void EngineMethodResult::NotImplementedInternal() {
  reply_.SendResponseData(nullptr);
}

}  // namespace flutter
