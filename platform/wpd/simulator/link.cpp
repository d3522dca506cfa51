#include "platform/wpd/simulator/link.h"

#include <algorithm>
#include <thread>

namespace wpd_sim {

LinkSpec LinkSpec::Usb2() {
  LinkSpec spec;
  spec.open_ms = 20;
  spec.round_trip_ms = 0.4;
  spec.read_call_ms = 0.05;
  spec.megabytes_per_second = 40;
  // With its round trip and the read of a 10 KB JPEG, about 25 ms: the
  // median seen for an iPhone's thumbnails.
  spec.thumbnail_ms = 24.5;
  return spec;
}

LinkSpec LinkSpec::UsbC() {
  LinkSpec spec = Usb2();
  spec.megabytes_per_second = 365;
  return spec;
}

std::optional<LinkSpec> LinkSpec::Profile(std::string_view name) {
  if (name == "usb2") return Usb2();
  if (name == "usbc") return UsbC();
  return std::nullopt;
}

double LinkClock::BytesMs(uint64_t bytes) const {
  if (!spec_ || spec_->megabytes_per_second <= 0) return 0;
  // 10^6 B/s = 10^3 B/ms
  return static_cast<double>(bytes) / (spec_->megabytes_per_second * 1e3);
}

void LinkClock::Read(uint64_t bytes) {
  const double cost_ms = spec_ ? spec_->read_call_ms + BytesMs(bytes) : 0;
  Cross(&LinkCounts::reads, cost_ms, bytes);
}

void LinkClock::BulkBatch(uint64_t objects) {
  const uint64_t bytes = objects * kBulkBytesPerObject;
  const double cost_ms = spec_ ? spec_->round_trip_ms + BytesMs(bytes) : 0;
  Cross(&LinkCounts::bulk_batches, cost_ms, bytes, &LinkCounts::bulk_bytes);
}

LinkCounts LinkClock::Counts() const {
  std::lock_guard<std::mutex> lock(mu_);
  return counts_;
}

void LinkClock::Cross(uint64_t LinkCounts::*counter, double cost_ms,
                      uint64_t bytes, uint64_t LinkCounts::*byte_counter) {
  Clock::time_point until;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++(counts_.*counter);
    counts_.*byte_counter += bytes;
    if (!spec_) return;
    counts_.modelled_ms += std::max(cost_ms, 0.0);
    // The call starts once the link is free; a caller that comes straight
    // back from an overslept wait is taken to have come back in time.
    Clock::time_point start = std::max(Clock::now() - overshoot_, busy_until_);
    overshoot_ = Clock::duration::zero();
    busy_until_ =
        start +
        std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(std::max(cost_ms, 0.0)));
    until = busy_until_;
  }
  std::this_thread::sleep_until(until);
  Clock::duration late = Clock::now() - until;
  std::lock_guard<std::mutex> lock(mu_);
  // Only the last call in line hands its overshoot on; those queued behind
  // it already start when it ends.
  if (busy_until_ == until) overshoot_ = std::max(late, Clock::duration{});
}

}  // namespace wpd_sim
