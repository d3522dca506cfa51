// Events from the devices themselves: while someone listens, every session
// the operations open anyway is registered with IPortableDevice::Advise, and
// its callback passes WPD_EVENT_DEVICE_RESET and WPD_EVENT_DEVICE_REMOVED on.
// No device is opened only to listen; sessions kept open from before the
// listener came are advised when it comes (DeviceSessions::ForEachOpen).

#ifndef SNAPFERRY_WPD_DEVICE_EVENT_WATCH_H_
#define SNAPFERRY_WPD_DEVICE_EVENT_WATCH_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace snapferry {

enum class DeviceEventKind { kReset, kRemoved };

// Told of one event, on the thread the device tells it on, with the id the
// session was attached under and the session's number (sessions are
// numbered 1, 2, ... in the order they were advised). It must only queue
// the event: no call into a device, no waiting.
using DeviceEventSink = std::function<void(
    const std::string& device_id, DeviceEventKind kind, uint64_t session)>;

// Thread-safe; one per channel handler, shared with its jobs. Its lock is
// never held while calling into a device.
class DeviceEventWatch {
 public:
  explicit DeviceEventWatch(DeviceEventSink sink);
  ~DeviceEventWatch();
  DeviceEventWatch(const DeviceEventWatch&) = delete;
  DeviceEventWatch& operator=(const DeviceEventWatch&) = delete;

  // Called by the operation that opened `device` (of `device_id`) right
  // after Open, and for the sessions already open when a listener comes:
  // advises it while someone listens, once however often it is attached.
  // The watch keeps its own reference until Detach.
  void Attach(IPortableDevice* device, const std::string& device_id);
  // Called before the operation closes `device`: undoes its Advise, if any
  // (waiting for the listener's going to finish undoing it, if that is under
  // way). Nothing for a device never attached.
  void Detach(IPortableDevice* device);

  // Sessions attached while listening are advised. Stopping undoes every
  // Advise in place, on the calling thread (Unadvise goes to the system's
  // WPD service, not over the cable), without waiting for an Advise under
  // way on another thread: that one is undone by its own thread.
  void StartListening();
  void StopListening();

  // The number of the last session advised; 0 before the first.
  uint64_t LastSession() const { return sessions_.load(); }

 private:
  struct Entry {
    uint64_t number;
    IPortableDevice* device;  // own reference
    std::wstring cookie;
    bool busy;  // an Advise or Unadvise is under way, without the lock
  };

  // Takes the entry out and lets go of its device; under `lock`, which is
  // released before the device is.
  void Forget(uint64_t number, std::unique_lock<std::mutex>& lock);

  const std::shared_ptr<const DeviceEventSink> sink_;
  std::atomic<uint64_t> sessions_{0};
  std::mutex mutex_;  // guards listening_ and entries_
  std::condition_variable settled_;
  bool listening_ = false;
  std::vector<Entry> entries_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_DEVICE_EVENT_WATCH_H_
