#ifndef SNAPFERRY_WPD_PENDING_COPIES_H_
#define SNAPFERRY_WPD_PENDING_COPIES_H_

#include <portabledeviceapi.h>

#include <mutex>
#include <vector>

namespace snapferry {

// The devices of the copies running now, so that a cancel reaches a read
// that hangs inside the device: the flag alone is only seen between reads.
// Thread-safe; one per channel handler, shared with its copy jobs.
class PendingCopies {
 public:
  PendingCopies() = default;
  ~PendingCopies();
  PendingCopies(const PendingCopies&) = delete;
  PendingCopies& operator=(const PendingCopies&) = delete;

  // A copy adds its device once it is open and removes it before closing
  // it. The set holds a reference of its own to each device.
  void Add(IPortableDevice* device);
  void Remove(IPortableDevice* device);

  // Calls IPortableDevice::Cancel on every device added and not yet
  // removed. The calls are made without the lock, so a device that takes
  // its time cannot hold up the copies that come and go meanwhile.
  void CancelAll();

 private:
  std::mutex mutex_;  // guards devices_
  std::vector<IPortableDevice*> devices_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_PENDING_COPIES_H_
