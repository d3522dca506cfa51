// The entries of a running enumeration, streamed to the listener on
// "snapferry/wpd_media" in batches while the walk goes on. A batch travels
// through the reply queue like any completion, so the batches of one
// enumeration reach the listener in the order made and before its reply.

#ifndef SNAPFERRY_CHANNEL_MEDIA_BATCHES_H_
#define SNAPFERRY_CHANNEL_MEDIA_BATCHES_H_

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "channel/wpd_channel_handler.h"
#include "messaging/encodable_value.h"
#include "wpd/media_enumeration.h"

namespace snapferry {

// A batch goes when this many entries wait, or when this long has passed
// since the one before, whichever comes first; the first goes at once.
inline constexpr size_t kMediaBatchEntries = 500;
inline constexpr std::chrono::milliseconds kMediaBatchInterval{100};

// The batch payload: "deviceId" and "token" (strings) and "entries" (the
// entry maps of the enumerateMedia reply).
flutter::EncodableValue MediaBatchValue(const std::string& device_id,
                                        const std::string& token,
                                        const std::vector<MediaEntry>& entries);
// The final batch of a listing that succeeded: the batch payload (its
// entries may be none) with "last" true and "unread", one map per item the
// walk passed over: "folder" and "objectId" (strings), "hresult" (64-bit,
// sign-extended).
flutter::EncodableValue MediaFinalBatchValue(
    const std::string& device_id, const std::string& token,
    const std::vector<MediaEntry>& entries,
    const std::vector<UnreadItem>& unread);

// Gathers one enumeration's entries on its worker. While nobody listens
// (`listening` false) it keeps nothing; when someone listens again, the
// next entry goes at once, as a first batch does.
class MediaBatcher {
 public:
  MediaBatcher(std::shared_ptr<WpdChannelHandler::ReplyQueue> queue,
               HWND window, WpdChannelHandler* handler, std::string device_id,
               std::string token,
               std::shared_ptr<const std::atomic<bool>> listening);

  // One more entry of the listing, in reply order.
  void Add(const MediaEntry& entry);
  // Sends what still waits as the final batch, with what the walk passed
  // over, if someone listens now; called after a walk that succeeded,
  // before its reply is queued. The one batch that may carry no entries.
  void Finish(const std::vector<UnreadItem>& unread);

 private:
  void Send(flutter::EncodableValue batch);

  std::shared_ptr<WpdChannelHandler::ReplyQueue> queue_;
  HWND window_;
  WpdChannelHandler* handler_;  // not owned; alive while its queue drains
  std::string device_id_;
  std::string token_;
  std::shared_ptr<const std::atomic<bool>> listening_;
  std::vector<MediaEntry> pending_;
  bool sent_since_listening_ = false;
  std::chrono::steady_clock::time_point last_sent_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_MEDIA_BATCHES_H_
