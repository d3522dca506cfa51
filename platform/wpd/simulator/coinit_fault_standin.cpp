// On the Linux stand-in, CoInitializeEx failures are injected through the
// stand-in's control surface. It fails the next calls, so a fault that lets
// calls through first cannot be expressed there.
#include <portabledeviceapi.h>
#include <win32_standin/control.h>

#include <cstdio>

#include "platform/wpd/simulator/call_log.h"
#include "platform/wpd/simulator/coinit_fault.h"

namespace wpd_sim {

bool SetCoInitializeFault(Fault fault) {
  if (fault.after != 0) {
    std::fprintf(stderr,
                 "Simulated devices: \"CoInitializeEx\" failures cannot wait "
                 "for earlier calls; ignored\n");
    return false;
  }
  win32_standin::FailCoInitializeEx(fault.hresult, -1);
  return true;
}

void ClearCoInitializeFault() { win32_standin::FailCoInitializeEx(S_OK, 0); }

namespace {

// The class a CoCreateInstance asks for, named as its fault call is.
const char* ClassName(const CLSID* clsid) {
  if (clsid == nullptr) return "";
  const struct {
    const CLSID* clsid;
    Call call;
  } kClasses[] = {
      {&CLSID_PortableDeviceManager, Call::kCreateManager},
      {&CLSID_PortableDeviceFTM, Call::kCreateDevice},
      {&CLSID_PortableDevice, Call::kCreateDevice},
      {&CLSID_PortableDeviceValues, Call::kCreateValues},
      {&CLSID_PortableDeviceKeyCollection, Call::kCreateKeyCollection},
      {&CLSID_PortableDevicePropVariantCollection,
       Call::kCreatePropVariantCollection},
  };
  for (const auto& entry : kClasses) {
    if (IsEqualGUID(*entry.clsid, *clsid)) return CallName(entry.call);
  }
  return "other";
}

}  // namespace

void LogComRuntimeCalls(bool on) {
  if (!on) {
    win32_standin::SetComCallHook(nullptr);
    return;
  }
  win32_standin::SetComCallHook([](const char* call, const CLSID* clsid) {
    return LogCall(call, [&] { return std::string(ClassName(clsid)); })
        .value_or(S_OK);
  });
}

}  // namespace wpd_sim
