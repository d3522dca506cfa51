// The IUnknown half of a callback object this program hands to WPD, which
// calls it on a thread of its own: one interface, a reference count that
// any thread may change, deleted with its last reference.
#ifndef SNAPFERRY_WPD_COM_CALLBACK_H_
#define SNAPFERRY_WPD_COM_CALLBACK_H_

#include <objbase.h>

#include <atomic>

namespace snapferry {

// `Derived` implements `Interface`'s own methods; `iid` is its IID.
template <class Interface, const IID& iid>
class ComCallback : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualGUID(asked, IID_IUnknown) || IsEqualGUID(asked, iid)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComCallback() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_COM_CALLBACK_H_
