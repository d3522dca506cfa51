#include "wpd/com_apartment_guard.h"

namespace snapferry {

ComApartmentGuard::ComApartmentGuard()
    : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)),
      usable_(SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE),
      joined_(SUCCEEDED(result_)) {}

ComApartmentGuard::~ComApartmentGuard() {
  if (joined_) CoUninitialize();
}

}  // namespace snapferry
