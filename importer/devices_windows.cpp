#include <cstdlib>

#include "importer/devices.h"
#include "platform/wpd/simulator/simulator.h"

namespace importer {

std::unique_ptr<wpd_sim::Simulator> StartDevices(bool demo) {
  const char* fixture = std::getenv("SNAPFERRY_DEVICES");
  if (!demo && (fixture == nullptr || *fixture == '\0')) return nullptr;
  return wpd_sim::StartFromEnvironment();
}

}  // namespace importer
