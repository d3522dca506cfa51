// Included by a test binary's helpers, it checks after every test of that
// binary, on the Linux stand-in, that the test gave back every task-memory
// block it took: a missing CoTaskMemFree fails the test that made it.
// Windows keeps no such count, so the check is compiled out there.
#ifndef SNAPFERRY_TESTS_PLATFORM_WIN32_TASK_MEMORY_CHECK_H_
#define SNAPFERRY_TESTS_PLATFORM_WIN32_TASK_MEMORY_CHECK_H_

#ifndef _WIN32
#include <gtest/gtest.h>

#include "win32_standin/control.h"

namespace win32_test {

class TaskMemoryCheck : public ::testing::EmptyTestEventListener {
 private:
  void OnTestStart(const ::testing::TestInfo&) override {
    at_start_ = win32_standin::OutstandingTaskMemoryBlocks();
  }
  // Runs while the test is still the current one, so a failure here is the
  // test's.
  void OnTestEnd(const ::testing::TestInfo&) override {
    EXPECT_EQ(win32_standin::OutstandingTaskMemoryBlocks(), at_start_)
        << "task-memory blocks taken during the test and never given to "
           "CoTaskMemFree";
  }

  long at_start_ = 0;
};

// Appends the check when the tests start, after the result printer is in
// place: listeners hear of a test's end in reverse order, so the check runs
// before the printer reports the test.
class TaskMemoryCheckInstaller : public ::testing::Environment {
 private:
  void SetUp() override {
    if (installed_) return;
    installed_ = true;
    ::testing::UnitTest::GetInstance()->listeners().Append(new TaskMemoryCheck);
  }

  bool installed_ = false;
};

// Installed once per binary, however many of its files include this.
inline ::testing::Environment* const kTaskMemoryCheck =
    ::testing::AddGlobalTestEnvironment(new TaskMemoryCheckInstaller);

}  // namespace win32_test
#endif  // !_WIN32

#endif  // SNAPFERRY_TESTS_PLATFORM_WIN32_TASK_MEMORY_CHECK_H_
