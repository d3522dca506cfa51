// Helpers for driving the simulated devices the way a WPD client does.
#ifndef SNAPFERRY_TESTS_PLATFORM_WPD_WPD_TEST_UTIL_H_
#define SNAPFERRY_TESTS_PLATFORM_WPD_WPD_TEST_UTIL_H_

#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

// A bulk request's callback that keeps what it was told: the order of the
// calls, the thread of each, and every object's values. `on_progress`, if
// set, runs inside OnProgress (on the callback's thread).
class BulkRecorder final : public IPortableDevicePropertiesBulkCallback {
 public:
  struct Batch {
    std::thread::id thread;
    std::vector<IPortableDeviceValues*> values;  // owned references
    HRESULT get_at = S_OK;                       // the first GetAt failure
  };

  BulkRecorder() = default;
  // The simulator lets the callback go just after OnEnd: wait for it.
  ~BulkRecorder() {
    WaitForRelease();
    for (Batch& batch : batches_) {
      for (IPortableDeviceValues* values : batch.values) values->Release();
    }
  }
  BulkRecorder(const BulkRecorder&) = delete;
  BulkRecorder& operator=(const BulkRecorder&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualGUID(iid, IID_IUnknown) ||
        IsEqualGUID(iid, IID_IPortableDevicePropertiesBulkCallback)) {
      *out = static_cast<IPortableDevicePropertiesBulkCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the test's stack: the count tells whether the simulator let
  // every reference go.
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    std::lock_guard<std::mutex> lock(mu_);
    cv_.notify_all();
    return --refs_;
  }
  ULONG refs() const { return refs_.load(); }
  // Whether every reference but the test's own was let go within 10 s.
  bool WaitForRelease() {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10),
                        [this] { return refs_.load() == 1; });
  }

  HRESULT STDMETHODCALLTYPE OnStart(REFGUID context) override {
    Note('S', context);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  OnProgress(REFGUID context, IPortableDeviceValuesCollection* results) override {
    Batch batch;
    batch.thread = std::this_thread::get_id();
    DWORD count = 0;
    batch.get_at = results->GetCount(&count);
    for (DWORD i = 0; i < count; ++i) {
      IPortableDeviceValues* values = nullptr;
      HRESULT hr = results->GetAt(i, &values);
      if (SUCCEEDED(hr)) {
        batch.values.push_back(values);
      } else if (SUCCEEDED(batch.get_at)) {
        batch.get_at = hr;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      batches_.push_back(std::move(batch));
    }
    Note('P', context);
    if (on_progress) on_progress();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnEnd(REFGUID context, HRESULT status) override {
    std::lock_guard<std::mutex> lock(mu_);
    status_ = status;
    order_ += 'E';
    threads_.push_back(std::this_thread::get_id());
    contexts_ok_ = contexts_ok_ && IsEqualGUID(context, expected_);
    ended_ = true;
    cv_.notify_all();
    return S_OK;
  }

  void Expect(const GUID& context) { expected_ = context; }
  // Whether OnEnd came within `wait`.
  bool WaitForEnd(std::chrono::milliseconds wait = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, wait, [this] { return ended_; });
  }
  // Until OnProgress brought `objects` objects in all.
  bool WaitForObjects(size_t objects) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10),
                        [&] { return Objects() >= objects; });
  }
  // "S", "P"... and "E": the calls in order.
  std::string order() const {
    std::lock_guard<std::mutex> lock(mu_);
    return order_;
  }
  HRESULT status() const {
    std::lock_guard<std::mutex> lock(mu_);
    return status_;
  }
  // Read once OnEnd came.
  const std::vector<Batch>& batches() const { return batches_; }
  const std::vector<std::thread::id>& threads() const { return threads_; }
  bool contexts_ok() const { return contexts_ok_; }
  size_t objects() const {
    std::lock_guard<std::mutex> lock(mu_);
    return Objects();
  }

  std::function<void()> on_progress;

 private:
  void Note(char call, const GUID& context) {
    std::lock_guard<std::mutex> lock(mu_);
    order_ += call;
    threads_.push_back(std::this_thread::get_id());
    contexts_ok_ = contexts_ok_ && IsEqualGUID(context, expected_);
    cv_.notify_all();
  }
  size_t Objects() const {
    size_t count = 0;
    for (const Batch& batch : batches_) count += batch.values.size();
    return count;
  }

  std::atomic<ULONG> refs_{1};
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::string order_;
  std::vector<std::thread::id> threads_;
  std::vector<Batch> batches_;
  GUID expected_ = GUID_NULL;
  bool contexts_ok_ = true;
  HRESULT status_ = S_OK;
  bool ended_ = false;
};

}  // namespace wpd_test

#endif  // SNAPFERRY_TESTS_PLATFORM_WPD_WPD_TEST_UTIL_H_
