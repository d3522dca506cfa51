// Linked into the windowed program only on builds with the in-process
// engine: starts the simulated devices (SNAPFERRY_DEVICES, or the built-in
// demo devices) before wWinMain runs, so that a script finds them. The
// program's own code knows nothing of it.

#include "platform/wpd/simulator/simulator.h"

namespace {

const bool devices_ready = [] {
  // Never destroyed: detached workers may still use the devices while the
  // process ends.
  static wpd_sim::Simulator* simulator =
      wpd_sim::StartFromEnvironment().release();
  return simulator != nullptr;
}();

}  // namespace
