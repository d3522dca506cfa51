// The MethodResult that the method channel hands to call handlers: it encodes
// the answer with the channel's codec and sends it back as the reply.

#ifndef SNAPFERRY_MESSAGING_ENGINE_METHOD_RESULT_H_
#define SNAPFERRY_MESSAGING_ENGINE_METHOD_RESULT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "messaging/binary_messenger.h"
#include "messaging/encodable_value.h"
#include "messaging/method_codec.h"
#include "messaging/method_result.h"

namespace flutter {

// A reply that may be used once. Destroyed unused, it warns: the message it
// belongs to is then never answered.
class OneShotReply {
 public:
  explicit OneShotReply(ReplyCallback reply);
  ~OneShotReply();

  OneShotReply(const OneShotReply&) = delete;
  OneShotReply& operator=(const OneShotReply&) = delete;

  // Sends `data` (null: no bytes at all). A second call only complains.
  void SendResponseData(const std::vector<uint8_t>* data);

 private:
  ReplyCallback reply_;  // empty once used
};

class EngineMethodResult : public MethodResult {
 public:
  // `codec` is borrowed and outlives the result.
  EngineMethodResult(ReplyCallback reply, const MethodCodec* codec);
  ~EngineMethodResult() override;

 protected:
  void SuccessInternal(const EncodableValue* result) override;
  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const EncodableValue* error_details) override;
  // Replies with no bytes: the method is not implemented.
  void NotImplementedInternal() override;

 private:
  OneShotReply reply_;
  const MethodCodec* codec_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_ENGINE_METHOD_RESULT_H_
