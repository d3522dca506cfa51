#include "wpd/device_event_watch.h"

#include <portabledevice.h>

#include <algorithm>
#include <utility>

#include "wpd/com_callback.h"
#include "wpd/com_ptr.h"

namespace snapferry {
namespace {

// One advised session's callback. It holds the sink, not the watch, so an
// event the device tells late (after Unadvise, or after the watch is gone)
// still lands somewhere that exists.
class EventCallback final
    : public ComCallback<IPortableDeviceEventCallback,
                         IID_IPortableDeviceEventCallback> {
 public:
  EventCallback(std::shared_ptr<const DeviceEventSink> sink,
                std::string device_id, uint64_t session)
      : sink_(std::move(sink)),
        device_id_(std::move(device_id)),
        session_(session) {}

  // On the device's thread: only reads the event's id and queues it.
  HRESULT STDMETHODCALLTYPE OnEvent(IPortableDeviceValues* values) override {
    if (values == nullptr) return S_OK;
    GUID event;
    if (FAILED(values->GetGuidValue(WPD_EVENT_PARAMETER_EVENT_ID, &event))) {
      return S_OK;
    }
    DeviceEventKind kind;
    if (IsEqualGUID(event, WPD_EVENT_DEVICE_RESET)) {
      kind = DeviceEventKind::kReset;
    } else if (IsEqualGUID(event, WPD_EVENT_DEVICE_REMOVED)) {
      kind = DeviceEventKind::kRemoved;
    } else {
      return S_OK;
    }
    // Nothing may escape into the system's thread.
    try {
      (*sink_)(device_id_, kind, session_);
    } catch (...) {
    }
    return S_OK;
  }

 private:
  ~EventCallback() override = default;

  const std::shared_ptr<const DeviceEventSink> sink_;
  const std::string device_id_;
  const uint64_t session_;
};

}  // namespace

DeviceEventWatch::DeviceEventWatch(DeviceEventSink sink)
    : sink_(std::make_shared<const DeviceEventSink>(std::move(sink))) {}

DeviceEventWatch::~DeviceEventWatch() {
  // Every operation detaches before it closes, and holds the watch while it
  // runs; what is left here belongs to no session any more.
  for (Entry& entry : entries_) entry.device->Release();
}

void DeviceEventWatch::Attach(IPortableDevice* device,
                              const std::string& device_id) {
  if (device == nullptr) return;
  uint64_t number;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!listening_) return;
    // A session both opened and found kept when the listener came is
    // attached twice; it is advised once.
    if (std::any_of(entries_.begin(), entries_.end(),
                    [device](const Entry& e) { return e.device == device; })) {
      return;
    }
    number = sessions_.fetch_add(1) + 1;
    device->AddRef();
    entries_.push_back({number, device, std::wstring(), true});
  }
  auto* callback = new EventCallback(sink_, device_id, number);
  CoTaskMemString cookie;
  const HRESULT hr = device->Advise(0, callback, nullptr, cookie.Put());
  callback->Release();

  std::unique_lock<std::mutex> lock(mutex_);
  if (FAILED(hr) || cookie.get() == nullptr) {
    // The session goes on without events; the system still tells arrivals
    // and removals.
    Forget(number, lock);
    return;
  }
  auto entry =
      std::find_if(entries_.begin(), entries_.end(),
                   [number](const Entry& e) { return e.number == number; });
  entry->cookie = cookie.get();
  if (listening_) {
    entry->busy = false;
    settled_.notify_all();
    return;
  }
  // The listener went while this was being advised: undone here, since
  // StopListening left it to this thread.
  lock.unlock();
  device->Unadvise(cookie.get());
  lock.lock();
  Forget(number, lock);
}

void DeviceEventWatch::Detach(IPortableDevice* device) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto find = [this, device] {
    return std::find_if(
        entries_.begin(), entries_.end(),
        [device](const Entry& e) { return e.device == device; });
  };
  settled_.wait(lock, [&] {
    auto entry = find();
    return entry == entries_.end() || !entry->busy;
  });
  auto entry = find();
  if (entry == entries_.end()) return;
  const uint64_t number = entry->number;
  const std::wstring cookie = entry->cookie;
  entry->busy = true;
  lock.unlock();
  device->Unadvise(cookie.c_str());
  lock.lock();
  Forget(number, lock);
}

void DeviceEventWatch::StartListening() {
  std::lock_guard<std::mutex> lock(mutex_);
  listening_ = true;
}

void DeviceEventWatch::StopListening() {
  std::vector<Entry> undo;
  std::unique_lock<std::mutex> lock(mutex_);
  listening_ = false;
  for (Entry& entry : entries_) {
    if (entry.busy) continue;
    entry.busy = true;
    undo.push_back(entry);
  }
  lock.unlock();
  for (const Entry& entry : undo) entry.device->Unadvise(entry.cookie.c_str());
  lock.lock();
  for (const Entry& entry : undo) Forget(entry.number, lock);
}

void DeviceEventWatch::Forget(uint64_t number,
                              std::unique_lock<std::mutex>& lock) {
  auto entry =
      std::find_if(entries_.begin(), entries_.end(),
                   [number](const Entry& e) { return e.number == number; });
  if (entry == entries_.end()) return;
  IPortableDevice* device = entry->device;
  entries_.erase(entry);
  settled_.notify_all();
  lock.unlock();
  device->Release();
  lock.lock();
}

}  // namespace snapferry
