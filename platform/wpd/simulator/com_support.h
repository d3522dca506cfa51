// COM plumbing shared by the simulated objects: a reference-counted base that
// counts live objects, task-memory strings, PROPVARIANT copies, and the
// HRESULTs the simulated components answer with.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_COM_SUPPORT_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_COM_SUPPORT_H_

#include <atomic>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/wpd/simulator/state.h"

namespace wpd_sim {

// HRESULT_FROM_WIN32 of the Win32 codes the simulated components answer.
inline constexpr HRESULT kErrorFileNotFound = static_cast<HRESULT>(0x80070002);
inline constexpr HRESULT kErrorInvalidFunction =
    static_cast<HRESULT>(0x80070001);
inline constexpr HRESULT kErrorInvalidData = static_cast<HRESULT>(0x8007000D);
inline constexpr HRESULT kErrorNotSupported = static_cast<HRESULT>(0x80070032);
inline constexpr HRESULT kErrorInsufficientBuffer =
    static_cast<HRESULT>(0x8007007A);
inline constexpr HRESULT kErrorDirNotEmpty = static_cast<HRESULT>(0x80070091);
inline constexpr HRESULT kErrorNotFound = static_cast<HRESULT>(0x80070490);
inline constexpr HRESULT kTypeMismatch = static_cast<HRESULT>(0x80020005);

inline bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return a.pid == b.pid && SameGuid(a.fmtid, b.fmtid);
}

// A CoTaskMemAlloc'd, NUL-terminated copy; nullptr when out of memory.
LPWSTR DupString(std::wstring_view text);

// Deep copy for the variant types the simulator stores; E_INVALIDARG for
// others. ClearValue frees what CopyValue allocated, like PropVariantClear.
HRESULT CopyValue(PROPVARIANT* target, const PROPVARIANT& source);
void ClearValue(PROPVARIANT* value);

// Reference counting, QueryInterface over Derived::Answers, and the live
// count of kKind. Derived classes are final and deleted through Derived*.
template <class Derived, class Interface, ObjectKind kKind>
class ComObject : public Interface {
 public:
  explicit ComObject(std::shared_ptr<SimState> sim) : sim_(std::move(sim)) {
    sim_->live[static_cast<int>(kKind)].fetch_add(1);
  }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (SameGuid(iid, IID_IUnknown) || Derived::Answers(iid)) {
      *out = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 protected:
  ~ComObject() { sim_->live[static_cast<int>(kKind)].fetch_sub(1); }

  std::shared_ptr<SimState> sim_;

 private:
  std::atomic<ULONG> refs_{1};
};

// Hands a fresh object (reference count 1) out as `iid`.
template <class T>
HRESULT HandOut(T* object, REFIID iid, void** out) {
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_COM_SUPPORT_H_
