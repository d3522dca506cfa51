#include "importer/devices.h"
#include "platform/wpd/simulator/simulator.h"

namespace importer {

std::unique_ptr<wpd_sim::Simulator> StartDevices(bool /*demo*/) {
  return wpd_sim::StartFromEnvironment();
}

}  // namespace importer
