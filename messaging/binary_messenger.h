// Raw messages between the program and the engine, routed by channel name.

#ifndef SNAPFERRY_MESSAGING_BINARY_MESSENGER_H_
#define SNAPFERRY_MESSAGING_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/engine/engine_api.h"

namespace flutter {

// Called with the reply bytes (null when there are none) and their count.
using ReplyCallback = std::function<void(const uint8_t* reply, size_t size)>;

// Called with one incoming message and the callback that answers it.
using ChannelMessageHandler = std::function<void(
    const uint8_t* message, size_t message_size, ReplyCallback reply)>;

class BinaryMessenger {
 public:
  BinaryMessenger() = default;
  virtual ~BinaryMessenger() = default;

  BinaryMessenger(const BinaryMessenger&) = delete;
  BinaryMessenger& operator=(const BinaryMessenger&) = delete;

  // Sends one message on `channel`; `reply` (may be empty) gets the answer.
  virtual void Send(const std::string& channel, const uint8_t* message,
                    size_t message_size, ReplyCallback reply) = 0;

  // Routes the messages of `channel` to `handler`, replacing any earlier
  // one; an empty handler unregisters the channel.
  virtual void RegisterChannelHandler(const std::string& channel,
                                      ChannelMessageHandler handler) = 0;
};

// The messenger over the engine's messenger handle.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // `messenger` is borrowed from the engine, which outlives this object.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  // Does not unregister from the engine: it goes together with the engine.
  ~BinaryMessengerImpl() override;

  void Send(const std::string& channel, const uint8_t* message,
            size_t message_size, ReplyCallback reply) override;
  void RegisterChannelHandler(const std::string& channel,
                              ChannelMessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  // The engine holds the address of each entry: a node-based map keeps them
  // in place while others come and go.
  std::map<std::string, ChannelMessageHandler> handlers_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_BINARY_MESSENGER_H_
