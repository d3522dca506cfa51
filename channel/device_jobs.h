// One job per device method: each runs its device operation on the worker
// and returns the completion that turns the record into the reply.

#ifndef SNAPFERRY_CHANNEL_DEVICE_JOBS_H_
#define SNAPFERRY_CHANNEL_DEVICE_JOBS_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "channel/jobs.h"
#include "channel/media_batches.h"
#include "channel/wpd_channel_handler.h"
#include "messaging/method_result.h"
#include "wpd/device_sessions.h"
#include "wpd/listed_objects.h"
#include "wpd/pending_copies.h"

namespace snapferry {

using SharedMethodResult = std::shared_ptr<flutter::MethodResult>;
// The handler's device sessions; the jobs of device methods take theirs
// from it and give them back.
using SharedSessions = std::shared_ptr<DeviceSessions>;

// `handler` (not owned, alive whenever its completions run) keeps the list
// for the ids of device events.
Job MakeListDevicesJob(SharedMethodResult result, WpdChannelHandler* handler);
Job MakeScanMediaJob(SharedMethodResult result, std::string device_id,
                     SharedSessions sessions);
// The batcher streams the entries while the walk runs; after a walk that
// succeeded its final batch, with what the walk passed over, is queued
// before the reply, and the completion hands what was listed to `handler`
// (not owned, alive whenever its completions run) before it replies.
Job MakeEnumerateMediaJob(SharedMethodResult result, std::string device_id,
                          MediaBatcher batcher, SharedSessions sessions,
                          WpdChannelHandler* handler);
// `handler` is not owned: the progress completions it reaches are only ever
// run by that handler's own drain, so it is alive whenever they run.
Job MakeCopyObjectJob(SharedMethodResult result, std::string device_id,
                      std::string object_id, std::string temp_path,
                      std::shared_ptr<WpdChannelHandler::ReplyQueue> queue,
                      HWND window,
                      std::shared_ptr<std::atomic<bool>> cancel_flag,
                      std::shared_ptr<PendingCopies> pending,
                      SharedSessions sessions, WpdChannelHandler* handler);
// `listed`: what the last enumeration listed under the id, which the
// object must still read as (object_deletion.h); none for an id never
// listed.
Job MakeCanDeleteJob(SharedMethodResult result, std::string device_id,
                     std::string object_id, std::optional<ListedObject> listed,
                     SharedSessions sessions);
Job MakeDeleteObjectJob(SharedMethodResult result, std::string device_id,
                        std::string object_id,
                        std::optional<ListedObject> listed,
                        SharedSessions sessions);
// Answers the thumbnail's bytes, null when the object has none,
// Error("cancelled", "Cancelled") once `cancels` has moved on from
// `accepted_at` (a cancel came), or Error("wpd_error", message, hresult)
// when it could not be read.
Job MakeGetThumbnailJob(SharedMethodResult result, std::string device_id,
                        std::string object_id, SharedSessions sessions,
                        std::shared_ptr<std::atomic<uint64_t>> cancels,
                        uint64_t accepted_at,
                        std::shared_ptr<PendingCopies> streams);

// Answers what WPD shows of the device (wpd/device_description.h), or
// Error("wpd_error", message, hresult) when COM or Open fails. The sessions
// only lend their unplug probe: the device is opened apart from them.
Job MakeDescribeDeviceJob(SharedMethodResult result, std::string device_id,
                          SharedSessions sessions);

// What a request gets when its job throws instead of returning a completion:
// a failure with E_UNEXPECTED and the text "Internal error", in the shape its
// method reports failures ("wpd_error" for the methods that answer errors,
// a map with status "error" for scanMedia, copyObject and deleteObject, null
// for canDelete).
Completion MakeInternalErrorCompletion(const std::string& method,
                                       SharedMethodResult result);

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_DEVICE_JOBS_H_
