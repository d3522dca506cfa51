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

// A small phone laid out as a current iPhone lists itself: one storage with
// two month folders and four files (a photo of three 64 KiB chunks and a
// bit, its Live Photo motion, a JPG and a screenshot). Unlike a real
// iPhone's, its storage allows deletion and IMG_0002.JPG says it can be
// deleted, so that the delete check and the deletion succeed when nothing
// fails; and the photo's thumbnail is a chunk and a bit (pattern data), so
// that reading it takes more than one Read.
inline const std::wstring kSmallPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#small";
inline wpd_sim::Fixture SmallPhone() {
  using wpd_sim::ContentType;
  using wpd_sim::DateProperty;
  wpd_sim::Fixture fixture;
  wpd_sim::DeviceSpec& phone = fixture.AddDevice(kSmallPhone)
                                   .FriendlyName(L"Anna's iPhone")
                                   .Manufacturer(L"Apple Inc.")
                                   .Description(L"Apple iPhone")
                                   .OptimalTransferSize(65536);
  phone.AddPhoneStorage(L"s1", L"Internal Storage").StorageAccess(0);
  phone.AddPhoneFolder(L"f1", L"s1", L"202609_a");
  phone.AddPhoneFolder(L"f2", L"s1", L"202610_a");
  const DateProperty september = DateProperty::At(2026, 9, 14, 10, 0, 0);
  const DateProperty october = DateProperty::At(2026, 10, 2, 18, 30, 5);
  phone
      .AddPhoneFile(L"o1", L"f1", L"IMG_0001.HEIC", ContentType::kImage,
                    3 * 65536 + 1000, september)
      .ThumbnailPattern(65536 + 1000);
  phone.AddPhoneFile(L"o2", L"f1", L"IMG_0001.MOV", ContentType::kUnspecified,
                     3000, september);
  phone
      .AddPhoneFile(L"o3", L"f2", L"IMG_0002.JPG", ContentType::kImage, 2000,
                    october)
      .CanDelete(true);
  phone.AddPhoneFile(L"o4", L"f2", L"IMG_0003.PNG", ContentType::kImage, 1000,
                     october);
  return fixture;
}

// Whether a CoInitializeEx failure can be injected on this platform (the
// stand-in can, Windows cannot). Restores nothing: the caller clears it.
inline bool CanFailCoInitialize(wpd_sim::Simulator& sim, HRESULT hr) {
  return sim.SetProcessFault(wpd_sim::Call::kCoInitializeEx,
                             wpd_sim::Fault{hr, 0});
}

}  // namespace testing_util
}  // namespace snapferry

#endif  // SNAPFERRY_TESTS_WPD_DEVICE_TEST_UTIL_H_
