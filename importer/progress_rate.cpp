#include "importer/progress_rate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace importer {
namespace {

constexpr double kMegabyte = 1024.0 * 1024.0;
// Beyond this a time left is a guess nobody can use.
constexpr double kLongestTimeLeft = 99.0 * 3600.0;

}  // namespace

ProgressRate::ProgressRate(std::chrono::milliseconds window)
    : window_(window) {}

void ProgressRate::Add(Clock::time_point when, uint64_t bytes_done) {
  if (!samples_.empty()) {
    if (when < samples_.back().when) return;
    if (bytes_done < samples_.back().bytes) samples_.clear();
  }
  samples_.push_back({when, bytes_done});
  while (samples_.size() >= 2 && samples_[1].when <= when - window_) {
    samples_.pop_front();
  }
}

double ProgressRate::BytesPerSecond() const {
  if (samples_.size() < 2) return 0;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const std::chrono::duration<double> span = last.when - first.when;
  if (span < kLeastSpan) return 0;
  return static_cast<double>(last.bytes - first.bytes) / span.count();
}

std::string ProgressRate::Text(uint64_t bytes_total) const {
  const double rate = BytesPerSecond();
  if (rate <= 0) return "";
  const uint64_t done = samples_.back().bytes;
  const std::string text = FormatRate(rate);
  if (bytes_total <= done) return text;
  const double seconds_left = static_cast<double>(bytes_total - done) / rate;
  if (seconds_left > kLongestTimeLeft) return text;
  return text + ", " + FormatTimeLeft(seconds_left);
}

std::string FormatRate(double bytes_per_second) {
  char text[32];
  const long long kilobytes = std::llround(bytes_per_second / 1024.0);
  if (kilobytes < 1024) {
    std::snprintf(text, sizeof(text), "%lld KB/s", kilobytes);
  } else {
    std::snprintf(text, sizeof(text), "%.1f MB/s",
                  bytes_per_second / kMegabyte);
  }
  return text;
}

std::string FormatTimeLeft(double seconds) {
  const long long whole_seconds =
      std::max(1LL, static_cast<long long>(std::ceil(seconds)));
  if (whole_seconds < 60) return std::to_string(whole_seconds) + " s left";
  const long long minutes = std::llround(whole_seconds / 60.0);
  if (minutes < 60) return std::to_string(minutes) + " min left";
  const std::string hours = std::to_string(minutes / 60) + " h";
  if (minutes % 60 == 0) return hours + " left";
  return hours + " " + std::to_string(minutes % 60) + " min left";
}

}  // namespace importer
