// Jobs on workers, completions back on the window's thread through the reply
// queue: order, batching per drain, and what happens when the handler or the
// window is gone before a job ends.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "channel/wpd_channel_handler.h"
#include "tests/channel/channel_test_util.h"

#ifndef _WIN32
#include "win32_standin/control.h"
#endif

namespace snapferry {
namespace {

using channel_test::PumpUntil;
using channel_test::SetOnDestroy;
using channel_test::Signal;

struct Ran {
  std::string name;
  int message;  // the kReplyReadyMessage whose drain ran it
  std::thread::id thread;
};

class ReplyQueueTest : public channel_test::HandlerTest {
 protected:
  // A job that logs its thread, returns a completion logging `name`, and
  // sets `posted` once the worker has queued that completion and let go of
  // the job.
  Job LoggingJob(const std::string& name, std::shared_ptr<Signal> posted,
                 std::shared_ptr<Signal> wait_for = nullptr) {
    auto sentinel = std::make_shared<SetOnDestroy>(std::move(posted));
    return [this, name, sentinel, wait_for]() -> Completion {
      if (wait_for) wait_for->Wait();
      job_threads_.push_back(std::this_thread::get_id());
      return [this, name]() {
        ran_.push_back(
            {name, window_.reply_ready_messages(), std::this_thread::get_id()});
      };
    };
  }

  std::vector<Ran> ran_;
  // Written by the workers one after the other (each waits for the last).
  std::vector<std::thread::id> job_threads_;
};

TEST_F(
    ReplyQueueTest,
    OneDrainRunsBothWaitingCompletionsInOrderAndTheSecondMessageFindsNothing) {
  auto first_posted = std::make_shared<Signal>();
  auto second_posted = std::make_shared<Signal>();
  ASSERT_TRUE(handler_->RunJob(LoggingJob("first", first_posted)));
  // The second job appends only after the first has queued its completion.
  ASSERT_TRUE(
      handler_->RunJob(LoggingJob("second", second_posted, first_posted)));
  // Nothing is dispatched until both completions wait in the queue.
  ASSERT_TRUE(second_posted->Wait());
  EXPECT_TRUE(ran_.empty());

  ASSERT_TRUE(PumpUntil([&] { return window_.reply_ready_messages() == 2; }));
  channel_test::PumpPending();

  ASSERT_EQ(ran_.size(), 2u);
  EXPECT_EQ(ran_[0].name, "first");
  EXPECT_EQ(ran_[1].name, "second");
  EXPECT_EQ(ran_[0].message, 1);
  EXPECT_EQ(ran_[1].message, 1);
  EXPECT_EQ(window_.reply_ready_messages(), 2);
  // Jobs ran on workers, completions on the window's thread.
  for (const Ran& ran : ran_) EXPECT_EQ(ran.thread, std::this_thread::get_id());
  ASSERT_EQ(job_threads_.size(), 2u);
  for (const auto& id : job_threads_) EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(ReplyQueueTest, CompletionQueuedDuringADrainWaitsForItsOwnMessage) {
  auto first_posted = std::make_shared<Signal>();
  auto late_posted = std::make_shared<Signal>();
  handler_->RunJob([&]() -> Completion {
    return [&]() {
      ran_.push_back({"first", window_.reply_ready_messages(),
                      std::this_thread::get_id()});
      // Still inside the drain: the late completion is queued meanwhile.
      handler_->RunJob(LoggingJob("late", late_posted));
      EXPECT_TRUE(late_posted->Wait());
    };
  });
  ASSERT_TRUE(PumpUntil([&] { return ran_.size() == 2; }));
  EXPECT_EQ(ran_[0].name, "first");
  EXPECT_EQ(ran_[0].message, 1);
  EXPECT_EQ(ran_[1].name, "late");
  EXPECT_EQ(ran_[1].message, 2);
}

TEST_F(ReplyQueueTest, RunJobReturnsWhileTheJobIsStillRunning) {
  auto release = std::make_shared<Signal>();
  auto posted = std::make_shared<Signal>();
  ASSERT_TRUE(handler_->RunJob(LoggingJob("blocked", posted, release)));
  EXPECT_FALSE(posted->IsSet());
  release->Set();
  ASSERT_TRUE(PumpUntil([&] { return ran_.size() == 1; }));
}

TEST_F(ReplyQueueTest, CompletionOfAJobThatOutlivesItsHandlerIsDestroyedUnrun) {
  auto release = std::make_shared<Signal>();
  auto job_gone = std::make_shared<Signal>();
  auto completion_gone = std::make_shared<Signal>();
  bool completion_ran = false;
  handler_->RunJob([&, release,
                    job_sentinel = std::make_shared<SetOnDestroy>(
                        job_gone)]() -> Completion {
    release->Wait();
    auto sentinel = std::make_shared<SetOnDestroy>(completion_gone);
    return [&completion_ran, sentinel]() { completion_ran = true; };
  });
  window_.set_handler(nullptr);
  handler_.reset();

  release->Set();
  // The worker held the last reference to the queue: the completion goes
  // with it, unrun.
  ASSERT_TRUE(job_gone->Wait());
  ASSERT_TRUE(completion_gone->Wait());
  channel_test::PumpPending();
  EXPECT_FALSE(completion_ran);
  EXPECT_EQ(window_.reply_ready_messages(), 1);
}

TEST_F(ReplyQueueTest,
       CompletionWhoseWakeUpCouldNotBePostedRunsAtTheNextDrain) {
  window_.set_handler(nullptr);
  window_.Destroy();  // PostMessageW now fails
  auto posted = std::make_shared<Signal>();
  ASSERT_TRUE(handler_->RunJob(LoggingJob("orphan", posted)));
  ASSERT_TRUE(posted->Wait());
  EXPECT_TRUE(ran_.empty());
  handler_->DrainReplyQueue();
  ASSERT_EQ(ran_.size(), 1u);
  EXPECT_EQ(ran_[0].name, "orphan");
  handler_->DrainReplyQueue();
  EXPECT_EQ(ran_.size(), 1u);
}

TEST_F(ReplyQueueTest, CompletionThatThrowsLeavesTheRestOfItsBatchRunning) {
  auto first_posted = std::make_shared<Signal>();
  auto broken_posted = std::make_shared<Signal>();
  auto last_posted = std::make_shared<Signal>();
  ASSERT_TRUE(handler_->RunJob(LoggingJob("first", first_posted)));
  ASSERT_TRUE(
      handler_->RunJob([first_posted, sentinel = std::make_shared<SetOnDestroy>(
                                          broken_posted)]() -> Completion {
        first_posted->Wait();
        return [] { throw std::logic_error("broken completion"); };
      }));
  ASSERT_TRUE(handler_->RunJob(LoggingJob("last", last_posted, broken_posted)));
  ASSERT_TRUE(last_posted->Wait());

  testing::internal::CaptureStderr();
  ASSERT_TRUE(PumpUntil([&] { return ran_.size() == 2; }));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: A completion threw an exception: broken completion\n");
  EXPECT_EQ(ran_[0].name, "first");
  EXPECT_EQ(ran_[1].name, "last");
  // All three in the drain of the first message.
  EXPECT_EQ(ran_[1].message, 1);
}

// Windows refuses posts to a thread whose queue already holds its quota of
// messages (10,000 by default) with ERROR_NOT_ENOUGH_QUOTA. Wine (8.0) has
// no such quota: there the queue cannot be filled and the test skips.
TEST_F(ReplyQueueTest, CompletionPostedIntoAFullMessageQueueRunsOnceItEmpties) {
  constexpr int kMostToTry = 20000;
  int filled = 0;
  while (filled < kMostToTry && PostMessageW(window_.hwnd(), WM_NULL, 0, 0)) {
    ++filled;
  }
  if (filled == kMostToTry) {
    channel_test::PumpPending();
    GTEST_SKIP() << "this system's message queue took " << kMostToTry
                 << " posts without a quota";
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));

  auto posted = std::make_shared<Signal>();
  ASSERT_TRUE(handler_->RunJob(LoggingJob("late", posted)));
  // The worker keeps posting while the window does not take messages.
  EXPECT_FALSE(posted->Wait(std::chrono::milliseconds(300)));
  ASSERT_TRUE(PumpUntil([&] { return ran_.size() == 1; }));
  EXPECT_EQ(ran_[0].name, "late");
  EXPECT_TRUE(posted->Wait());
}

#ifndef _WIN32
TEST_F(ReplyQueueTest, CompletionWhoseWakeUpsAreRefusedIsStillAnswered) {
  // Refused a few times, then for as long as the test says.
  for (int refusals : {1, 3, -1}) {
    SCOPED_TRACE(refusals);
    ran_.clear();
    win32_standin::Reset();
    win32_standin::FailPostMessageW(ERROR_NOT_ENOUGH_QUOTA, refusals,
                                    kReplyReadyMessage);
    auto posted = std::make_shared<Signal>();
    ASSERT_TRUE(handler_->RunJob(LoggingJob("refused", posted)));
    if (refusals < 0) {
      EXPECT_FALSE(PumpUntil([&] { return !ran_.empty(); },
                             std::chrono::milliseconds(200)));
      win32_standin::FailPostMessageW(ERROR_SUCCESS, 0);
    }
    ASSERT_TRUE(PumpUntil([&] { return ran_.size() == 1; }));
    ASSERT_TRUE(posted->Wait());
    // Only the post that was taken woke the window.
    int wake_ups = 0;
    for (const auto& message : win32_standin::PostedMessages()) {
      if (message.message == kReplyReadyMessage) ++wake_ups;
    }
    EXPECT_EQ(wake_ups, 1);
  }
  win32_standin::Reset();
}
#endif

}  // namespace
}  // namespace snapferry
