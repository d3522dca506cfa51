// Worker threads: every body runs once, and every thread is joined after it
// ends, also when many short-lived ones that use thread-local storage end
// while others start (the churn under which detached threads' records were
// handed to new threads too early).

#include "channel/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace snapferry {
namespace {

thread_local int uses_of_this_thread = 0;

TEST(WorkerThreadsTest, RunsEveryBodyOnceAndJoinsEveryThread) {
  constexpr int kWorkers = 600;
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
  std::atomic<int> wrong_thread_state{0};
  for (int i = 0; i < kWorkers; ++i) {
    StartWorkerThread([&] {
      // A fresh thread's own thread-local value, set and read back.
      if (uses_of_this_thread++ != 0) ++wrong_thread_state;
      if (uses_of_this_thread != 1) ++wrong_thread_state;
      std::lock_guard<std::mutex> lock(mutex);
      ++done;
      changed.notify_all();
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60),
                                 [&] { return done == kWorkers; }))
        << done << " of " << kWorkers << " bodies ran";
  }
  EXPECT_EQ(wrong_thread_state.load(), 0);
  // The joiner catches up with the threads that ended.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (UnjoinedWorkerThreads() != 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(UnjoinedWorkerThreads(), 0u);
}

}  // namespace
}  // namespace snapferry
