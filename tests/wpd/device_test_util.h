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

// What running on a thread of a single-threaded apartment showed.
struct StaRun {
  // Whether the thread could create simulated objects at all: Windows does
  // not hand classes registered from the multithreaded apartment, as the
  // simulator's are, to a single-threaded one.
  bool classes_reachable = false;
  // Whether the thread was still in its apartment afterwards (a
  // multithreaded join is refused there).
  bool still_sta = false;
};

// Runs a device operation on a thread that already belongs to a
// single-threaded apartment.
template <class F>
auto OnStaThread(F operation, StaRun* run) -> std::invoke_result_t<F> {
  std::invoke_result_t<F> result{};
  std::thread worker([&] {
    HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IUnknown* probe = nullptr;
    run->classes_reachable = SUCCEEDED(CoCreateInstance(
        CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
        reinterpret_cast<void**>(&probe)));
    if (probe != nullptr) probe->Release();
    result = operation();
    run->still_sta =
        CoInitializeEx(nullptr, COINIT_MULTITHREADED) == RPC_E_CHANGED_MODE;
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
