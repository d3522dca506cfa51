// How a method call handler answers: once, with Success, Error or
// NotImplemented. The public operations forward to the virtual slots that
// the concrete result (the one the channel hands out) overrides.

#ifndef SNAPFERRY_MESSAGING_METHOD_RESULT_H_
#define SNAPFERRY_MESSAGING_METHOD_RESULT_H_

#include <string>

#include "messaging/encodable_value.h"

namespace flutter {

class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void Success(const EncodableValue& result) { SuccessInternal(&result); }
  void Success() { SuccessInternal(nullptr); }

  void Error(const std::string& error_code, const std::string& error_message,
             const EncodableValue& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code,
             const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }

  void NotImplemented() { NotImplementedInternal(); }

 protected:
  // `result` is null when the call succeeded without a value.
  virtual void SuccessInternal(const EncodableValue* result) = 0;
  // `error_details` is null when there are none.
  virtual void ErrorInternal(const std::string& error_code,
                             const std::string& error_message,
                             const EncodableValue* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_METHOD_RESULT_H_
