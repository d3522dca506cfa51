// Apartments: each thread joins the single-threaded or the multithreaded
// model; joins nest and must be balanced by CoUninitialize.
#include <combaseapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

#include "platform/win32/src/com_internal.h"
#include "platform/win32/src/failure_injection.h"
#include "win32_standin/control.h"

namespace win32_standin {
namespace {

struct ThreadApartment {
  ApartmentModel model = ApartmentModel::kNone;
  int depth = 0;
  uint64_t id = 0;  // this thread's apartment while it is joined
};

thread_local ThreadApartment current;

std::atomic<uint64_t> next_apartment_id{1};

// The multithreaded apartment lives while at least one thread has joined it.
std::mutex mta_mutex;
int mta_threads = 0;
uint64_t mta_id = 0;

internal::InjectedFailure& InitializeFailure() {
  static internal::InjectedFailure failure;
  return failure;
}

std::mutex observer_mutex;
std::function<void(ApartmentState)> uninitialize_observer;

std::function<HRESULT(const char*, const CLSID*)> com_call_hook;

void ObserveUninitialize() {
  std::function<void(ApartmentState)> observer;
  {
    std::lock_guard<std::mutex> lock(observer_mutex);
    observer = uninitialize_observer;
  }
  if (observer) observer({current.model, current.depth});
}

}  // namespace

namespace internal {

uint64_t CurrentApartmentId() {
  if (current.depth > 0) return current.id;
  std::lock_guard<std::mutex> lock(mta_mutex);
  return mta_id;
}

}  // namespace internal

ApartmentState CurrentApartment() { return {current.model, current.depth}; }

void FailCoInitializeEx(HRESULT hr, int times) {
  InitializeFailure().Arm(hr, times);
}

void SetCoUninitializeObserver(std::function<void(ApartmentState)> observer) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  uninitialize_observer = std::move(observer);
}

void SetComCallHook(
    std::function<HRESULT(const char* call, const CLSID* clsid)> hook) {
  std::lock_guard<std::mutex> lock(observer_mutex);
  com_call_hook = std::move(hook);
}

namespace internal {
void ResetApartmentFailures() {
  InitializeFailure().Clear();
  SetCoUninitializeObserver(nullptr);
  SetComCallHook(nullptr);
}

int32_t ComCallHook(const char* call, const void* clsid) {
  std::function<HRESULT(const char*, const CLSID*)> hook;
  {
    std::lock_guard<std::mutex> lock(observer_mutex);
    hook = com_call_hook;
  }
  return hook ? hook(call, static_cast<const CLSID*>(clsid)) : S_OK;
}
}  // namespace internal

}  // namespace win32_standin

using win32_standin::ApartmentModel;
using win32_standin::current;

HRESULT CoInitializeEx(LPVOID reserved, DWORD co_init) {
  if (reserved != nullptr) return E_INVALIDARG;
  if (HRESULT hooked =
          win32_standin::internal::ComCallHook("CoInitializeEx", nullptr);
      FAILED(hooked)) {
    return hooked;
  }
  int32_t injected;
  if (win32_standin::InitializeFailure().Take(&injected)) return injected;

  const ApartmentModel wanted = (co_init & COINIT_APARTMENTTHREADED)
                                    ? ApartmentModel::kSingleThreaded
                                    : ApartmentModel::kMultithreaded;
  if (current.depth > 0) {
    if (current.model != wanted) return RPC_E_CHANGED_MODE;
    ++current.depth;
    return S_FALSE;
  }
  current.model = wanted;
  current.depth = 1;
  if (wanted == ApartmentModel::kSingleThreaded) {
    current.id = win32_standin::next_apartment_id.fetch_add(1);
  } else {
    std::lock_guard<std::mutex> lock(win32_standin::mta_mutex);
    if (win32_standin::mta_threads++ == 0) {
      win32_standin::mta_id = win32_standin::next_apartment_id.fetch_add(1);
    }
    current.id = win32_standin::mta_id;
  }
  return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
  win32_standin::ObserveUninitialize();
  win32_standin::internal::ComCallHook("CoUninitialize", nullptr);
  // Windows ignores an unbalanced call.
  if (current.depth == 0) return;
  if (--current.depth > 0) return;
  uint64_t ended = current.id;
  if (current.model == ApartmentModel::kMultithreaded) {
    std::lock_guard<std::mutex> lock(win32_standin::mta_mutex);
    if (--win32_standin::mta_threads == 0) {
      win32_standin::mta_id = 0;
    } else {
      ended = 0;  // the apartment goes on with its other threads
    }
  }
  current = {};
  if (ended != 0) win32_standin::internal::RevokeApartmentRegistrations(ended);
}
