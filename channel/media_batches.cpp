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

flutter::EncodableValue MediaFinalBatchValue(
    const std::string& device_id, const std::string& token,
    const std::vector<MediaEntry>& entries,
    const std::vector<UnreadItem>& unread) {
  using flutter::EncodableValue;
  flutter::ValueList items;
  items.reserve(unread.size());
  for (const UnreadItem& item : unread) {
    items.emplace_back(flutter::ValueMap{
        {EncodableValue("folder"), EncodableValue(item.folder)},
        {EncodableValue("objectId"), EncodableValue(item.objectId)},
        {EncodableValue("hresult"),
         EncodableValue(static_cast<int64_t>(item.hresult))},
    });
  }
  EncodableValue batch = MediaBatchValue(device_id, token, entries);
  auto& map = std::get<flutter::ValueMap>(batch);
  map.emplace(EncodableValue("last"), EncodableValue(true));
  map.emplace(EncodableValue("unread"), EncodableValue(std::move(items)));
  return batch;
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
    Send(MediaBatchValue(device_id_, token_, pending_));
  }
}

void MediaBatcher::Finish(const std::vector<UnreadItem>& unread) {
  if (!listening_->load(std::memory_order_acquire)) return;
  Send(MediaFinalBatchValue(device_id_, token_, pending_, unread));
}

void MediaBatcher::Send(flutter::EncodableValue batch) {
  sent_since_listening_ = true;
  // The payload is built here, on the worker; the UI thread only sends it,
  // if someone listens when it runs.
  pending_.clear();
  WpdChannelHandler* handler = handler_;
  PostCompletion(queue_, window_, [handler, batch = std::move(batch)]() {
    handler->SendMediaBatch(batch);
  });
}

}  // namespace snapferry
