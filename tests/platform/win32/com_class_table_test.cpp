#include <objbase.h>

#include <thread>

#include "gtest/gtest.h"
#include "tests/platform/win32/counted_object.h"

namespace {

using win32_test::CountedFactory;
using win32_test::kCountedClass;
using win32_test::live_objects;

template <typename F>
void OnFreshThread(F body) {
  std::thread thread(body);
  thread.join();
}

TEST(ComClassTable,
     MultithreadedRegistrationServesOtherThreadsOfThatApartment) {
  CountedFactory factory;
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(
        CoRegisterClassObject(kCountedClass, &factory, CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie),
        S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_GT(factory.references(), 1u);  // the registration holds one

    HRESULT created = E_FAIL;
    std::thread worker([&] {
      ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
      IUnknown* object = nullptr;
      created =
          CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IUnknown, reinterpret_cast<void**>(&object));
      EXPECT_EQ(live_objects.load(), 1);
      if (object != nullptr) object->Release();
      CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(created, S_OK);
    EXPECT_EQ(live_objects.load(), 0);

    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.references(), 1u);
    CoUninitialize();
  });
}

TEST(ComClassTable, ThreadOutsideComUsesTheMultithreadedApartmentWhileItLives) {
  CountedFactory factory;
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(
        CoRegisterClassObject(kCountedClass, &factory, CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie),
        S_OK);
    HRESULT created = E_FAIL;
    std::thread uninitialised([&] {
      IUnknown* object = nullptr;
      created =
          CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IUnknown, reinterpret_cast<void**>(&object));
      if (object != nullptr) object->Release();
    });
    uninitialised.join();
    EXPECT_EQ(created, S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    CoUninitialize();
  });
}

TEST(ComClassTable,
     SingleThreadedApartmentDoesNotSeeMultithreadedRegistrations) {
  CountedFactory factory;
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(
        CoRegisterClassObject(kCountedClass, &factory, CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie),
        S_OK);
    HRESULT created = E_FAIL;
    std::thread sta([&] {
      ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
      IUnknown* object = nullptr;
      created =
          CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IUnknown, reinterpret_cast<void**>(&object));
      if (object != nullptr) object->Release();
      CoUninitialize();
    });
    sta.join();
    EXPECT_EQ(created, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    CoUninitialize();
  });
}

TEST(ComClassTable, CreateOutsideAnyApartmentFailsNotInitialized) {
  OnFreshThread([] {
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&object)),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
  });
}

TEST(ComClassTable, UnknownClassIsNotRegistered) {
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    CoUninitialize();
  });
}

TEST(ComClassTable, RevokedClassCannotBeCreatedAndUnknownCookieIsRefused) {
  CountedFactory factory;
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(
        CoRegisterClassObject(kCountedClass, &factory, CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie),
        S_OK);
    ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
  });
}

TEST(ComClassTable, RegistrationEndsWithItsApartment) {
  CountedFactory factory;
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(
        CoRegisterClassObject(kCountedClass, &factory, CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie),
        S_OK);
    CoUninitialize();
  });
  EXPECT_EQ(factory.references(), 1u);
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
  });
}

TEST(ComClassTable, FactoryAnswerReachesTheCaller) {
  CountedFactory factory;
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(
        CoRegisterClassObject(kCountedClass, &factory, CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie),
        S_OK);
    IStream* stream = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(CoCreateInstance(kCountedClass, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IStream, reinterpret_cast<void**>(&stream)),
              E_NOINTERFACE);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(live_objects.load(), 0);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    CoUninitialize();
  });
}

}  // namespace
