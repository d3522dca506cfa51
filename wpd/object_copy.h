#ifndef SNAPFERRY_WPD_OBJECT_COPY_H_
#define SNAPFERRY_WPD_OBJECT_COPY_H_

#include <atomic>
#include <string>

#include "wpd/device_sessions.h"
#include "wpd/object_op_result.h"
#include "wpd/pending_copies.h"

namespace snapferry {


// Copies the default resource of one object into the staging file at
// `staging_path` (created or truncated; its folder must exist), in chunks
// sized from the device's optimal transfer size. Reports progress through
// `progress` (required) at most every 100 ms of tick count and once more
// after a complete copy, and stops at the next chunk when `cancel` is set.
// While its stream is open it is in `pending` (when given), so that a
// cancel can also abort a read in progress: a read that fails once `cancel`
// is set makes the copy "cancelled", whatever the device answered.
//
// Status kOk means the file holds exactly `bytesWritten` bytes, flushed to
// disk, with the object's dates as its creation and last-write times where
// the device gives them. On any other status no staging file is left
// behind, even when the process is killed during the copy: a partial one is
// removed, and a file that could not be created was never there.
//
// The device session comes from `sessions` when given (and goes back to
// it), else it is opened for this copy alone. A kept session that answers
// that the device went away before any progress was reported is dropped and
// the copy starts once more on a new one.
//
// Runs on the calling thread in a COM apartment of its own.
ObjectOpResult CopyObjectToFile(const std::string& device_id,
                                const std::string& object_id,
                                const std::string& staging_path,
                                const ProgressCallback& progress,
                                std::atomic<bool>& cancel,
                                PendingCopies* pending = nullptr,
                                DeviceSessions* sessions = nullptr);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_OBJECT_COPY_H_
