// Linked into the program only on builds with the in-process engine: the
// simulated devices (SNAPFERRY_DEVICES, or the built-in demo devices) and the
// engine's import interface as its default. The program's own code knows
// nothing of either; this object wires them in before wWinMain runs.

#include "platform/engine/import_ui/import_interface.h"
#include "platform/engine/inprocess/interface.h"
#include "platform/wpd/simulator/simulator.h"

namespace {

const bool demo_ready = [] {
  engine_inprocess::SetDefaultInterface(&import_ui::CreateImportInterface);
  // Never destroyed: detached workers may still use the devices while the
  // process ends.
  static wpd_sim::Simulator* simulator =
      wpd_sim::StartFromEnvironment().release();
  return simulator != nullptr;
}();

}  // namespace
