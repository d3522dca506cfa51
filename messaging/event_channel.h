// A named channel of events: the interface listens and cancels with method
// calls ("listen", "cancel"), and the attached stream handler sends events
// through the sink it gets on each listen.

#ifndef SNAPFERRY_MESSAGING_EVENT_CHANNEL_H_
#define SNAPFERRY_MESSAGING_EVENT_CHANNEL_H_

#include <memory>
#include <string>

#include "messaging/binary_messenger.h"
#include "messaging/method_codec.h"
#include "messaging/stream_handler.h"

namespace flutter {

class EventChannel {
 public:
  // `messenger` and `codec` are borrowed and outlive the channel.
  EventChannel(BinaryMessenger* messenger, const std::string& name,
               const MethodCodec* codec);
  ~EventChannel();

  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;

  // Registers the channel with `handler`; null unregisters it.
  void AttachStreamHandler(std::unique_ptr<StreamHandler> handler);

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec* codec_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_EVENT_CHANNEL_H_
