// Bulk property reads: the IPortableDevicePropertiesBulk a properties object
// of a device with DeviceSpec::bulk answers for. Internal to the simulator
// library.
//
// QueueGetValuesByObjectList copies the ids and keys and holds the callback;
// Start runs the request on a thread of the Simulator's own, never the
// caller's: OnStart, OnProgress with a values collection per batch of up to
// kBulkBatchSize objects, OnEnd with the status. Each object's values are
// WPD_OBJECT_ID and what GetValues gives for it with the same keys; an
// object GetValues fails holds the failure in each asked-for property.
// Nothing of the model is locked while the callback is told.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_BULK_PROPERTIES_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_BULK_PROPERTIES_H_

#include <memory>
#include <vector>

#include "platform/wpd/simulator/com_support.h"
#include "platform/wpd/simulator/session.h"
#include "platform/wpd/simulator/values.h"

namespace wpd_sim {

inline constexpr size_t kBulkBatchSize = 100;

// The requests of one properties object, shared by the bulk objects it
// hands out: a context queued through one can be started through another.
class BulkRequests;
std::shared_ptr<BulkRequests> NewBulkRequests();

// A bulk object for `owner` (the properties object, held while the bulk
// object lives, and answering every other interface, IUnknown included).
IPortableDevicePropertiesBulk* NewBulkProperties(
    std::shared_ptr<SimState> sim, std::shared_ptr<Session> session,
    IUnknown* owner, std::shared_ptr<BulkRequests> requests);

// From device_objects.cpp, so that both paths give the same values.
//
// Under the device's lock: what GetValues gives for `node` (kNoNode for an
// id the device does not know), after the GetValues faults: the failure, or
// S_OK / S_FALSE with *out holding `wanted` (or with `all` every property
// the object has); `unreadable` makes each asked-for property E_FAIL.
HRESULT ObjectValuesLocked(const std::shared_ptr<SimState>& sim,
                           const std::shared_ptr<DeviceState>& device,
                           uint32_t node, const std::vector<PROPERTYKEY>& wanted,
                           bool all, bool unreadable, Values** out);
// Every property a simulated object can carry, WPD_OBJECT_ID first.
const std::vector<PROPERTYKEY>& ObjectKeys();
// The keys of a caller's collection (not recorded by the call log while a
// call_log::Internal lives), or ObjectKeys() for none.
HRESULT ReadKeys(IPortableDeviceKeyCollection* keys,
                 std::vector<PROPERTYKEY>* wanted);

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_BULK_PROPERTIES_H_
