// The progress line's rate and time left, fed made-up time points.

#include "importer/progress_rate.h"
#include "importer/report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace importer {
namespace {

using std::chrono::milliseconds;
constexpr uint64_t kMiB = 1024 * 1024;

// Bytes done at a time in milliseconds from an arbitrary start.
using Samples = std::vector<std::pair<int, uint64_t>>;

// `count` samples every 500 ms from `start_ms`, at `rate` bytes a second
// from `start_bytes`.
Samples Steady(int start_ms, uint64_t start_bytes, int count, uint64_t rate) {
  Samples samples;
  for (int i = 0; i < count; ++i) {
    samples.push_back({start_ms + 500 * i, start_bytes + rate * i / 2});
  }
  return samples;
}

Samples Then(Samples first, const Samples& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(ProgressRateTest, RateOverTheWindowAndTimeLeft) {
  struct Case {
    const char* name;
    Samples samples;
    uint64_t total;
    std::string expected;
  };
  const Case cases[] = {
      {"nothing yet", {}, kMiB, ""},
      {"one sample", {{0, 0}}, kMiB, ""},
      {"under a second of samples", Steady(0, 0, 2, 10 * kMiB), kMiB, ""},
      {"a second without progress", {{0, 5}, {1000, 5}}, kMiB, ""},
      {"steady", Steady(0, 0, 5, 10 * kMiB), 1222 * kMiB,
       "10.0 MB/s, 2 min left"},
      // 10 s at 1 MB/s then 5 s at 20 MB/s: only the last 5 s count.
      {"a slow file outside the window",
       Then(Steady(0, 0, 21, kMiB), Steady(10500, 20 * kMiB, 10, 20 * kMiB)),
       1090 * kMiB, "20.0 MB/s, 49 s left"},
      // 4 s at 10 MB/s and a second without progress: 40 MB in 5 s.
      {"a stall inside the window",
       Then(Steady(0, 0, 9, 10 * kMiB), {{5000, 40 * kMiB}}), 100 * kMiB,
       "8.0 MB/s, 8 s left"},
      {"a count that starts again is measured afresh",
       Then(Steady(0, 0, 9, 10 * kMiB), {{4500, 1 * kMiB}}), 100 * kMiB, ""},
      {"a sample from the past is ignored",
       Then(Steady(0, 0, 5, 10 * kMiB), {{1000, 0}}), 30 * kMiB,
       "10.0 MB/s, 1 s left"},
      {"done", Steady(0, 0, 5, 10 * kMiB), 20 * kMiB, "10.0 MB/s"},
      {"under 1 MB/s", Steady(0, 0, 3, 512 * 1024), 23 * kMiB,
       "512 KB/s, 45 s left"},
      {"over 99 hours left: the rate alone", Steady(0, 0, 3, 1024),
       uint64_t{400} * kMiB, "1 KB/s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgressRate rate;
    for (const auto& [ms, bytes] : c.samples) {
      rate.Add(ProgressRate::Clock::time_point(milliseconds(ms)), bytes);
    }
    EXPECT_EQ(rate.Text(c.total), c.expected);
  }
}

TEST(ProgressRateTest, Formats) {
  const std::pair<double, std::string> rates[] = {
      {0.4 * 1024, "0 KB/s"},
      {1023.4 * 1024, "1023 KB/s"},
      {1023.6 * 1024, "1.0 MB/s"},
      {12.34 * kMiB, "12.3 MB/s"},
      {250.0 * kMiB, "250.0 MB/s"},
  };
  for (const auto& [bytes_per_second, text] : rates) {
    EXPECT_EQ(FormatRate(bytes_per_second), text) << bytes_per_second;
  }
  const std::pair<double, std::string> times[] = {
      {0.2, "1 s left"},          {44.1, "45 s left"},
      {59.0, "59 s left"},        {59.2, "1 min left"},
      {89.0, "1 min left"},       {90.0, "2 min left"},
      {3569.0, "59 min left"},    {3570.0, "1 h left"},
      {3900.0, "1 h 5 min left"}, {7200.0, "2 h left"},
  };
  for (const auto& [seconds, text] : times) {
    EXPECT_EQ(FormatTimeLeft(seconds), text) << seconds;
  }
}

// The progress line on a terminal: the rate and the time left join it once
// a second of copying was seen; without a terminal no line is drawn.
TEST(ProgressRateTest, TheProgressLineTellsRateAndTimeLeftOnATerminal) {
  ProgressRate::Clock::time_point now{};
  for (const bool terminal : {true, false}) {
    std::vector<std::string> statuses;
    Report::Write show;
    if (terminal) show = [&](const std::string& s) { statuses.push_back(s); };
    Report report([](const std::string&) {}, show, [&] { return now; });
    report.Planned(static_cast<int64_t>(100 * kMiB));
    for (int second = 0; second <= 4; ++second) {
      now = ProgressRate::Clock::time_point(std::chrono::seconds(second));
      report.Progress(static_cast<int64_t>(10 * kMiB) * second, "IMG_0001.MOV");
    }
    if (!terminal) {
      EXPECT_TRUE(statuses.empty());
      continue;
    }
    ASSERT_EQ(statuses.size(), 5u);
    EXPECT_EQ(statuses[0].find("MB/s"), std::string::npos) << statuses[0];
    // 40 of 100 MiB after 4 s at 10 MiB/s: 6 s left.
    EXPECT_NE(statuses[4].find("40.0 MB of 100.0 MB  10.0 MB/s, 6 s left  "
                               "IMG_0001.MOV"),
              std::string::npos)
        << statuses[4];
  }
}

}  // namespace
}  // namespace importer
