// What an event channel calls when the interface starts and stops listening.

#ifndef SNAPFERRY_MESSAGING_STREAM_HANDLER_H_
#define SNAPFERRY_MESSAGING_STREAM_HANDLER_H_

#include <functional>
#include <memory>
#include <string>

#include "messaging/encodable_value.h"
#include "messaging/event_sink.h"

namespace flutter {

struct StreamHandlerError {
  StreamHandlerError(const std::string& error_code,
                     const std::string& error_message,
                     std::unique_ptr<EncodableValue> error_details)
      : error_code(error_code),
        error_message(error_message),
        error_details(std::move(error_details)) {}

  std::string error_code;
  std::string error_message;
  std::unique_ptr<EncodableValue> error_details;  // may be null
};

class StreamHandler {
 public:
  StreamHandler() = default;
  virtual ~StreamHandler() = default;

  StreamHandler(const StreamHandler&) = delete;
  StreamHandler& operator=(const StreamHandler&) = delete;

  // A listener came; `events` is where its events go. `arguments` may be
  // null. Returns an error, or null when listening started.
  std::unique_ptr<StreamHandlerError> OnListen(
      const EncodableValue* arguments, std::unique_ptr<EventSink>&& events) {
    return OnListenInternal(arguments, std::move(events));
  }

  // The listener went. Returns an error, or null.
  std::unique_ptr<StreamHandlerError> OnCancel(
      const EncodableValue* arguments) {
    return OnCancelInternal(arguments);
  }

 protected:
  virtual std::unique_ptr<StreamHandlerError> OnListenInternal(
      const EncodableValue* arguments, std::unique_ptr<EventSink>&& events) = 0;
  virtual std::unique_ptr<StreamHandlerError> OnCancelInternal(
      const EncodableValue* arguments) = 0;
};

using StreamHandlerListen = std::function<std::unique_ptr<StreamHandlerError>(
    const EncodableValue* arguments, std::unique_ptr<EventSink>&& events)>;
using StreamHandlerCancel = std::function<std::unique_ptr<StreamHandlerError>(
    const EncodableValue* arguments)>;

// A stream handler made of two callables; either may be empty, and the
// operation then answers with an error.
class StreamHandlerFunctions : public StreamHandler {
 public:
  StreamHandlerFunctions(StreamHandlerListen on_listen,
                         StreamHandlerCancel on_cancel);
  ~StreamHandlerFunctions() override;

 protected:
  std::unique_ptr<StreamHandlerError> OnListenInternal(
      const EncodableValue* arguments,
      std::unique_ptr<EventSink>&& events) override;
  std::unique_ptr<StreamHandlerError> OnCancelInternal(
      const EncodableValue* arguments) override;

 private:
  StreamHandlerListen on_listen_;
  StreamHandlerCancel on_cancel_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_STREAM_HANDLER_H_
