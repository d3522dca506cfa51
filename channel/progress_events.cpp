#include "channel/progress_events.h"

#include <utility>

namespace snapferry {

flutter::EncodableValue ProgressEventValue(const std::string& object_id,
                                           int64_t bytes, int64_t total) {
  using flutter::EncodableValue;
  return EncodableValue(flutter::ValueMap{
      {EncodableValue("objectId"), EncodableValue(object_id)},
      {EncodableValue("bytes"), EncodableValue(bytes)},
      {EncodableValue("total"), EncodableValue(total)},
  });
}

ProgressCallback MakeProgressCallback(
    std::shared_ptr<WpdChannelHandler::ReplyQueue> queue, HWND window,
    std::string object_id, WpdChannelHandler* handler) {
  return [queue = std::move(queue), window, object_id = std::move(object_id),
          handler](int64_t bytes, int64_t total) {
    // The worker only queues the report; the sink is looked up on the UI
    // thread when the report runs.
    PostCompletion(queue, window, [handler, object_id, bytes, total]() {
      handler->SendProgressEvent(object_id, bytes, total);
    });
  };
}

}  // namespace snapferry
