// On Windows CoInitializeEx belongs to the system; the simulator cannot make
// it fail for the process, so the request is reported and ignored.
#include <cstdio>

#include "platform/wpd/simulator/coinit_fault.h"

namespace wpd_sim {

bool SetCoInitializeFault(Fault) {
  std::fprintf(stderr,
               "Simulated devices: \"CoInitializeEx\" failures can only be "
               "injected on the Linux stand-in; ignored\n");
  return false;
}

void ClearCoInitializeFault() {}

void LogComRuntimeCalls(bool) {}

}  // namespace wpd_sim
