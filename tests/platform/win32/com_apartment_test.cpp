#include <objbase.h>

#include <thread>

#include "gtest/gtest.h"

namespace {

// Runs `body` on a fresh thread, which starts outside any apartment.
template <typename F>
void OnFreshThread(F body) {
  std::thread thread(body);
  thread.join();
}

TEST(ComApartment, RepeatedJoinInTheSameModelAnswersFalseAndNests) {
  OnFreshThread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    // Still joined: the other model is still refused.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED),
              RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Balanced now: the thread may join the other model.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
  });
}

TEST(ComApartment, OtherModelIsRefusedWithChangedModeAndNeedsNoUninitialize) {
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED),
              RPC_E_CHANGED_MODE);
    // The refused call did not nest: one CoUninitialize leaves the STA.
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
}

TEST(ComApartment, EachThreadChoosesItsOwnModel) {
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    HRESULT worker_result = E_FAIL;
    std::thread worker([&] {
      worker_result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      if (SUCCEEDED(worker_result)) CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(worker_result, S_OK);
    CoUninitialize();
  });
}

TEST(ComApartment, SecondThreadJoiningTheMultithreadedApartmentGetsOk) {
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    HRESULT worker_result = E_FAIL;
    std::thread worker([&] {
      worker_result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      if (SUCCEEDED(worker_result)) CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(worker_result, S_OK);
    CoUninitialize();
  });
}

TEST(ComApartment, UnbalancedUninitializeIsHarmless) {
  OnFreshThread([] {
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
}

TEST(ComTaskMemory, AllocatesFreesAndAcceptsNull) {
  void* block = CoTaskMemAlloc(16);
  ASSERT_NE(block, nullptr);
  static_cast<char*>(block)[15] = 1;
  CoTaskMemFree(block);
  CoTaskMemFree(nullptr);
}

}  // namespace
