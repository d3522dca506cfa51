// Class objects registered with CoRegisterClassObject, and activation through
// them. A registration belongs to the registering thread's apartment: one made
// in the multithreaded apartment serves every thread of that apartment
// (including threads that use it implicitly); it ends with its apartment.
#include <combaseapi.h>
#include <unknwn.h>

#include <mutex>
#include <utility>
#include <vector>

#include "platform/win32/src/com_internal.h"
#include "platform/win32/src/failure_injection.h"
#include "win32_standin/control.h"

namespace win32_standin {
namespace {

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;  // holds one reference
  DWORD context;
  uint64_t apartment;
};

struct ClassTable {
  std::mutex mutex;
  std::vector<Registration> registrations;
  DWORD next_cookie = 1;
};

ClassTable& Table() {
  static ClassTable* table = new ClassTable();  // lives past static teardown
  return *table;
}

struct CreateFailure {
  CLSID clsid;
  internal::InjectedFailure failure;
};

std::mutex create_failures_mutex;
std::vector<CreateFailure*>& CreateFailures() {
  static auto* failures = new std::vector<CreateFailure*>();
  return *failures;
}

bool TakeCreateFailure(REFCLSID clsid, int32_t* code) {
  std::lock_guard<std::mutex> lock(create_failures_mutex);
  for (CreateFailure* entry : CreateFailures()) {
    if (entry->clsid == clsid) return entry->failure.Take(code);
  }
  return false;
}

}  // namespace

void FailCoCreateInstance(REFCLSID clsid, HRESULT hr, int times) {
  std::lock_guard<std::mutex> lock(create_failures_mutex);
  for (CreateFailure* entry : CreateFailures()) {
    if (entry->clsid == clsid) {
      entry->failure.Arm(hr, times);
      return;
    }
  }
  auto* entry = new CreateFailure{clsid, {}};
  entry->failure.Arm(hr, times);
  CreateFailures().push_back(entry);
}

int RegisteredClassCount() {
  std::lock_guard<std::mutex> lock(Table().mutex);
  return static_cast<int>(Table().registrations.size());
}

namespace internal {

void ResetCreateFailures() {
  std::lock_guard<std::mutex> lock(create_failures_mutex);
  for (CreateFailure* entry : CreateFailures()) delete entry;
  CreateFailures().clear();
}

void RevokeApartmentRegistrations(uint64_t apartment_id) {
  std::vector<IUnknown*> released;
  {
    std::lock_guard<std::mutex> lock(Table().mutex);
    auto& list = Table().registrations;
    for (auto it = list.begin(); it != list.end();) {
      if (it->apartment == apartment_id) {
        released.push_back(it->object);
        it = list.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Outside the lock: a class object's Release may call back into COM.
  for (IUnknown* object : released) object->Release();
}

}  // namespace internal
}  // namespace win32_standin

using win32_standin::Table;

HRESULT CoRegisterClassObject(REFCLSID clsid, LPUNKNOWN object, DWORD context,
                              DWORD /*flags*/, LPDWORD cookie) {
  if (cookie == nullptr || object == nullptr) return E_INVALIDARG;
  *cookie = 0;
  const uint64_t apartment = win32_standin::internal::CurrentApartmentId();
  if (apartment == 0) return CO_E_NOTINITIALIZED;
  object->AddRef();
  std::lock_guard<std::mutex> lock(Table().mutex);
  const DWORD assigned = Table().next_cookie++;
  Table().registrations.push_back(
      {assigned, clsid, object, context, apartment});
  *cookie = assigned;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  const uint64_t apartment = win32_standin::internal::CurrentApartmentId();
  if (apartment == 0) return CO_E_NOTINITIALIZED;
  IUnknown* object = nullptr;
  {
    std::lock_guard<std::mutex> lock(Table().mutex);
    auto& list = Table().registrations;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->cookie != cookie) continue;
      // Only the registering apartment may revoke.
      if (it->apartment != apartment) return RPC_E_WRONG_THREAD;
      object = it->object;
      list.erase(it);
      break;
    }
  }
  if (object == nullptr) return E_INVALIDARG;
  object->Release();
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context,
                         REFIID iid, LPVOID* result) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  if (HRESULT hooked =
          win32_standin::internal::ComCallHook("CoCreateInstance", &clsid);
      FAILED(hooked)) {
    return hooked;
  }
  const uint64_t apartment = win32_standin::internal::CurrentApartmentId();
  if (apartment == 0) return CO_E_NOTINITIALIZED;
  int32_t injected;
  if (win32_standin::TakeCreateFailure(clsid, &injected)) return injected;

  IUnknown* object = nullptr;
  {
    std::lock_guard<std::mutex> lock(Table().mutex);
    for (const auto& entry : Table().registrations) {
      if (entry.apartment == apartment && (entry.context & context) != 0 &&
          entry.clsid == clsid) {
        object = entry.object;
        object->AddRef();
        break;
      }
    }
  }
  if (object == nullptr) return REGDB_E_CLASSNOTREG;
  IClassFactory* factory = nullptr;
  HRESULT hr = object->QueryInterface(IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory));
  object->Release();
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, iid, result);
  factory->Release();
  return hr;
}
