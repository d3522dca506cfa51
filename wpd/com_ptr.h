#ifndef SNAPFERRY_WPD_COM_PTR_H_
#define SNAPFERRY_WPD_COM_PTR_H_

#include <objbase.h>

#include <utility>

namespace snapferry {

// Owns one reference to a COM interface and releases it when it goes away.
// Put() hands out the address of the slot for an out-parameter, releasing
// whatever the slot held, so "create into" calls read naturally.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }

  ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // Releases the held reference, if any, and returns the empty slot.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  void Reset() {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }

 private:
  T* ptr_ = nullptr;
};

// A string the callee allocated with CoTaskMemAlloc; freed on every path.
class CoTaskMemString {
 public:
  CoTaskMemString() = default;
  ~CoTaskMemString() { CoTaskMemFree(ptr_); }
  CoTaskMemString(const CoTaskMemString&) = delete;
  CoTaskMemString& operator=(const CoTaskMemString&) = delete;

  LPWSTR get() const { return ptr_; }
  LPWSTR* Put() {
    CoTaskMemFree(std::exchange(ptr_, nullptr));
    return &ptr_;
  }

 private:
  LPWSTR ptr_ = nullptr;
};

// A PROPVARIANT that is cleared on every path.
class ScopedPropVariant {
 public:
  ScopedPropVariant() { PropVariantInit(&value_); }
  ~ScopedPropVariant() { PropVariantClear(&value_); }
  ScopedPropVariant(const ScopedPropVariant&) = delete;
  ScopedPropVariant& operator=(const ScopedPropVariant&) = delete;

  PROPVARIANT* get() { return &value_; }
  const PROPVARIANT& value() const { return value_; }

 private:
  PROPVARIANT value_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_COM_PTR_H_
