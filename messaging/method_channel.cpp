#include "messaging/method_channel.h"

#include <iostream>
#include <utility>

#include "messaging/engine_method_result.h"

namespace flutter {

MethodCallChannel::MethodCallChannel(BinaryMessenger* messenger,
                                     const std::string& name,
                                     const MethodCodec* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

MethodCallChannel::~MethodCallChannel() = default;

void MethodCallChannel::SetCallHandler(MethodCallHandler handler) {
  if (!handler) {
    messenger_->RegisterChannelHandler(name_, nullptr);
    return;
  }
  const MethodCodec* codec = codec_;
  messenger_->RegisterChannelHandler(
      name_,
      [handler = std::move(handler), codec, name = name_](
          const uint8_t* message, size_t message_size, ReplyCallback reply) {
        auto result =
            std::make_unique<EngineMethodResult>(std::move(reply), codec);
        std::unique_ptr<MethodCall> call =
            codec->DecodeCall(message, message_size);
        if (!call) {
          std::cerr << "Unable to construct method call from message on "
                       "channel "
                    << name << std::endl;
          result->NotImplemented();
          return;
        }
        handler(*call, std::move(result));
      });
}

}  // namespace flutter
