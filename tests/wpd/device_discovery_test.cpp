#include "wpd/device_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_test_util.h"
#include "wpd/device_connection.h"

namespace snapferry {
namespace {

using testing_util::kOutOfMemory;
using testing_util::OnWorker;
using wpd_sim::Call;
using wpd_sim::Fault;
using wpd_sim::Fixture;
using wpd_sim::Simulator;

const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#00008110#{6ac27878}";
const std::wstring kCamera = L"\\\\?\\usb#vid_04a9&pid_32b4#5&1#{6ac27878}";
const std::wstring kTablet =
    L"\\\\?\\usb#vid_05ac&pid_12ab#00008103#{6ac27878}";

void ExpectNothingLeft(const Simulator& sim) {
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

TEST(ListDevicesTest, ListsEveryDeviceInTheManagersOrderWithItsTexts) {
  Fixture fixture;
  // The owner named the phone; only the manufacturer gives it away.
  fixture.AddDevice(kPhone)
      .FriendlyName(L"Anna")
      .Manufacturer(L"APPLE INC.")
      .Description(L"Portable device");
  fixture.AddDevice(kCamera)
      .FriendlyName(L"EOS R6")
      .Manufacturer(L"Canon")
      .Description(L"Digital camera");
  // A manager text that cannot be read is empty; the others still decide.
  fixture.AddDevice(kTablet).Description(L"IPAD");
  fixture.AddDevice(L"\\\\?\\usb#silent").FriendlyName(L"\xE9t\xE9");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();

  DeviceList list = OnWorker(ListDevices);

  EXPECT_EQ(list.message, "");
  ASSERT_EQ(list.devices.size(), 4u);
  EXPECT_EQ(list.devices[0].id, WideToUtf8(kPhone));
  EXPECT_EQ(list.devices[0].friendlyName, "Anna");
  EXPECT_EQ(list.devices[0].manufacturer, "APPLE INC.");
  EXPECT_EQ(list.devices[0].model, "Portable device");
  EXPECT_TRUE(list.devices[0].isApple);
  EXPECT_EQ(list.devices[1].friendlyName, "EOS R6");
  EXPECT_EQ(list.devices[1].manufacturer, "Canon");
  EXPECT_EQ(list.devices[1].model, "Digital camera");
  EXPECT_FALSE(list.devices[1].isApple);
  EXPECT_EQ(list.devices[2].friendlyName, "");
  EXPECT_EQ(list.devices[2].manufacturer, "");
  EXPECT_EQ(list.devices[2].model, "IPAD");
  EXPECT_TRUE(list.devices[2].isApple);
  EXPECT_EQ(list.devices[3].id, "\\\\?\\usb#silent");
  EXPECT_EQ(list.devices[3].friendlyName, "\xC3\xA9t\xC3\xA9");
  EXPECT_FALSE(list.devices[3].isApple);
  // Each text is measured, then filled; absent ones are only measured.
  EXPECT_EQ(sim.Calls(Call::kGetDeviceFriendlyName), 4u + 3u);
  EXPECT_EQ(sim.Calls(Call::kGetDevices), 2u);
  ExpectNothingLeft(sim);
}

TEST(ListDevicesTest, NoDeviceIsAnEmptyListNotAnError) {
  Simulator sim(Fixture{});
  ASSERT_TRUE(sim.ok()) << sim.error();
  DeviceList list = OnWorker(ListDevices);
  EXPECT_EQ(list.message, "");
  EXPECT_TRUE(list.devices.empty());
  // Nothing to fetch: the manager is asked for the count only.
  EXPECT_EQ(sim.Calls(Call::kGetDevices), 1u);
  ExpectNothingLeft(sim);
}

TEST(ListDevicesTest, TakesNoMoreIdsThanTheArrayItHandedIn) {
  // The fill reports more devices than the count did (as if some arrived in
  // between) but wrote only as many as the array holds.
  Fixture fixture;
  fixture.get_devices_overcount = 3;
  fixture.AddDevice(kPhone).FriendlyName(L"iPhone");
  fixture.AddDevice(kCamera).FriendlyName(L"EOS R6");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  DeviceList list = OnWorker(ListDevices);
  EXPECT_EQ(list.message, "");
  ASSERT_EQ(list.devices.size(), 2u);
  EXPECT_EQ(list.devices[1].friendlyName, "EOS R6");
  ExpectNothingLeft(sim);
}

TEST(ListDevicesTest, WholeListingFailuresGiveTheirTextAndNoList) {
  struct Case {
    Call call;
    uint64_t after;
    const char* message;
  } cases[] = {
      {Call::kCreateManager, 0,
       "Create PortableDeviceManager failed (HRESULT 0x8007000E)"},
      {Call::kGetDevices, 0, "GetDevices failed (HRESULT 0x8007000E)"},
      // The count succeeds; fetching the ids fails.
      {Call::kGetDevices, 1, "GetDevices failed (HRESULT 0x8007000E)"},
  };
  for (const Case& c : cases) {
    Fixture fixture;
    fixture.AddDevice(kPhone).FriendlyName(L"iPhone");
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(sim.SetProcessFault(c.call, Fault{kOutOfMemory, c.after}));
    DeviceList list = OnWorker(ListDevices);
    EXPECT_EQ(list.message, c.message);
    EXPECT_TRUE(list.devices.empty());
    ExpectNothingLeft(sim);
  }
}

TEST(ListDevicesTest, ReportsAWorkerThatCannotJoinCom) {
  Fixture fixture;
  fixture.AddDevice(kPhone);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  if (!testing_util::CanFailCoInitialize(sim, kOutOfMemory)) {
    GTEST_SKIP() << "CoInitializeEx cannot be made to fail here";
  }
  DeviceList list = OnWorker(ListDevices);
  sim.ClearFaults();
  EXPECT_EQ(list.message, "COM initialisation failed");
  EXPECT_TRUE(list.devices.empty());
  EXPECT_EQ(sim.Calls(Call::kCreateManager), 0u);
}

TEST(ListDevicesTest, KeepsTheCallersSingleThreadedApartment) {
  Fixture fixture;
  fixture.AddDevice(kPhone).Manufacturer(L"Apple Inc.");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  bool still_sta = false;
  DeviceList list = testing_util::OnStaThread(sim, ListDevices, &still_sta);
  EXPECT_TRUE(still_sta);
  EXPECT_EQ(list.message, "");
  ASSERT_EQ(list.devices.size(), 1u);
  EXPECT_TRUE(list.devices[0].isApple);
  ExpectNothingLeft(sim);
}

TEST(AppleTest, FindsTheWordsAnywhereInAnyCaseOfAToZ) {
  EXPECT_TRUE(LooksLikeAppleDevice(L"Anna", L"Apple Inc.", L""));
  EXPECT_TRUE(LooksLikeAppleDevice(L"", L"", L"IPAD"));
  EXPECT_TRUE(LooksLikeAppleDevice(L"iPad Pro", L"", L""));
  EXPECT_TRUE(LooksLikeAppleDevice(L"My IPHONE 15", L"", L""));
  // A substring test, not a word test.
  EXPECT_TRUE(LooksLikeAppleDevice(L"", L"Pineapple Devices", L""));
  EXPECT_TRUE(LooksLikeAppleDevice(L"myipadmini", L"", L""));
}

TEST(AppleTest, RejectsOtherMakersEmptyTextsAndWordsSplitAcrossTexts) {
  EXPECT_FALSE(LooksLikeAppleDevice(L"", L"", L""));
  EXPECT_FALSE(LooksLikeAppleDevice(L"Galaxy S23", L"Samsung", L"Phone"));
  EXPECT_FALSE(LooksLikeAppleDevice(L"Walkman", L"Sony", L"Media player"));
  // The texts are joined with a space, so no word forms across them.
  EXPECT_FALSE(LooksLikeAppleDevice(L"iph", L"one", L""));
  EXPECT_FALSE(LooksLikeAppleDevice(L"i", L"pad", L""));
  EXPECT_FALSE(LooksLikeAppleDevice(L"ap", L"", L"ple"));
  EXPECT_FALSE(LooksLikeAppleDevice(L"i Phone", L"App le", L"I-Pad"));
  // Only A to Z are folded: fullwidth letters do not count.
  std::wstring fullwidth;
  for (wchar_t c : std::wstring(L"APPLE")) {
    fullwidth += static_cast<wchar_t>(0xFF21 + (c - L'A'));
  }
  EXPECT_FALSE(LooksLikeAppleDevice(fullwidth, L"", L""));
}

}  // namespace
}  // namespace snapferry
