// The simulator's shared runtime state: the devices' object trees, the
// faults, the accounting. Internal to the simulator library.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_STATE_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_STATE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/wpd/simulator/simulator.h"

namespace wpd_sim {

// Faults of one scope, with the count of calls each has seen.
class FaultTable {
 public:
  void Set(Call call, Fault fault);
  bool Clear(Call call);
  bool empty() const { return slots_.empty(); }
  // For call-counted sites: counts the call and tells whether it fails.
  bool Strike(Call call, HRESULT* hresult);
  // For Read and Next, whose limit is counted by the stream or enumerator.
  const Fault* Find(Call call) const;

 private:
  struct Slot {
    Call call;
    Fault fault;
    uint64_t calls = 0;
  };
  std::vector<Slot> slots_;
};

constexpr uint32_t kRootNode = 0;
constexpr uint32_t kNoNode = UINT32_MAX;

struct ObjectNode {
  ObjectSpec setup;  // setup.faults is moved into `faults`
  uint32_t parent = kNoNode;
  std::vector<uint32_t> children;
  std::unique_ptr<FaultTable> faults;  // only for objects that have faults
  bool deleted = false;
};

// One device's model. `mu` guards everything below it; object data is
// immutable and shared with streams, which read it without the lock.
struct DeviceState {
  explicit DeviceState(DeviceSpec setup);

  mutable std::mutex mu;
  DeviceSpec setup;              // setup.objects and setup.faults are moved out
  std::deque<ObjectNode> nodes;  // [0] is the root, "DEVICE"
  std::unordered_map<std::wstring_view, uint32_t> index;  // live objects
  FaultTable faults;
  std::optional<ClientInfo> last_client;
  int open_sessions = 0;

  // Under mu. kNoNode for unknown or deleted ids; "" names the root too.
  uint32_t Find(std::wstring_view id) const;
  // Under mu: the object's fault for `call`, else the device's.
  bool Strike(uint32_t node, Call call, HRESULT* hresult);
  const Fault* FindFault(uint32_t node, Call call) const;
};

struct SimState {
  SimState();

  mutable std::mutex mu;  // guards devices and process_faults
  std::vector<std::shared_ptr<DeviceState>> devices;
  FaultTable process_faults;

  std::atomic<int64_t> live[kObjectKindCount];
  std::atomic<int64_t> open_without_close{0};
  std::atomic<uint64_t> calls[kCallCount];

  void Count(Call call) {
    calls[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed);
  }
  // Counts the call and tells whether a process-wide fault strikes.
  bool StrikeProcess(Call call, HRESULT* hresult);
  std::shared_ptr<DeviceState> FindDevice(std::wstring_view id) const;
  std::vector<std::shared_ptr<DeviceState>> Snapshot() const;
};

// The class factories for the registered class ids, in registration order.
struct ClassEntry {
  const CLSID* clsid;
  IClassFactory* factory;  // owned reference
};
std::vector<ClassEntry> MakeClassFactories(std::shared_ptr<SimState> state);

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_STATE_H_
