#include "messaging/event_sink_implementation.h"

#include <memory>
#include <vector>

namespace flutter {

EventSinkImplementation::EventSinkImplementation(
    BinaryMessenger* messenger, const std::string& channel_name,
    const MethodCodec* codec)
    : messenger_(messenger), channel_name_(channel_name), codec_(codec) {}

EventSinkImplementation::~EventSinkImplementation() = default;

void EventSinkImplementation::SuccessInternal(const EncodableValue* event) {
  std::unique_ptr<std::vector<uint8_t>> message =
      codec_->EncodeSuccessEnvelope(event);
  messenger_->Send(channel_name_, message->data(), message->size(), nullptr);
}

void EventSinkImplementation::ErrorInternal(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) {
  std::unique_ptr<std::vector<uint8_t>> message =
      codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
  messenger_->Send(channel_name_, message->data(), message->size(), nullptr);
}

void EventSinkImplementation::EndOfStreamInternal() {
  messenger_->Send(channel_name_, nullptr, 0, nullptr);
}

}  // namespace flutter
