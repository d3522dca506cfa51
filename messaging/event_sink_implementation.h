// The EventSink an event channel hands to each listener: every event is
// encoded as a reply envelope and sent on the channel, expecting no answer.
// It keeps no state: it sends whatever it is asked to, listening or not.

#ifndef SNAPFERRY_MESSAGING_EVENT_SINK_IMPLEMENTATION_H_
#define SNAPFERRY_MESSAGING_EVENT_SINK_IMPLEMENTATION_H_

#include <string>

#include "messaging/binary_messenger.h"
#include "messaging/encodable_value.h"
#include "messaging/event_sink.h"
#include "messaging/method_codec.h"

namespace flutter {

class EventSinkImplementation : public EventSink {
 public:
  // `messenger` and `codec` are borrowed and outlive the sink.
  EventSinkImplementation(BinaryMessenger* messenger,
                          const std::string& channel_name,
                          const MethodCodec* codec);
  ~EventSinkImplementation() override;

 protected:
  void SuccessInternal(const EncodableValue* event) override;
  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const EncodableValue* error_details) override;
  // Sends a message of no bytes.
  void EndOfStreamInternal() override;

 private:
  BinaryMessenger* messenger_;
  std::string channel_name_;
  const MethodCodec* codec_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_EVENT_SINK_IMPLEMENTATION_H_
