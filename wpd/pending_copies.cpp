#include "wpd/pending_copies.h"

#include <algorithm>

namespace snapferry {

PendingCopies::~PendingCopies() {
  for (IPortableDevice* device : devices_) device->Release();
}

void PendingCopies::Add(IPortableDevice* device) {
  device->AddRef();
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.push_back(device);
}

void PendingCopies::Remove(IPortableDevice* device) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(devices_.begin(), devices_.end(), device);
    if (it == devices_.end()) return;
    devices_.erase(it);
  }
  device->Release();
}

void PendingCopies::CancelAll() {
  std::vector<IPortableDevice*> snapshot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot = devices_;
    for (IPortableDevice* device : snapshot) device->AddRef();
  }
  for (IPortableDevice* device : snapshot) {
    device->Cancel();
    device->Release();
  }
}

}  // namespace snapferry
