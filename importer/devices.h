// Which devices the importer sees. On Windows: the system's portable
// devices, unless SNAPFERRY_DEVICES names a fixture or --demo asks for the
// simulated ones. Elsewhere the simulated devices are the only ones.

#ifndef SNAPFERRY_IMPORTER_DEVICES_H_
#define SNAPFERRY_IMPORTER_DEVICES_H_

#include <memory>

namespace wpd_sim {
class Simulator;
}

namespace importer {

// The simulator to keep alive for the import, or null for the system's
// devices.
std::unique_ptr<wpd_sim::Simulator> StartDevices(bool demo);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_DEVICES_H_
