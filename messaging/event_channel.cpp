#include "messaging/event_channel.h"

#include <cstdint>
#include <iostream>
#include <utility>
#include <vector>

#include "messaging/event_sink_implementation.h"

namespace flutter {

namespace {

constexpr char kListenMethod[] = "listen";
constexpr char kCancelMethod[] = "cancel";

// The envelope that answers a listen or cancel: the handler's error, or
// success without a value.
std::unique_ptr<std::vector<uint8_t>> Answer(const MethodCodec& codec,
                                             const StreamHandlerError* error) {
  if (error != nullptr) {
    return codec.EncodeErrorEnvelope(error->error_code, error->error_message,
                                     error->error_details.get());
  }
  return codec.EncodeSuccessEnvelope(nullptr);
}

}  // namespace

EventChannel::EventChannel(BinaryMessenger* messenger, const std::string& name,
                           const MethodCodec* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

EventChannel::~EventChannel() = default;

void EventChannel::AttachStreamHandler(std::unique_ptr<StreamHandler> handler) {
  if (!handler) {
    messenger_->RegisterChannelHandler(name_, nullptr);
    return;
  }
  std::shared_ptr<StreamHandler> shared_handler = std::move(handler);
  // Lives as long as the registration, shared by every copy of it.
  auto listening = std::make_shared<bool>(false);
  messenger_->RegisterChannelHandler(
      name_, [shared_handler, listening, messenger = messenger_, codec = codec_,
              name = name_](const uint8_t* message, size_t message_size,
                            ReplyCallback reply) {
        std::unique_ptr<MethodCall> call =
            codec->DecodeCall(message, message_size);
        if (!call) {
          std::cerr << "Unable to construct method call from message on "
                       "channel: "
                    << name << std::endl;
          reply(nullptr, 0);
          return;
        }
        const std::string& method = call->method_name();
        if (method == kListenMethod) {
          if (*listening) {
            std::unique_ptr<StreamHandlerError> error =
                shared_handler->OnCancel(nullptr);
            if (error) {
              std::cerr << "Failed to cancel existing stream: "
                        << error->error_code << ", " << error->error_message
                        << ", "
                        << static_cast<const void*>(error->error_details.get());
            }
          }
          *listening = true;
          std::unique_ptr<StreamHandlerError> error = shared_handler->OnListen(
              call->arguments(), std::make_unique<EventSinkImplementation>(
                                     messenger, name, codec));
          std::unique_ptr<std::vector<uint8_t>> answer =
              Answer(*codec, error.get());
          reply(answer->data(), answer->size());
        } else if (method == kCancelMethod) {
          if (*listening) {
            std::unique_ptr<StreamHandlerError> error =
                shared_handler->OnCancel(call->arguments());
            std::unique_ptr<std::vector<uint8_t>> answer =
                Answer(*codec, error.get());
            reply(answer->data(), answer->size());
            *listening = false;
          } else {
            std::unique_ptr<std::vector<uint8_t>> answer =
                codec->EncodeErrorEnvelope(
                    "error", "No active stream to cancel", nullptr);
            reply(answer->data(), answer->size());
          }
        } else {
          reply(nullptr, 0);
        }
      });
}

}  // namespace flutter
