// Faults at random: the share asked for, the same faults for the same seed,
// only device calls, only the codes given.
#include "platform/wpd/simulator/random_faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "platform/wpd/simulator/model.h"

namespace {

using wpd_sim::Call;

// Which of `calls` draws fail, with their codes (0: passed).
std::vector<HRESULT> Draw(const wpd_sim::RandomFaults& faults, Call call,
                          int calls) {
  wpd_sim::RandomFaultSource source;
  source.Set(faults);
  std::vector<HRESULT> outcome;
  for (int i = 0; i < calls; ++i) {
    HRESULT hr = S_OK;
    outcome.push_back(source.Strike(call, &hr) ? hr : S_OK);
  }
  EXPECT_EQ(source.injected(),
            static_cast<uint64_t>(
                calls - std::count(outcome.begin(), outcome.end(), S_OK)));
  return outcome;
}

TEST(WpdRandomFaults, FailTheShareAskedForWithTheCodesGivenAndRepeat) {
  const std::vector<HRESULT> codes = {E_FAIL, E_ACCESSDENIED,
                                      static_cast<HRESULT>(0x800700AA)};
  const wpd_sim::RandomFaults one_percent{0.01, 42, codes};
  const std::vector<HRESULT> first = Draw(one_percent, Call::kRead, 100000);
  const auto failed = std::count_if(first.begin(), first.end(),
                                    [](HRESULT hr) { return hr != S_OK; });
  EXPECT_GT(failed, 850);
  EXPECT_LT(failed, 1150);
  std::set<HRESULT> seen(first.begin(), first.end());
  EXPECT_EQ(seen, (std::set<HRESULT>{S_OK, codes[0], codes[1], codes[2]}));

  // The same seed fails the same calls; another seed others.
  EXPECT_EQ(Draw(one_percent, Call::kRead, 100000), first);
  EXPECT_NE(Draw({0.01, 43, codes}, Call::kRead, 100000), first);

  // Device and object calls, and GetDevices, draw; the COM runtime and the
  // class creations never fail at random. Rates 0 and 1 are exact.
  const std::vector<HRESULT> all(1000, E_FAIL), none(1000, S_OK);
  EXPECT_EQ(Draw({1, 7, {}}, Call::kOpen, 1000), all);
  EXPECT_EQ(Draw({1, 7, {}}, Call::kGetDevices, 1000), all);
  EXPECT_EQ(Draw({1, 7, {}}, Call::kCoInitializeEx, 1000), none);
  EXPECT_EQ(Draw({1, 7, {}}, Call::kCreateValues, 1000), none);
  EXPECT_EQ(Draw({0, 7, {}}, Call::kRead, 1000), none);
}

}  // namespace
