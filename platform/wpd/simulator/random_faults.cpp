#include "platform/wpd/simulator/random_faults.h"

#include <cmath>
#include <utility>

#include "platform/wpd/simulator/model.h"

namespace wpd_sim {
namespace {

// SplitMix64: the n-th number of a seed's sequence, without shared state
// beyond the counter.
uint64_t Mix(uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

}  // namespace

void RandomFaultSource::Set(RandomFaults faults) {
  if (faults.hresults.empty()) faults.hresults.push_back(E_FAIL);
  const double rate = std::fmin(std::fmax(faults.rate, 0.0), 1.0);
  std::lock_guard<std::mutex> lock(mu_);
  faults_ = std::move(faults);
  drawn_ = 0;
  // Compared with the top 53 bits of a draw; rate 1 fails every draw.
  threshold_.store(static_cast<uint64_t>(std::ldexp(rate, 53)));
}

bool RandomFaultSource::Strike(Call call, HRESULT* hresult) {
  if (threshold_.load(std::memory_order_relaxed) == 0) return false;
  if (ScopeOf(call) == CallScope::kProcess && call != Call::kGetDevices) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mu_);
  const uint64_t draw = Mix(faults_.seed + Mix(drawn_++));
  if ((draw >> 11) >= threshold_.load()) return false;
  injected_.fetch_add(1);
  *hresult = faults_.hresults[draw % faults_.hresults.size()];
  return true;
}

}  // namespace wpd_sim
