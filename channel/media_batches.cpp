#include "channel/media_batches.h"

#include <utility>

#include "channel/method_replies.h"

namespace snapferry {

flutter::EncodableValue MediaBatchValue(
    const std::string& device_id, const std::string& token,
    const std::vector<MediaEntry>& entries) {
  using flutter::EncodableValue;
  return EncodableValue(flutter::ValueMap{
      {EncodableValue("deviceId"), EncodableValue(device_id)},
      {EncodableValue("token"), EncodableValue(token)},
      {EncodableValue("entries"), MediaEntriesToValue(entries)},
  });
}

MediaBatcher::MediaBatcher(std::shared_ptr<WpdChannelHandler::ReplyQueue> queue,
                           HWND window, WpdChannelHandler* handler,
                           std::string device_id, std::string token,
                           std::shared_ptr<const std::atomic<bool>> listening)
    : queue_(std::move(queue)),
      window_(window),
      handler_(handler),
      device_id_(std::move(device_id)),
      token_(std::move(token)),
      listening_(std::move(listening)) {}

void MediaBatcher::Add(const MediaEntry& entry) {
  if (!listening_->load(std::memory_order_acquire)) {
    pending_.clear();
    sent_since_listening_ = false;
    return;
  }
  pending_.push_back(entry);
  const auto now = std::chrono::steady_clock::now();
  if (!sent_since_listening_ || pending_.size() >= kMediaBatchEntries ||
      now - last_sent_ >= kMediaBatchInterval) {
    last_sent_ = now;
    Send();
  }
}

void MediaBatcher::Flush() {
  if (!listening_->load(std::memory_order_acquire)) return;
  if (!pending_.empty()) Send();
}

void MediaBatcher::Send() {
  sent_since_listening_ = true;
  // The payload is built here, on the worker; the UI thread only sends it,
  // if someone listens when it runs.
  flutter::EncodableValue batch = MediaBatchValue(device_id_, token_, pending_);
  pending_.clear();
  WpdChannelHandler* handler = handler_;
  PostCompletion(queue_, window_, [handler, batch = std::move(batch)]() {
    handler->SendMediaBatch(batch);
  });
}

}  // namespace snapferry
