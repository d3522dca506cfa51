// Faults at random: a share of the device calls fails, drawn from a seeded
// sequence, so that a long run (a soak) meets failures everywhere and can be
// repeated with the same seed.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_RANDOM_FAULTS_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_RANDOM_FAULTS_H_

#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace wpd_sim {

enum class Call : int;

// The fixture's "randomFaults": each device call (every call of device or
// object scope, and GetDevices) fails with probability `rate`, answering one
// of `hresults` (E_FAIL when empty). The n-th such call after the faults
// were set draws the n-th number of the sequence that `seed` starts, so a
// run that makes its calls in the same order meets the same faults.
struct RandomFaults {
  double rate = 0;
  uint64_t seed = 0;
  std::vector<HRESULT> hresults;
};

// The draw, shared by every thread of the simulator.
class RandomFaultSource {
 public:
  // Effective at once, also while calls run; starts the sequence anew.
  void Set(RandomFaults faults);
  // Counts the call when it is a device call and tells whether it fails.
  bool Strike(Call call, HRESULT* hresult);
  // The calls failed since the simulator started.
  uint64_t injected() const { return injected_.load(); }

 private:
  std::mutex mu_;  // guards faults_ and drawn_
  RandomFaults faults_;
  uint64_t drawn_ = 0;
  std::atomic<uint64_t> threshold_{0};  // draws below it fail; 0: none
  std::atomic<uint64_t> injected_{0};
};

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_RANDOM_FAULTS_H_
