// The thread hop: a worker runs its job, appends the completion under the
// queue's lock and wakes the window; the UI thread swaps the whole queue out
// and runs it unlocked.

#include <windows.h>

#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "channel/wpd_channel_handler.h"

namespace snapferry {

void PostCompletion(const std::shared_ptr<WpdChannelHandler::ReplyQueue>& queue,
                    HWND window, Completion completion) {
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->completions.push_back(std::move(completion));
  }
  // Outside the lock: posting may take its time, and the window may already
  // be gone, in which case the completion waits for a drain that may never
  // come and is destroyed with the queue.
  PostMessageW(window, kReplyReadyMessage, 0, 0);
}

bool WpdChannelHandler::RunJob(Job job) {
  try {
    // The worker owns exactly its queue reference, the window handle and the
    // job; it never sees the handler itself.
    std::thread worker([queue = reply_queue_, window = window_,
                        job = std::move(job)]() mutable {
      Completion completion = job();
      PostCompletion(queue, window, std::move(completion));
      // The thread state (queue reference and job) goes as the thread
      // ends. The device jobs have moved their results into their
      // completions by now, so no answer is let go of here.
    });
    worker.detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void WpdChannelHandler::DrainReplyQueue() {
  std::vector<Completion> ready;
  {
    std::lock_guard<std::mutex> lock(reply_queue_->mutex);
    ready.swap(reply_queue_->completions);
  }
  // Completions queued while these run wait for their own message.
  for (Completion& completion : ready) completion();
}

}  // namespace snapferry
