#include "wpd/pending_copies.h"

#include <algorithm>

namespace snapferry {

PendingCopies::~PendingCopies() {
  for (const Entry& entry : entries_) Release(entry);
}

void PendingCopies::Release(const Entry& entry) {
  entry.key->Release();
  if (entry.stream != nullptr) entry.stream->Release();
  if (entry.device != nullptr) entry.device->Release();
}

void PendingCopies::Add(IStream* stream, IPortableDevice* device) {
  Entry entry = {stream, nullptr, nullptr};
  stream->AddRef();
  if (FAILED(stream->QueryInterface(IID_IPortableDeviceDataStream,
                                    reinterpret_cast<void**>(&entry.stream)))) {
    entry.stream = nullptr;
    entry.device = device;
    device->AddRef();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(entry);
}

void PendingCopies::Remove(IStream* stream) {
  Entry entry;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it =
        std::find_if(entries_.begin(), entries_.end(),
                     [&](const Entry& each) { return each.key == stream; });
    if (it == entries_.end()) return;
    entry = *it;
    entries_.erase(it);
  }
  Release(entry);
}

void PendingCopies::CancelAll() {
  std::vector<Entry> snapshot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot = entries_;
    for (const Entry& entry : snapshot) {
      entry.key->AddRef();
      if (entry.stream != nullptr) entry.stream->AddRef();
      if (entry.device != nullptr) entry.device->AddRef();
    }
  }
  for (const Entry& entry : snapshot) {
    if (entry.stream != nullptr) {
      entry.stream->Cancel();
    } else {
      entry.device->Cancel();
    }
    Release(entry);
  }
}

}  // namespace snapferry
