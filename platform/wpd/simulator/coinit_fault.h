// Injecting CoInitializeEx failures, and seeing the COM runtime's calls, is a
// matter of the COM runtime, not of the WPD classes: the Linux stand-in
// offers it, Windows cannot.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_COINIT_FAULT_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_COINIT_FAULT_H_

#include "platform/wpd/simulator/model.h"

namespace wpd_sim {

// Makes CoInitializeEx fail as `fault` says, on every thread of the process.
// Returns false (after saying so on standard error) where that is not
// possible.
bool SetCoInitializeFault(Fault fault);
void ClearCoInitializeFault();

// Records CoInitializeEx, CoUninitialize and CoCreateInstance in the call
// log (call_log.h) while on, where the COM runtime lets us see them (the
// Linux stand-in; Windows does not).
void LogComRuntimeCalls(bool on);

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_COINIT_FAULT_H_
