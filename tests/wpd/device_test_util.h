// Helpers for driving the device layer against the simulated devices.
#ifndef SNAPFERRY_TESTS_WPD_DEVICE_TEST_UTIL_H_
#define SNAPFERRY_TESTS_WPD_DEVICE_TEST_UTIL_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/wpd/simulator/simulator.h"
#include "tests/platform/win32/task_memory_check.h"

namespace snapferry {
namespace testing_util {

// Runs a device operation on a fresh thread that has not joined COM, as the
// channel layer's workers do, and hands back what it returned.
template <class F>
auto OnWorker(F operation) -> std::invoke_result_t<F> {
  std::invoke_result_t<F> result{};
  std::thread worker([&] { result = operation(); });
  worker.join();
  return result;
}

// Runs a device operation on a thread that already belongs to a
// single-threaded apartment, with the simulated classes registered there
// too. `still_sta` tells whether the thread was still in its apartment
// afterwards (a multithreaded join is refused there).
template <class F>
auto OnStaThread(const wpd_sim::Simulator& sim, F operation, bool* still_sta)
    -> std::invoke_result_t<F> {
  std::invoke_result_t<F> result{};
  std::thread worker([&] {
    HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      auto registration = sim.RegisterInCurrentApartment();
      result = operation();
      *still_sta =
          CoInitializeEx(nullptr, COINIT_MULTITHREADED) == RPC_E_CHANGED_MODE;
    }
    if (SUCCEEDED(joined)) CoUninitialize();
  });
  worker.join();
  return result;
}

inline constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
inline constexpr HRESULT kDeviceBusy = static_cast<HRESULT>(0x800700AA);

// Whether a CoInitializeEx failure can be injected on this platform (the
// stand-in can, Windows cannot). Restores nothing: the caller clears it.
inline bool CanFailCoInitialize(wpd_sim::Simulator& sim, HRESULT hr) {
  return sim.SetProcessFault(wpd_sim::Call::kCoInitializeEx,
                             wpd_sim::Fault{hr, 0});
}

}  // namespace testing_util
}  // namespace snapferry

#endif  // SNAPFERRY_TESTS_WPD_DEVICE_TEST_UTIL_H_
