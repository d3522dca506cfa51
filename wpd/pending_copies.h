#ifndef SNAPFERRY_WPD_PENDING_COPIES_H_
#define SNAPFERRY_WPD_PENDING_COPIES_H_

#include <portabledeviceapi.h>

#include <mutex>
#include <vector>

namespace snapferry {

// The object streams of the copies running now, so that a cancel reaches a
// read that hangs inside the device: the flag alone is only seen between
// reads. A copy's stream is cancelled rather than its device object, which
// is a session shared with other requests that a cancel must not abort; a
// stream that does not answer to IPortableDeviceDataStream falls back to
// its device. Thread-safe; one per channel handler, shared with its copy
// jobs.
class PendingCopies {
 public:
  PendingCopies() = default;
  ~PendingCopies();
  PendingCopies(const PendingCopies&) = delete;
  PendingCopies& operator=(const PendingCopies&) = delete;

  // A copy adds its stream once it is open and removes it before letting it
  // go. The set holds references of its own.
  void Add(IStream* stream, IPortableDevice* device);
  void Remove(IStream* stream);

  // Cancels every stream added and not yet removed. The calls are made
  // without the lock, so a device that takes its time cannot hold up the
  // copies that come and go meanwhile.
  void CancelAll();

 private:
  struct Entry {
    IStream* key;
    IPortableDeviceDataStream* stream;  // null: cancel `device` instead
    IPortableDevice* device;
  };
  static void Release(const Entry& entry);

  std::mutex mutex_;  // guards entries_
  std::vector<Entry> entries_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_PENDING_COPIES_H_
