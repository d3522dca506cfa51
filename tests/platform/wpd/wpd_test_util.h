// Helpers for driving the simulated devices the way a WPD client does.
#ifndef SNAPFERRY_TESTS_PLATFORM_WPD_WPD_TEST_UTIL_H_
#define SNAPFERRY_TESTS_PLATFORM_WPD_WPD_TEST_UTIL_H_

#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "tests/platform/win32/task_memory_check.h"

namespace wpd_test {

// A minimal owning COM reference.
template <class T>
class Ref {
 public:
  Ref() = default;
  ~Ref() { Reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// Runs `body` on a fresh thread that has joined the multithreaded
// apartment, as the system's workers do.
inline void InMta(const std::function<void()>& body) {
  std::thread worker([&] {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    body();
    if (SUCCEEDED(hr)) CoUninitialize();
  });
  worker.join();
}

template <class T>
HRESULT Create(const CLSID& clsid, const IID& iid, Ref<T>* out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                          out->OutVoid());
}

// Takes a CoTaskMem string, frees it, and returns its text.
inline std::wstring Take(LPWSTR text) {
  std::wstring copy = text != nullptr ? text : L"";
  CoTaskMemFree(text);
  return copy;
}

// Client information as the system's device layer sets it.
inline HRESULT MakeClientInfo(DWORD access, Ref<IPortableDeviceValues>* out) {
  HRESULT hr =
      Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, out);
  if (FAILED(hr)) return hr;
  (*out)->SetStringValue(WPD_CLIENT_NAME, L"Snapferry");
  (*out)->SetUnsignedIntegerValue(WPD_CLIENT_MAJOR_VERSION, 0);
  (*out)->SetUnsignedIntegerValue(WPD_CLIENT_MINOR_VERSION, 2);
  (*out)->SetUnsignedIntegerValue(WPD_CLIENT_REVISION, 0);
  (*out)->SetUnsignedIntegerValue(WPD_CLIENT_DESIRED_ACCESS, access);
  (*out)->SetUnsignedIntegerValue(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, 0);
  return S_OK;
}

inline HRESULT OpenDevice(const std::wstring& id, DWORD access,
                          Ref<IPortableDevice>* device) {
  Ref<IPortableDeviceValues> client;
  HRESULT hr = MakeClientInfo(access, &client);
  if (FAILED(hr)) return hr;
  hr = Create(CLSID_PortableDeviceFTM, IID_IPortableDevice, device);
  if (FAILED(hr)) return hr;
  return (*device)->Open(id.c_str(), client.get());
}

}  // namespace wpd_test

#endif  // SNAPFERRY_TESTS_PLATFORM_WPD_WPD_TEST_UTIL_H_
