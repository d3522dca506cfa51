// Where a stream handler sends the events of one listener. The public
// operations forward to the virtual slots that the channel's sink overrides.

#ifndef SNAPFERRY_MESSAGING_EVENT_SINK_H_
#define SNAPFERRY_MESSAGING_EVENT_SINK_H_

#include <string>

#include "messaging/encodable_value.h"

namespace flutter {

class EventSink {
 public:
  EventSink() = default;
  virtual ~EventSink() = default;

  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  void Success(const EncodableValue& event) { SuccessInternal(&event); }
  void Success() { SuccessInternal(nullptr); }

  void Error(const std::string& error_code, const std::string& error_message,
             const EncodableValue& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code,
             const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }

  void EndStream() { EndOfStreamInternal(); }

 protected:
  // `event` is null when the event carries no value.
  virtual void SuccessInternal(const EncodableValue* event) = 0;
  // `error_details` is null when there are none.
  virtual void ErrorInternal(const std::string& error_code,
                             const std::string& error_message,
                             const EncodableValue* error_details) = 0;
  virtual void EndOfStreamInternal() = 0;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_EVENT_SINK_H_
