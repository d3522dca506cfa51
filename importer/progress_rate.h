// The copy rate over the last few seconds and the time left, for the
// progress line: "12.3 MB/s, 2 min left".

#ifndef SNAPFERRY_IMPORTER_PROGRESS_RATE_H_
#define SNAPFERRY_IMPORTER_PROGRESS_RATE_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace importer {

// Fed the bytes done so far at points in time, it measures the rate over a
// sliding window, so that one slow file (a video the phone converts while
// sending it, a move waiting out a scanner) bends the line rather than
// making it jump. The caller gives the time of each sample (tests give made
// up ones), and should give one on a timer as well as on progress, so a
// stall shows as a falling rate.
class ProgressRate {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kDefaultWindow{5000};
  // Samples spanning less than this say nothing yet.
  static constexpr std::chrono::milliseconds kLeastSpan{1000};

  explicit ProgressRate(std::chrono::milliseconds window = kDefaultWindow);

  // Bytes done so far at `when`. A sample older than the last one is
  // ignored; fewer bytes than the last one (a count that started again)
  // starts the measure afresh.
  void Add(Clock::time_point when, uint64_t bytes_done);

  // Bytes per second over the window; 0 until the samples span kLeastSpan.
  double BytesPerSecond() const;

  // "12.3 MB/s, 2 min left" with `bytes_total` to do in all; the rate alone
  // when nothing is left or the time left is beyond 99 hours; "" while the
  // rate is unknown or 0.
  std::string Text(uint64_t bytes_total) const;

 private:
  struct Sample {
    Clock::time_point when;
    uint64_t bytes;
  };

  std::chrono::milliseconds window_;
  // Oldest first; the first one is the last sample at or before the
  // window's start, so the measure covers the whole window once it can.
  std::deque<Sample> samples_;
};

// "512 KB/s" below 1 MB/s, "12.3 MB/s" from there (powers of 1024, as the
// importer's sizes).
std::string FormatRate(double bytes_per_second);

// "45 s left" (seconds rounded up, so it never says 0 while bytes remain),
// "2 min left", "1 h 5 min left", "2 h left" (minutes rounded).
std::string FormatTimeLeft(double seconds);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_PROGRESS_RATE_H_
