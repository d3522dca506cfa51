// Copy progress, from the worker that makes a report to the listener on
// "snapferry/wpd_events". A report travels through the reply queue like any
// completion, so a copy's events reach the listener in the order made and
// before the copy's own reply.

#ifndef SNAPFERRY_CHANNEL_PROGRESS_EVENTS_H_
#define SNAPFERRY_CHANNEL_PROGRESS_EVENTS_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "channel/wpd_channel_handler.h"
#include "messaging/encodable_value.h"
#include "wpd/object_op_result.h"

namespace snapferry {

// The event payload: "objectId" (string), "bytes" and "total" (64-bit
// integers). The object id is the only field that names the copy.
flutter::EncodableValue ProgressEventValue(const std::string& object_id,
                                           int64_t bytes, int64_t total);

// The callback one copy reports through, on its worker thread: each report
// becomes a completion that sends the event on the UI thread. It holds a
// queue reference for as long as it exists; `handler` is not owned.
ProgressCallback MakeProgressCallback(
    std::shared_ptr<WpdChannelHandler::ReplyQueue> queue, HWND window,
    std::string object_id, WpdChannelHandler* handler);

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_PROGRESS_EVENTS_H_
