// Injecting CoInitializeEx failures is a matter of the COM runtime, not of
// the WPD classes: the Linux stand-in offers it, Windows cannot.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_COINIT_FAULT_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_COINIT_FAULT_H_

#include "platform/wpd/simulator/model.h"

namespace wpd_sim {

// Makes CoInitializeEx fail as `fault` says, on every thread of the process.
// Returns false (after saying so on standard error) where that is not
// possible.
bool SetCoInitializeFault(Fault fault);
void ClearCoInitializeFault();

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_COINIT_FAULT_H_
