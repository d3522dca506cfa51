// The cable between the PC and a simulated device: what each call that
// crosses it costs, and the clock that makes callers wait those costs out.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_LINK_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_LINK_H_

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace wpd_sim {

// The costs of one device's link. Without one (DeviceSpec::link unset)
// every call answers at once.
struct LinkSpec {
  double open_ms = 0;               // IPortableDevice::Open
  double round_trip_ms = 0;         // every other call that reaches the device
  double read_call_ms = 0;          // each Read, on top of its bytes
  double megabytes_per_second = 0;  // Read bandwidth, 10^6 bytes; 0: no limit
  double thumbnail_ms =
      0;  // GetStream of a thumbnail, on top of its round trip

  // The named profiles: "usb2" (the bundled USB 2 cable) and "usbc" (a
  // 10 Gb/s model); see the simulator's README for where the figures come
  // from.
  static LinkSpec Usb2();
  static LinkSpec UsbC();
  static std::optional<LinkSpec> Profile(std::string_view name);
};

// What one object's properties are taken to weigh in a bulk reply: an
// estimate (a dozen properties, names and ids as UTF-16), not a measurement.
inline constexpr uint64_t kBulkBytesPerObject = 250;

// What crossed one device's link so far.
struct LinkCounts {
  uint64_t opens = 0;
  uint64_t round_trips = 0;  // Close, EnumObjects, Next, GetValues, ...
  uint64_t reads = 0;
  uint64_t thumbnails = 0;  // thumbnails served (each also a round trip)
  uint64_t bytes_read = 0;
  // Bulk property reads: one per batch of a request, and the batches'
  // kBulkBytesPerObject per object (neither counted above).
  uint64_t bulk_batches = 0;
  uint64_t bulk_bytes = 0;
  double modelled_ms = 0;  // the costs charged; 0 without a link
};

// One device's link at run time. Calls on one device are served one after
// the other, as one cable serves them, whatever the number of sessions or
// threads: the link keeps the time it is busy until, and each call waits
// (sleeping) until its own turn has passed. No other lock is held while
// waiting.
//
// A sleep that overshoots is made up by the next call, which is taken to
// have started when it would have without the overshoot: N calls in a row
// take N times their cost, not N times the system's sleep granularity.
class LinkClock {
 public:
  explicit LinkClock(const std::optional<LinkSpec>& spec) : spec_(spec) {}
  LinkClock(const LinkClock&) = delete;
  LinkClock& operator=(const LinkClock&) = delete;

  void Open() { Cross(&LinkCounts::opens, spec_ ? spec_->open_ms : 0, 0); }
  void RoundTrip() {
    Cross(&LinkCounts::round_trips, spec_ ? spec_->round_trip_ms : 0, 0);
  }
  // The device making a thumbnail it is asked for.
  void Thumbnail() {
    Cross(&LinkCounts::thumbnails, spec_ ? spec_->thumbnail_ms : 0, 0);
  }
  void Read(uint64_t bytes);
  // One batch of a bulk request bringing `objects` objects' properties: a
  // round trip and their bytes at the read bandwidth.
  void BulkBatch(uint64_t objects);

  LinkCounts Counts() const;

 private:
  using Clock = std::chrono::steady_clock;
  void Cross(uint64_t LinkCounts::*counter, double cost_ms, uint64_t bytes,
             uint64_t LinkCounts::*byte_counter = &LinkCounts::bytes_read);
  double BytesMs(uint64_t bytes) const;

  const std::optional<LinkSpec> spec_;
  mutable std::mutex mu_;  // guards what follows; never held while sleeping
  LinkCounts counts_;
  Clock::time_point busy_until_{};
  Clock::duration overshoot_{};  // of the last sleep, not yet made up
};

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_LINK_H_
