// The stand-in's console control events: SIGINT reaches the handlers on a
// thread of their own, the last one added first, as Ctrl+C does on Windows.

#include <windows.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<int> first_calls{0};
std::atomic<int> second_calls{0};
std::atomic<DWORD> second_event{99};
std::atomic<bool> second_on_other_thread{false};
std::thread::id test_thread;

BOOL WINAPI First(DWORD) {
  ++first_calls;
  return TRUE;
}

BOOL WINAPI Second(DWORD event) {
  second_event = event;
  second_on_other_thread = std::this_thread::get_id() != test_thread;
  ++second_calls;
  return TRUE;  // handled: First is not asked
}

bool WaitFor(const std::atomic<int>& counter, int value) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (counter.load() < value) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(StandinConsoleControlTest,
     SigintRunsTheLastHandlerFirstOnAThreadOfItsOwn) {
  test_thread = std::this_thread::get_id();
  ASSERT_TRUE(SetConsoleCtrlHandler(First, TRUE));
  ASSERT_TRUE(SetConsoleCtrlHandler(Second, TRUE));
  raise(SIGINT);
  ASSERT_TRUE(WaitFor(second_calls, 1));
  EXPECT_EQ(second_event.load(), static_cast<DWORD>(CTRL_C_EVENT));
  EXPECT_TRUE(second_on_other_thread.load());
  EXPECT_EQ(first_calls.load(), 0);

  // Removed, the next one in line answers.
  ASSERT_TRUE(SetConsoleCtrlHandler(Second, FALSE));
  EXPECT_FALSE(SetConsoleCtrlHandler(Second, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  raise(SIGINT);
  ASSERT_TRUE(WaitFor(first_calls, 1));
  EXPECT_EQ(second_calls.load(), 1);
  // Left registered: a SIGINT with no handler would end the test process.
}

}  // namespace
