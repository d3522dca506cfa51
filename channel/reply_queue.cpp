// The thread hop: a worker runs its job, appends the completion under the
// queue's lock and wakes the window; the UI thread swaps the whole queue out
// and runs it unlocked.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "channel/worker_threads.h"
#include "channel/wpd_channel_handler.h"

namespace snapferry {
namespace {

// Pauses between posts of a wake-up the window's queue refused: short at
// first, since a drain frees room at once, and never long.
constexpr std::chrono::milliseconds kFirstRepostPause{1};
constexpr std::chrono::milliseconds kLongestRepostPause{50};

// One line on standard error for an exception caught where it must stop.
// Throws nothing itself: it runs inside catch blocks.
void ReportException(const char* where, std::exception_ptr caught) noexcept {
  try {
    std::string line = std::string("Error: ") + where + " threw an exception";
    try {
      std::rethrow_exception(caught);
    } catch (const std::exception& exception) {
      line += std::string(": ") + exception.what();
    } catch (...) {
    }
    std::cerr << line + "\n" << std::flush;
  } catch (...) {
  }
}

}  // namespace

void PostCompletion(const std::shared_ptr<WpdChannelHandler::ReplyQueue>& queue,
                    HWND window, Completion completion) {
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->completions.push_back(std::move(completion));
  }
  // Outside the lock: posting may take its time. A refused post (a full
  // message queue: Windows takes 10,000 posted messages per thread) would
  // leave this completion waiting for a drain nobody asked for, so it is
  // posted again until the window takes it. Only a window that is gone ends
  // the retries: nothing drains its queue any more, and the completion is
  // destroyed unrun with it.
  std::chrono::milliseconds pause = kFirstRepostPause;
  while (!PostMessageW(window, kReplyReadyMessage, 0, 0) && IsWindow(window)) {
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, kLongestRepostPause);
  }
}

bool WpdChannelHandler::RunJob(Job job, Completion if_job_throws) {
  // The worker owns exactly its queue reference, the window handle, the job
  // and its fallback completion; it never sees the handler itself.
  auto body = [queue = reply_queue_, window = window_, job = std::move(job),
               if_job_throws = std::move(if_job_throws)]() mutable {
    Completion completion;
    try {
      completion = job();
    } catch (...) {
      ReportException("A worker's job", std::current_exception());
    }
    if (!completion) {
      // The job's own references go now, while the fallback still holds
      // the request's result: it is let go of on the UI thread, after its
      // answer, as the job's own completion would have done.
      job = nullptr;
      completion = std::move(if_job_throws);
    }
    // Not needed any more: gone before the completion can run and drop its
    // reference to the result first.
    if_job_throws = nullptr;
    if (!completion) return;
    try {
      PostCompletion(queue, window, std::move(completion));
    } catch (...) {
      // Out of memory or a broken lock: the completion is lost and its
      // result says so when it goes. Nothing may escape a thread's body.
      ReportException("Queueing a completion", std::current_exception());
    }
    // The thread state (queue reference and job) goes as the thread ends.
    // The device jobs have moved their results into their completions by
    // now, so no answer is let go of here.
  };
  try {
    std::function<void()> thread_body(std::move(body));
    if (test_seams_.start_thread) {
      test_seams_.start_thread(std::move(thread_body));
    } else {
      StartWorkerThread(std::move(thread_body));
    }
    return true;
  } catch (...) {
    // std::system_error when the system refuses a thread, std::bad_alloc
    // when there is no memory for its state: either way it never started.
    return false;
  }
}

void WpdChannelHandler::DrainReplyQueue() {
  std::vector<Completion> ready;
  {
    std::lock_guard<std::mutex> lock(reply_queue_->mutex);
    ready.swap(reply_queue_->completions);
  }
  // Completions queued while these run wait for their own message. One that
  // throws must not take the others with it, nor reach the window procedure.
  for (Completion& completion : ready) {
    try {
      completion();
    } catch (...) {
      ReportException("A completion", std::current_exception());
    }
  }
}

}  // namespace snapferry
