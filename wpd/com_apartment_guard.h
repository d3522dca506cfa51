#ifndef SNAPFERRY_WPD_COM_APARTMENT_GUARD_H_
#define SNAPFERRY_WPD_COM_APARTMENT_GUARD_H_

#include <objbase.h>

namespace snapferry {

// Joins the multithreaded apartment for one device operation on one worker
// thread, and leaves it again when the operation ends. A thread that already
// belongs to another apartment (RPC_E_CHANGED_MODE) keeps it and may use COM
// there; it must then not call CoUninitialize, which would undo a join that
// is not ours.
class ComApartmentGuard {
 public:
  ComApartmentGuard();
  ~ComApartmentGuard();
  ComApartmentGuard(const ComApartmentGuard&) = delete;
  ComApartmentGuard& operator=(const ComApartmentGuard&) = delete;

  // True when the worker may use COM.
  bool usable() const { return usable_; }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
  bool usable_;
  bool joined_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_COM_APARTMENT_GUARD_H_
