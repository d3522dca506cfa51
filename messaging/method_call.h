// A method call received on a method channel: its name and its arguments.

#ifndef SNAPFERRY_MESSAGING_METHOD_CALL_H_
#define SNAPFERRY_MESSAGING_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

#include "messaging/encodable_value.h"

namespace flutter {

class MethodCall {
 public:
  // `arguments` may be null: the call then has none.
  MethodCall(const std::string& method_name,
             std::unique_ptr<EncodableValue> arguments)
      : method_name_(method_name), arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return method_name_; }

  // Null when the call has no arguments. A decoded call always has them
  // (a null value when the caller sent none).
  const EncodableValue* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<EncodableValue> arguments_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_METHOD_CALL_H_
