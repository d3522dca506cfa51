#include <objbase.h>
#include <propidl.h>

#include <thread>

#include "gtest/gtest.h"
#include "tests/platform/win32/counted_object.h"
#include "win32_standin/control.h"

namespace {

class StandinComControl : public ::testing::Test {
 protected:
  void TearDown() override { win32_standin::Reset(); }
};

TEST_F(StandinComControl, InjectedInitializeFailureChangesNothing) {
  std::thread([] {
    win32_standin::FailCoInitializeEx(E_OUTOFMEMORY, 1);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), E_OUTOFMEMORY);
    EXPECT_EQ(win32_standin::CurrentApartment().model,
              win32_standin::ApartmentModel::kNone);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    const auto state = win32_standin::CurrentApartment();
    EXPECT_EQ(state.model, win32_standin::ApartmentModel::kMultithreaded);
    EXPECT_EQ(state.depth, 1);
    CoUninitialize();
  }).join();
}

TEST_F(StandinComControl, ApartmentDepthTracksBalancedCalls) {
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED),
              RPC_E_CHANGED_MODE);
    EXPECT_EQ(win32_standin::CurrentApartment().depth, 2);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(win32_standin::CurrentApartment().model,
              win32_standin::ApartmentModel::kNone);
  }).join();
}

TEST_F(StandinComControl, InjectedCreateFailureHitsOnlyTheChosenClassAndCount) {
  win32_test::CountedFactory factory;
  std::thread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(win32_test::kCountedClass, &factory,
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie),
              S_OK);
    EXPECT_EQ(win32_standin::RegisteredClassCount(), 1);
    win32_standin::FailCoCreateInstance(win32_test::kCountedClass,
                                        E_ACCESSDENIED, 2);
    IUnknown* object = nullptr;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(CoCreateInstance(win32_test::kCountedClass, nullptr,
                                 CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(&object)),
                E_ACCESSDENIED);
      EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(win32_test::live_objects.load(), 0);
    EXPECT_EQ(CoCreateInstance(win32_test::kCountedClass, nullptr,
                               CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    object->Release();
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(win32_standin::RegisteredClassCount(), 0);
    CoUninitialize();
  }).join();
}

// Every way a block is taken or given back, from any thread; PropVariantClear
// gives back what the value owned.
TEST_F(StandinComControl, TaskMemoryCountsBlocksNotYetFreed) {
  const long start = win32_standin::OutstandingTaskMemoryBlocks();
  void* a = CoTaskMemAlloc(0);
  void* b = nullptr;
  std::thread([&] { b = CoTaskMemRealloc(nullptr, 8); }).join();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(win32_standin::OutstandingTaskMemoryBlocks(), start + 2);
  b = CoTaskMemRealloc(b, 4096);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(win32_standin::OutstandingTaskMemoryBlocks(), start + 2);
  EXPECT_EQ(CoTaskMemRealloc(b, 0), nullptr);  // frees it
  CoTaskMemFree(nullptr);
  CoTaskMemFree(a);
  EXPECT_EQ(win32_standin::OutstandingTaskMemoryBlocks(), start);

  PROPVARIANT text;
  PropVariantInit(&text);
  text.vt = VT_LPWSTR;
  text.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(WCHAR)));
  ASSERT_NE(text.pwszVal, nullptr);
  text.pwszVal[0] = L'\0';
  EXPECT_EQ(win32_standin::OutstandingTaskMemoryBlocks(), start + 1);
  EXPECT_EQ(PropVariantClear(&text), S_OK);
  win32_standin::Reset();
  EXPECT_EQ(win32_standin::OutstandingTaskMemoryBlocks(), start);
}

}  // namespace
