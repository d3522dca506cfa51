// A minimal COM class for the tests: objects that count themselves, and the
// class factory that makes them.
#ifndef SNAPFERRY_TESTS_PLATFORM_WIN32_COUNTED_OBJECT_H_
#define SNAPFERRY_TESTS_PLATFORM_WIN32_COUNTED_OBJECT_H_

#include <objbase.h>

#include <atomic>

namespace win32_test {

// {6E8A3C1B-94D2-4C7F-A5B0-2F6D1E9C3A47}: a class id that no system knows.
inline const CLSID kCountedClass = {
    0x6e8a3c1b,
    0x94d2,
    0x4c7f,
    {0xa5, 0xb0, 0x2f, 0x6d, 0x1e, 0x9c, 0x3a, 0x47}};

inline std::atomic<int> live_objects{0};

class CountedObject : public IUnknown {
 public:
  CountedObject() { ++live_objects; }
  virtual ~CountedObject() { --live_objects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

class CountedFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                           void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new CountedObject();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  // References held by others than the test that owns the factory.
  ULONG references() const { return references_.load(); }

 private:
  std::atomic<ULONG> references_{1};
};

}  // namespace win32_test

#endif  // SNAPFERRY_TESTS_PLATFORM_WIN32_COUNTED_OBJECT_H_
