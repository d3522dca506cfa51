// On the Linux stand-in, CoInitializeEx failures are injected through the
// stand-in's control surface. It fails the next calls, so a fault that lets
// calls through first cannot be expressed there.
#include <win32_standin/control.h>

#include <cstdio>

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

}  // namespace wpd_sim
