// A named channel of method calls: incoming messages are decoded into calls
// and handed, with a result to answer, to the call handler.

#ifndef SNAPFERRY_MESSAGING_METHOD_CHANNEL_H_
#define SNAPFERRY_MESSAGING_METHOD_CHANNEL_H_

#include <functional>
#include <memory>
#include <string>

#include "messaging/binary_messenger.h"
#include "messaging/method_call.h"
#include "messaging/method_codec.h"
#include "messaging/method_result.h"

namespace flutter {

// Gets each call and owns its result: it may answer at once or keep the
// result and answer later. The call lives only until the handler returns.
using MethodCallHandler = std::function<void(
    const MethodCall& call, std::unique_ptr<MethodResult> result)>;

class MethodCallChannel {
 public:
  // `messenger` and `codec` are borrowed and outlive the channel.
  MethodCallChannel(BinaryMessenger* messenger, const std::string& name,
                    const MethodCodec* codec);
  ~MethodCallChannel();

  MethodCallChannel(const MethodCallChannel&) = delete;
  MethodCallChannel& operator=(const MethodCallChannel&) = delete;

  // Replaces the channel's handler; an empty one unregisters the channel.
  void SetCallHandler(MethodCallHandler handler);

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec* codec_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_METHOD_CHANNEL_H_
