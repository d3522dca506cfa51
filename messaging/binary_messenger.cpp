#include "messaging/binary_messenger.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {

namespace {

// Called by the engine, at most once, with the answer to a Send.
void ReplyTrampoline(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<ReplyCallback> reply(static_cast<ReplyCallback*>(user_data));
  (*reply)(data, data_size);
}

// The answer to one incoming message, shared by every copy of its reply.
struct PendingResponse {
  // A counted reference: the messenger object stays until the last copy of
  // the reply is gone, so that a late reply can still ask about the engine.
  std::shared_ptr<FlutterDesktopMessenger> messenger;
  const FlutterDesktopMessageResponseHandle* handle;
  bool used = false;
};

void Respond(PendingResponse& pending, const uint8_t* data, size_t size) {
  FlutterDesktopMessengerRef messenger = pending.messenger.get();
  // Held across the check and the answer, so the engine cannot go between.
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  if (FlutterDesktopMessengerIsAvailable(messenger)) {
    if (pending.used) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate "
                   "response."
                << std::endl;
    } else {
      FlutterDesktopMessengerSendResponse(messenger, pending.handle, data,
                                          size);
      pending.used = true;
    }
  }
  // Otherwise the engine is gone and the answer is dropped.
  if (locked != nullptr) FlutterDesktopMessengerUnlock(locked);
}

// Called by the engine with each message of a registered channel.
void ForwardMessage(FlutterDesktopMessengerRef messenger,
                    const FlutterDesktopMessage* message, void* user_data) {
  auto pending = std::make_shared<PendingResponse>();
  pending->messenger = std::shared_ptr<FlutterDesktopMessenger>(
      FlutterDesktopMessengerAddRef(messenger),
      &FlutterDesktopMessengerRelease);
  pending->handle = message->response_handle;
  ReplyCallback reply = [pending](const uint8_t* data, size_t size) {
    Respond(*pending, data, size);
  };
  // A copy: the handler may replace or unregister its own channel while it
  // runs, which destroys the stored one.
  ChannelMessageHandler handler =
      *static_cast<ChannelMessageHandler*>(user_data);
  handler(message->message, message->message_size, std::move(reply));
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel,
                               const uint8_t* message, size_t message_size,
                               ReplyCallback reply) {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message,
                                message_size);
    return;
  }
  auto copy = std::make_unique<ReplyCallback>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message,
                                           message_size, &ReplyTrampoline,
                                           copy.get())) {
    // The engine calls the trampoline, which frees the copy.
    copy.release();
  }
}

void BinaryMessengerImpl::RegisterChannelHandler(
    const std::string& channel, ChannelMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr,
                                       nullptr);
    return;
  }
  ChannelMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(),
                                     &ForwardMessage, &stored);
}

}  // namespace flutter
