#include "platform/wpd/simulator/simulator.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/wpd/simulator/coinit_fault.h"
#include "platform/wpd/simulator/com_support.h"

namespace wpd_sim {

// --- faults and state ------------------------------------------------------

void FaultTable::Set(Call call, Fault fault) {
  for (Slot& slot : slots_) {
    if (slot.call == call) {
      slot = Slot{call, fault, 0};
      return;
    }
  }
  slots_.push_back(Slot{call, fault, 0});
}

bool FaultTable::Clear(Call call) {
  for (auto it = slots_.begin(); it != slots_.end(); ++it) {
    if (it->call == call) {
      slots_.erase(it);
      return true;
    }
  }
  return false;
}

const Fault* FaultTable::Strike(Call call) {
  for (Slot& slot : slots_) {
    if (slot.call != call) continue;
    if (++slot.calls <= slot.fault.after) return nullptr;
    return &slot.fault;
  }
  return nullptr;
}

const Fault* FaultTable::Find(Call call) const {
  for (const Slot& slot : slots_) {
    if (slot.call == call) return &slot.fault;
  }
  return nullptr;
}

DeviceState::DeviceState(DeviceSpec device) : setup(std::move(device)) {
  for (const auto& [call, fault] : setup.faults) faults.Set(call, fault);
  setup.faults.clear();
  locked = setup.locked || setup.unlock_after_ms.has_value();
  if (setup.unlock_after_ms) {
    unlock_at = std::chrono::steady_clock::now() +
                std::chrono::milliseconds(*setup.unlock_after_ms);
  }
  reset = setup.reset;
  ObjectNode& root = nodes.emplace_back();
  root.setup.id = WPD_DEVICE_OBJECT_ID;
  root.setup.parent.clear();
  root.setup.content_type = ContentType::kFunctional;
  root.setup.name = setup.friendly_name.value_or(WPD_DEVICE_OBJECT_ID);
  root.fixture_id = root.setup.id;
  index.emplace(root.setup.id, kRootNode);
  std::deque<ObjectSpec> objects = std::move(setup.objects);
  setup.objects.clear();
  for (ObjectSpec& object : objects) {
    auto parent = index.find(object.parent);
    if (parent == index.end()) continue;  // ValidateFixture rules this out
    auto node = static_cast<uint32_t>(nodes.size());
    ObjectNode& added = nodes.emplace_back();
    added.setup = std::move(object);
    added.fixture_id = added.setup.id;
    added.parent = parent->second;
    if (added.setup.container) {
      auto container = index.find(*added.setup.container);
      if (container != index.end()) added.container = container->second;
    }
    if (!added.setup.faults.empty()) {
      added.faults = std::make_unique<FaultTable>();
      for (const auto& [call, fault] : added.setup.faults) {
        added.faults->Set(call, fault);
      }
      added.setup.faults.clear();
      added.setup.faults.shrink_to_fit();
    }
    nodes[added.parent].children.push_back(node);
    index.emplace(added.setup.id, node);
  }
}

uint32_t DeviceState::Find(std::wstring_view id) const {
  if (id.empty()) return kRootNode;
  auto found = index.find(id);
  return found == index.end() ? kNoNode : found->second;
}

bool DeviceState::Strike(uint32_t node, Call call, HRESULT* hresult) {
  FaultTable* table = &faults;
  if (node != kNoNode && nodes[node].faults != nullptr &&
      nodes[node].faults->Find(call) != nullptr) {
    table = nodes[node].faults.get();
  }
  const Fault* fault = table->Strike(call);
  // The fixture's own faults first, so that their call counts stay exact.
  if (fault == nullptr) {
    return owner != nullptr && owner->random.Strike(call, hresult);
  }
  if (fault->action == Fault::Action::kUnplug) {
    UnplugLocked();
    *hresult = setup.gone_hresult;
  } else {
    *hresult = fault->hresult;
  }
  return true;
}

bool DeviceState::IsStorage(uint32_t node) const {
  return node != kRootNode && node != kNoNode &&
         nodes[node].parent == kRootNode &&
         nodes[node].setup.content_type == ContentType::kFunctional;
}

bool DeviceState::InReadOnlyStorage(uint32_t node) const {
  for (; node != kRootNode && node != kNoNode; node = nodes[node].parent) {
    if (IsStorage(node)) {
      const std::optional<uint32_t>& access = nodes[node].setup.storage_access;
      return access &&
             *access ==
                 WPD_STORAGE_ACCESS_CAPABILITY_READ_ONLY_WITHOUT_OBJECT_DELETION;
    }
  }
  return false;
}

bool DeviceState::HidesContent() const {
  if (reset) return true;
  if (!locked) return false;
  return !unlock_at || std::chrono::steady_clock::now() < *unlock_at;
}

bool DeviceState::Listed() const {
  return live_connection.load() != 0 ||
         std::chrono::steady_clock::now().time_since_epoch().count() <
             listed_until.load();
}

void DeviceState::UnplugLocked() {
  const uint32_t ended = live_connection.exchange(0);
  if (ended != 0) {
    listed_until.store((std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(setup.notice_unplug_after_ms))
                           .time_since_epoch()
                           .count());
  }
  if (owner == nullptr) return;
  owner->Wake();
  RaiseLocked(WPD_EVENT_DEVICE_REMOVED, ended);
  owner->BroadcastDeviceChange(false, setup.id);
}

void DeviceState::PlugLocked() {
  ++connections;
  reset = false;
  // Every object gets an id it never had; the device's own stays.
  const std::wstring suffix = L"~" + std::to_wstring(connections);
  index.clear();
  index.emplace(nodes[kRootNode].setup.id, kRootNode);
  const size_t objects = nodes.size() - 1;
  for (uint32_t node = 1; node < nodes.size(); ++node) {
    ObjectNode& object = nodes[node];
    if (setup.reuses_ids_on_replug) {
      // Deleted objects' ids go round too, as a device's freed handles do.
      const size_t from = (node - 1 + connections - 1) % objects + 1;
      object.setup.id = nodes[from].fixture_id;
    } else {
      object.setup.id = object.fixture_id + suffix;
    }
  }
  for (uint32_t node = 1; node < nodes.size(); ++node) {
    if (!nodes[node].deleted) index.emplace(nodes[node].setup.id, node);
  }
  live_connection.store(connections);
  if (owner != nullptr) owner->BroadcastDeviceChange(true, setup.id);
}

const Fault* DeviceState::FindFault(uint32_t node, Call call) const {
  if (node != kNoNode && nodes[node].faults != nullptr) {
    if (const Fault* fault = nodes[node].faults->Find(call)) return fault;
  }
  return faults.Find(call);
}

SimState::SimState() {
  for (auto& count : live) count.store(0);
  for (auto& count : calls) count.store(0);
}

bool SimState::StrikeProcess(Call call, HRESULT* hresult) {
  Count(call);
  {
    std::lock_guard<std::mutex> lock(mu);
    if (const Fault* fault = process_faults.Strike(call)) {
      *hresult = fault->hresult;
      return true;
    }
  }
  return random.Strike(call, hresult);
}

std::shared_ptr<DeviceState> SimState::FindDevice(std::wstring_view id) const {
  std::lock_guard<std::mutex> lock(mu);
  for (const auto& device : devices) {
    if (device->setup.id == id) return device;
  }
  return nullptr;
}

std::vector<std::shared_ptr<DeviceState>> SimState::Snapshot() const {
  std::lock_guard<std::mutex> lock(mu);
  std::vector<std::shared_ptr<DeviceState>> plugged;
  for (const auto& device : devices) {
    if (device->Listed()) plugged.push_back(device);
  }
  return plugged;
}

// --- registration ----------------------------------------------------------

// Registers the class factories from a multithreaded apartment that a thread
// of our own keeps alive: COM revokes registrations when the apartment that
// made them goes away, and the test's threads come and go.
class Registration {
 public:
  explicit Registration(std::vector<ClassEntry> factories)
      : factories_(std::move(factories)) {
    thread_ = std::thread([this] { Run(); });
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return ready_; });
  }
  ~Registration() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  HRESULT result() const { return result_; }

 private:
  void Run() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool joined = SUCCEEDED(hr);
    std::vector<DWORD> cookies;
    if (joined) {
      for (const ClassEntry& entry : factories_) {
        DWORD cookie = 0;
        hr = CoRegisterClassObject(*entry.clsid, entry.factory,
                                   CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                   &cookie);
        if (FAILED(hr)) break;
        cookies.push_back(cookie);
      }
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      result_ = FAILED(hr) ? hr : S_OK;
      ready_ = true;
      if (FAILED(hr)) stop_ = true;
    }
    cv_.notify_all();
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return stop_; });
    }
    for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
    for (const ClassEntry& entry : factories_) entry.factory->Release();
    if (joined) CoUninitialize();
  }

  std::vector<ClassEntry> factories_;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool ready_ = false;
  bool stop_ = false;
  HRESULT result_ = S_OK;
};

ApartmentRegistration::ApartmentRegistration(std::shared_ptr<SimState> state) {
  for (const ClassEntry& entry : MakeClassFactories(std::move(state))) {
    factories_.push_back(entry.factory);
    if (FAILED(result_)) continue;
    DWORD cookie = 0;
    result_ =
        CoRegisterClassObject(*entry.clsid, entry.factory, CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(result_)) cookies_.push_back(cookie);
  }
}

ApartmentRegistration::~ApartmentRegistration() {
  for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
  for (IClassFactory* factory : factories_) factory->Release();
}

// --- Simulator -------------------------------------------------------------

namespace {

std::atomic<bool> g_registered{false};

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace

const char* ObjectKindName(ObjectKind kind) {
  static const char* const kNames[kObjectKindCount] = {
      "manager",       "device",
      "content",       "properties",
      "resources",     "enumerator",
      "stream",        "values",
      "keyCollection", "propVariantCollection",
      "valuesCollection", "bulkProperties"};
  return kNames[static_cast<int>(kind)];
}

Simulator::Simulator(Fixture fixture) : state_(std::make_shared<SimState>()) {
  if (!ValidateFixture(fixture, &error_)) return;
  if (g_registered.exchange(true)) {
    error_ = "another wpd_sim::Simulator is already registered";
    return;
  }
  owns_registration_ = true;
  for (DeviceSpec& device : fixture.devices) {
    state_->devices.push_back(std::make_shared<DeviceState>(std::move(device)));
    state_->devices.back()->owner = state_.get();
  }
  state_->get_devices_overcount = fixture.get_devices_overcount;
  state_->random.Set(std::move(fixture.random_faults));
  // Registered first: the registration joins COM itself, which an injected
  // CoInitializeEx failure would refuse.
  registration_ = std::make_unique<Registration>(MakeClassFactories(state_));
  if (FAILED(registration_->result())) {
    error_ = "CoRegisterClassObject failed (HRESULT " +
             HresultText(registration_->result()) + ")";
    return;
  }
  for (const auto& [call, fault] : fixture.faults) SetProcessFault(call, fault);
  state_->StartEventThread(state_);
}

Simulator::~Simulator() {
  state_->StopEventThread();
  // Reads and bulk requests still hung wake up; the objects keep the state
  // alive.
  state_->stopping.store(true);
  state_->Wake();
  state_->StopBulkThreads();
  registration_.reset();
  if (owns_registration_) {
    ClearCoInitializeFault();
    g_registered.store(false);
  }
}

int64_t Simulator::LiveObjects() const {
  int64_t total = 0;
  for (const auto& count : state_->live) total += count.load();
  return total;
}

int64_t Simulator::LiveObjects(ObjectKind kind) const {
  return state_->live[static_cast<int>(kind)].load();
}

std::string Simulator::LiveObjectsText() const {
  std::ostringstream text;
  for (int i = 0; i < kObjectKindCount; ++i) {
    int64_t count = state_->live[i].load();
    if (count == 0) continue;
    if (text.tellp() > 0) text << ' ';
    text << ObjectKindName(static_cast<ObjectKind>(i)) << '=' << count;
  }
  return text.str();
}

int64_t Simulator::OpenWithoutClose() const {
  return state_->open_without_close.load();
}

int Simulator::OpenSessions(const std::wstring& device_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return 0;
  std::lock_guard<std::mutex> lock(device->mu);
  return device->open_sessions;
}

LinkCounts Simulator::LinkUse(const std::wstring& device_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  return device == nullptr ? LinkCounts{} : device->link.Counts();
}

uint64_t Simulator::RandomFaultsInjected() const {
  return state_->random.injected();
}

uint64_t Simulator::Calls(Call call) const {
  return state_->calls[static_cast<int>(call)].load();
}

std::optional<ClientInfo> Simulator::LastClientInfo(
    const std::wstring& device_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> lock(device->mu);
  return device->last_client;
}

bool Simulator::HasObject(const std::wstring& device_id,
                          const std::wstring& object_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return false;
  std::lock_guard<std::mutex> lock(device->mu);
  return device->index.count(object_id) > 0;
}

std::vector<std::wstring> Simulator::Children(
    const std::wstring& device_id, const std::wstring& parent_id) const {
  std::vector<std::wstring> ids;
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return ids;
  std::lock_guard<std::mutex> lock(device->mu);
  uint32_t node = device->Find(parent_id);
  if (node == kNoNode) return ids;
  for (uint32_t child : device->nodes[node].children) {
    ids.push_back(device->nodes[child].setup.id);
  }
  return ids;
}

bool Simulator::SetProcessFault(Call call, Fault fault) {
  if (ScopeOf(call) != CallScope::kProcess) return false;
  if (call == Call::kCoInitializeEx) return SetCoInitializeFault(fault);
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->process_faults.Set(call, fault);
  return true;
}

bool Simulator::SetDeviceFault(const std::wstring& device_id, Call call,
                               Fault fault) {
  if (ScopeOf(call) == CallScope::kProcess) return false;
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return false;
  std::lock_guard<std::mutex> lock(device->mu);
  device->faults.Set(call, fault);
  return true;
}

bool Simulator::SetObjectFault(const std::wstring& device_id,
                               const std::wstring& object_id, Call call,
                               Fault fault) {
  if (ScopeOf(call) != CallScope::kObject) return false;
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return false;
  std::lock_guard<std::mutex> lock(device->mu);
  uint32_t node = device->Find(object_id);
  if (node == kNoNode) return false;
  ObjectNode& object = device->nodes[node];
  if (object.faults == nullptr) object.faults = std::make_unique<FaultTable>();
  object.faults->Set(call, fault);
  return true;
}

bool Simulator::SetOpenResult(const std::wstring& device_id, HRESULT hresult) {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return false;
  std::lock_guard<std::mutex> lock(device->mu);
  device->setup.open_hresult = hresult;
  return true;
}

void Simulator::SetRandomFaults(RandomFaults faults) {
  state_->random.Set(std::move(faults));
}

void Simulator::ClearFaults() {
  if (owns_registration_) ClearCoInitializeFault();
  state_->random.Set(RandomFaults());
  std::vector<std::shared_ptr<DeviceState>> devices;
  {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->process_faults = FaultTable();
    devices = state_->devices;
  }
  for (const auto& device : devices) {
    std::lock_guard<std::mutex> lock(device->mu);
    device->faults = FaultTable();
    for (ObjectNode& node : device->nodes) node.faults.reset();
  }
}

bool Simulator::AddDevice(DeviceSpec device) {
  Fixture check;
  check.devices.push_back(device);
  std::string why;
  if (!ValidateFixture(check, &why)) return false;
  auto state = std::make_shared<DeviceState>(std::move(device));
  state->owner = state_.get();
  {
    std::lock_guard<std::mutex> lock(state_->mu);
    for (const auto& known : state_->devices) {
      if (known->setup.id == state->setup.id) return false;
    }
    state_->devices.push_back(state);
  }
  state_->BroadcastDeviceChange(true, state->setup.id);
  return true;
}

bool Simulator::RemoveDevice(const std::wstring& device_id) {
  return Unplug(device_id);
}

namespace {

// Runs `change` on the device under its lock: false for an unknown device,
// else what `change` says.
template <class Change>
bool ChangeDevice(SimState& state, const std::wstring& device_id,
                  Change change) {
  std::shared_ptr<DeviceState> device = state.FindDevice(device_id);
  if (device == nullptr) return false;
  std::lock_guard<std::mutex> lock(device->mu);
  return change(*device);
}

bool Plugged(const DeviceState& device) {
  return device.live_connection.load() != 0;
}

}  // namespace

bool Simulator::Unplug(const std::wstring& device_id) {
  return ChangeDevice(*state_, device_id, [](DeviceState& device) {
    if (!Plugged(device)) return false;
    device.UnplugLocked();
    return true;
  });
}

bool Simulator::Plug(const std::wstring& device_id) {
  return ChangeDevice(*state_, device_id, [](DeviceState& device) {
    if (Plugged(device)) return false;
    device.PlugLocked();
    return true;
  });
}

bool Simulator::Replug(const std::wstring& device_id) {
  return ChangeDevice(*state_, device_id, [](DeviceState& device) {
    if (Plugged(device)) device.UnplugLocked();
    device.PlugLocked();
    return true;
  });
}

bool Simulator::Lock(const std::wstring& device_id) {
  return ChangeDevice(*state_, device_id, [](DeviceState& device) {
    device.locked = true;
    device.unlock_at.reset();
    return true;
  });
}

bool Simulator::Unlock(const std::wstring& device_id) {
  return ChangeDevice(*state_, device_id, [](DeviceState& device) {
    device.locked = false;
    device.unlock_at.reset();
    return true;
  });
}

bool Simulator::Reset(const std::wstring& device_id) {
  return ChangeDevice(*state_, device_id, [](DeviceState& device) {
    device.reset = true;
    if (Plugged(device)) {
      device.RaiseLocked(WPD_EVENT_DEVICE_RESET, device.live_connection.load());
    }
    return true;
  });
}

bool Simulator::IsPlugged(const std::wstring& device_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  return device != nullptr && Plugged(*device);
}

uint32_t Simulator::Connections(const std::wstring& device_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return 0;
  std::lock_guard<std::mutex> lock(device->mu);
  return device->connections;
}

std::wstring Simulator::ObjectId(const std::wstring& device_id,
                                 const std::wstring& fixture_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return std::wstring();
  std::lock_guard<std::mutex> lock(device->mu);
  for (const ObjectNode& node : device->nodes) {
    if (node.fixture_id == fixture_id) {
      return node.deleted ? std::wstring() : node.setup.id;
    }
  }
  return std::wstring();
}

int Simulator::BlockedReads() const { return state_->blocked_reads.load(); }

int Simulator::Advises(const std::wstring& device_id) const {
  std::shared_ptr<DeviceState> device = state_->FindDevice(device_id);
  if (device == nullptr) return 0;
  std::lock_guard<std::mutex> lock(device->mu);
  return static_cast<int>(device->advices.size());
}

int64_t Simulator::AdvisesLeftAtClose() const {
  return state_->advises_left_at_close.load();
}

void Simulator::WaitForEventDelivery() const { state_->WaitForEventDelivery(); }

std::unique_ptr<ApartmentRegistration> Simulator::RegisterInCurrentApartment()
    const {
  return std::make_unique<ApartmentRegistration>(state_);
}

std::unique_ptr<Simulator> StartFromEnvironment() {
  auto simulator = std::make_unique<Simulator>(FixtureFromEnvironment());
  if (!simulator->ok()) {
    std::fprintf(stderr, "Simulated devices unavailable: %s\n",
                 simulator->error().c_str());
  }
  return simulator;
}

}  // namespace wpd_sim
