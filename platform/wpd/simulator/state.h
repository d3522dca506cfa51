// The simulator's shared runtime state: the devices' object trees, the
// faults, the accounting. Internal to the simulator library.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_STATE_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_STATE_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
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
  // For call-counted sites: counts the call and returns the fault that
  // strikes, if any.
  const Fault* Strike(Call call);
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
  ObjectSpec setup;         // setup.faults is moved into `faults`
  std::wstring fixture_id;  // setup.id on the first connection
  uint32_t parent = kNoNode;
  uint32_t container = kNoNode;  // setup.container's node
  std::vector<uint32_t> children;
  std::unique_ptr<FaultTable> faults;  // only for objects that have faults
  bool deleted = false;
};

// One Advise not yet undone: the session it was made on, the connection
// that session belongs to, and the callback, whose reference it holds.
struct Advice {
  std::wstring cookie;
  const void* session;
  uint32_t connection;
  IPortableDeviceEventCallback* callback;
};

// One device's model. `mu` guards everything below it but the atomics;
// object data is immutable and shared with streams, which read it without
// the lock.
struct SimState;

struct DeviceState {
  explicit DeviceState(DeviceSpec setup);

  mutable std::mutex mu;
  DeviceSpec setup;              // setup.objects and setup.faults are moved out
  std::deque<ObjectNode> nodes;  // [0] is the root, "DEVICE"
  std::unordered_map<std::wstring_view, uint32_t> index;  // live objects
  FaultTable faults;
  std::optional<ClientInfo> last_client;
  int open_sessions = 0;
  LinkClock link{setup.link};  // its own lock; calls wait outside mu

  // The connection model. Each plug-in starts a connection, numbered from
  // 1; `live_connection` is its number while plugged in, 0 while not.
  // Sessions remember the connection they were opened on and answer the
  // gone code once it has ended.
  std::atomic<uint32_t> live_connection{1};
  // While unplugged: until when (steady clock ticks) it is still listed and
  // opens (DeviceSpec::notice_unplug_after_ms).
  std::atomic<int64_t> listed_until{0};
  uint32_t connections = 1;
  bool locked = false;
  std::optional<std::chrono::steady_clock::time_point> unlock_at;
  bool reset = false;
  SimState* owner = nullptr;  // told when a connection ends
  std::vector<Advice> advices;

  // Under mu: queues `event` for every session advised on `connection`.
  void RaiseLocked(const GUID& event, uint32_t connection);

  // Under mu. kNoNode for unknown or deleted ids; "" names the root too.
  uint32_t Find(std::wstring_view id) const;
  // Under mu: the fault that strikes `call` on the object (its own, else
  // the device's), counting the call. A kUnplug fault unplugs the device and
  // answers the gone code.
  bool Strike(uint32_t node, Call call, HRESULT* hresult);
  const Fault* FindFault(uint32_t node, Call call) const;

  // Plugged in, or unplugged so recently that the system has not noticed.
  bool Listed() const;

  // Under mu. Storages (functional objects below the root) list nothing
  // while the device is locked or reset.
  bool HidesContent() const;
  bool IsStorage(uint32_t node) const;
  // Under mu: whether the storage the object lies in (or is) refuses
  // deletion (WPD_STORAGE_ACCESS_CAPABILITY 1).
  bool InReadOnlyStorage(uint32_t node) const;
  // Under mu: ends the connection (its advised sessions are told
  // WPD_EVENT_DEVICE_REMOVED), or starts a new one in which every object has
  // a new id (the fixture's id followed by "~" and the connection number),
  // or, with DeviceSpec::reuses_ids_on_replug, another object's first id.
  // Either is broadcast to the windows registered for WPD interfaces.
  void UnplugLocked();
  void PlugLocked();
};

struct SimState {
  SimState();

  mutable std::mutex mu;  // guards devices and process_faults
  std::vector<std::shared_ptr<DeviceState>> devices;
  FaultTable process_faults;
  uint32_t get_devices_overcount = 0;  // set before registration
  RandomFaultSource random;            // its own lock

  std::atomic<int64_t> live[kObjectKindCount];
  std::atomic<int64_t> open_without_close{0};
  std::atomic<uint64_t> calls[kCallCount];

  // Blocked calls (a hung Read) wait on wake_cv and look again whenever a
  // Cancel, Close, unplug or the Simulator's end is announced by Wake().
  // Nothing else is held while waiting.
  std::mutex wake_mu;
  std::condition_variable wake_cv;
  std::atomic<bool> stopping{false};
  std::atomic<int> blocked_reads{0};
  void Wake() {
    { std::lock_guard<std::mutex> lock(wake_mu); }
    wake_cv.notify_all();
  }

  // Device events. Advised callbacks are told on a thread of their own, as
  // WPD tells them, holding no lock of the model: raising only queues.
  struct EventDelivery {
    IPortableDeviceEventCallback* callback;  // owned reference
    GUID event;
    std::wstring device_id;
  };
  std::mutex events_mu;  // guards the four below
  std::condition_variable events_cv;
  std::deque<EventDelivery> events;
  bool events_busy = false;  // a callback is being told
  bool events_open = false;  // the delivering thread runs
  std::thread events_thread;
  std::atomic<int64_t> advises_left_at_close{0};
  std::atomic<uint64_t> next_cookie{0};
  // Takes over the callback's reference; dropped when no thread delivers.
  void QueueEvent(EventDelivery delivery);
  // The delivering thread; `self` is this state, for the values it hands
  // out. Stop drops what was not delivered yet.
  void StartEventThread(std::shared_ptr<SimState> self);
  void StopEventThread();
  // Until every event queued so far has been told and let go of.
  void WaitForEventDelivery();
  // Tells the windows registered for WPD device interfaces (on the
  // stand-in; on Windows nobody, see device_broadcast_windows.cpp).
  void BroadcastDeviceChange(bool arrived, const std::wstring& device_id);

  // Bulk requests run on threads of the Simulator's own, one per request
  // started, kept here so that none outlives the Simulator: a thread that
  // ended is joined when the next one starts (never by itself), and
  // StopBulkThreads, at the Simulator's end, joins the rest once `stopping`
  // woke the hung ones. The callback is told on those threads, so a last
  // Release there never has a thread to join.
  std::mutex bulk_mu;  // guards the two below
  struct BulkThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<BulkThread> bulk_threads;
  bool bulk_open = true;
  std::atomic<uint32_t> next_bulk_context{0};
  // Runs `work` on a thread of its own; false once the Simulator is going.
  bool RunBulk(std::function<void()> work);
  void StopBulkThreads();

  void Count(Call call) {
    calls[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed);
  }
  // Counts the call and tells whether a process-wide fault strikes.
  bool StrikeProcess(Call call, HRESULT* hresult);
  // Any device the model knows, plugged in or not.
  std::shared_ptr<DeviceState> FindDevice(std::wstring_view id) const;
  // The devices plugged in now, as a device manager lists them.
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
