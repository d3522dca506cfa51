// "snapferry/wpd_devices" end to end: the simulated devices plugged in,
// pulled out and reset, the system's WM_DEVICECHANGE (broadcast by the
// stand-in; under Wine sent by the test itself) and the open sessions'
// events reaching the listener in order, under the ids listDevices gave, one
// "removed" per unplug, and nothing left registered when listeners and the
// handler go.
#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>
#include <portabledevice.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/engine/engine_control.h"
#include "tests/channel/device_broadcast.h"
#include "tests/e2e/e2e_test_util.h"
#include "wpd/device_connection.h"
#ifndef _WIN32
#include "win32_standin/control.h"
#endif

namespace e2e {
namespace {

using channel_test::Args;
using channel_test::At;
using channel_test::DecodeReply;
using channel_test::PumpPending;
using channel_test::PumpUntil;
using channel_test::Str;
using snapferry::WideToUtf8;
using wpd_sim::ContentType;

const std::wstring kPhoneW =
    L"\\\\?\\usb#vid_05ac&pid_12a8&mi_00#f1a2#"
    L"{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
const std::wstring kCameraW =
    L"\\\\?\\usb#vid_04a9&pid_3218#c0ffee#"
    L"{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
const std::string kPhone = WideToUtf8(kPhoneW);
const std::string kCamera = WideToUtf8(kCameraW);

// A phone of 40 photos, each listing taking `round_trip_ms` per call, and a
// camera.
wpd_sim::Fixture Devices(double round_trip_ms = 0) {
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(kPhoneW).Manufacturer(L"Apple Inc.");
  if (round_trip_ms > 0) {
    wpd_sim::LinkSpec link;
    link.round_trip_ms = round_trip_ms;
    phone.Link(link);
  }
  phone.AddPhoneStorage(L"s1", L"Internal Storage");
  phone.AddPhoneFolder(L"f1", L"s1", L"202610_a");
  for (int i = 0; i < 40; ++i) {
    phone.AddPatternFile(L"o" + std::to_wstring(i), L"f1",
                         L"IMG_" + std::to_wstring(1000 + i) + L".HEIC",
                         ContentType::kImage, 200000);
  }
  auto& camera = fixture.AddDevice(kCameraW);
  camera.AddStorage(L"c1", L"Card");
  return fixture;
}

class DeviceEventsTest : public EndToEndTest {
 protected:
  void ListenTo(const char* channel, const char* method = "listen") {
    const int number = engine_control::DeliverMessage(
        engine_, channel, channel_test::EncodedCall(method));
    ASSERT_TRUE(AwaitBytes(number).has_value());
  }

  // What the system tells the window when a device comes or goes. The
  // stand-in broadcasts it when the simulator plugs; Windows lets no process
  // play the system, so there the test sends what it would have.
  void SystemTells(bool arrived, const std::wstring& device_id) {
    if (wpd_sim::Simulator::BroadcastsDeviceChanges()) return;
    std::vector<unsigned char> bytes =
        channel_test::DeviceBroadcast(wpd_sim::InterfacePath(device_id));
    SendMessageW(window_.hwnd(), WM_DEVICECHANGE,
                 arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                 reinterpret_cast<LPARAM>(bytes.data()));
  }
  void Unplug(const std::wstring& id) {
    ASSERT_TRUE(devices_->Unplug(id));
    SystemTells(false, id);
  }
  void Plug(const std::wstring& id) {
    ASSERT_TRUE(devices_->Plug(id));
    SystemTells(true, id);
  }

  // Every event told and run so far, as "event id".
  std::vector<std::string> DeviceEvents() {
    devices_->WaitForEventDelivery();
    PumpPending();
    std::vector<std::string> events;
    for (const auto& sent : engine_control::SentMessages(engine_)) {
      if (sent.channel != snapferry::kWpdDevicesChannelName) continue;
      Reply event = DecodeReply(sent.bytes);
      events.push_back(std::get<std::string>(At(event.value, "event")) + " " +
                       std::get<std::string>(At(event.value, "id")));
    }
    return events;
  }

  // A copy of the phone's o1 whose reads hang after the first chunk, so
  // that its session stays open; returns once it hangs.
  int StartHungCopy() {
    const std::wstring object = devices_->ObjectId(kPhoneW, L"o1");
    EXPECT_TRUE(devices_->SetObjectFault(kPhoneW, object, wpd_sim::Call::kRead,
                                         wpd_sim::Fault::Hang(65536)));
    const int number =
        Send("copyObject", CopyArgs(kPhone, WideToUtf8(object), "o1.part"));
    EXPECT_TRUE(PumpUntil([&] { return devices_->BlockedReads() == 1; }));
    return number;
  }

  void ExpectNothingAdvisedOrOpen() {
    EXPECT_TRUE(
        PumpUntil([&] { return devices_->OpenSessions(kPhoneW) == 0; }));
    EXPECT_EQ(devices_->Advises(kPhoneW), 0);
    EXPECT_EQ(devices_->AdvisesLeftAtClose(), 0);
  }
};

TEST_F(DeviceEventsTest, ArrivalsAndRemovalsComeInOrderUnderTheListedIds) {
  StartDevices(Devices());
  ListenTo(snapferry::kWpdDevicesChannelName);
  ASSERT_EQ(Call("listDevices").kind, Reply::Kind::kSuccess);
  // The system names devices in capitals; the listener gets them as listed.
  Unplug(kPhoneW);
  Plug(kPhoneW);
  Unplug(kCameraW);
  const std::wstring kNewW =
      L"\\\\?\\usb#vid_05ac&pid_12ab#new#{6ac27878-a6fa-4155-ba85-"
      L"f98f491d4f33}";
  wpd_sim::DeviceSpec stranger;
  stranger.id = kNewW;
  ASSERT_TRUE(devices_->AddDevice(stranger));
  SystemTells(true, kNewW);
  EXPECT_EQ(DeviceEvents(),
            (std::vector<std::string>{
                "removed " + kPhone, "arrived " + kPhone, "removed " + kCamera,
                // Never listed: the system's own name for it.
                "arrived " + WideToUtf8(wpd_sim::InterfacePath(kNewW))}));
}

// The system tells the unplug, and so does the session the hung copy holds
// open: the listener hears it once. After the next arrival, the next unplug
// is heard again.
TEST_F(DeviceEventsTest, OneRemovedPerUnplugWhateverTellsIt) {
  StartDevices(Devices());
  ListenTo(snapferry::kWpdDevicesChannelName);
  ASSERT_EQ(Call("listDevices").kind, Reply::Kind::kSuccess);
  const int copy = StartHungCopy();
  ASSERT_EQ(devices_->Advises(kPhoneW), 1);
  Unplug(kPhoneW);
  EXPECT_EQ(std::get<std::string>(At(Await(copy).value, "status")), "error");
  EXPECT_EQ(DeviceEvents(), std::vector<std::string>{"removed " + kPhone});
  Plug(kPhoneW);
  Unplug(kPhoneW);
  EXPECT_EQ(DeviceEvents(),
            (std::vector<std::string>{"removed " + kPhone, "arrived " + kPhone,
                                      "removed " + kPhone}));
  ExpectNothingAdvisedOrOpen();
}

// The enumeration's own session tells the reset while the walk goes on; the
// listing still answers.
TEST_F(DeviceEventsTest, AResetDuringAnEnumerationIsTold) {
  StartDevices(Devices(/*round_trip_ms=*/20));
  ListenTo(snapferry::kWpdDevicesChannelName);
  ListenTo(snapferry::kWpdMediaChannelName);
  const int listing =
      Send("enumerateMedia", Args({{Str("id"), EncodableValue(kPhone)}}));
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& sent : engine_control::SentMessages(engine_)) {
      if (sent.channel == snapferry::kWpdMediaChannelName) return true;
    }
    return false;
  }));
  ASSERT_FALSE(Answered(listing)) << "the walk ended before the reset";
  ASSERT_TRUE(devices_->Reset(kPhoneW));
  EXPECT_EQ(Await(listing).kind, Reply::Kind::kSuccess);
  EXPECT_EQ(DeviceEvents(), std::vector<std::string>{"reset " + kPhone});
  ExpectNothingAdvisedOrOpen();
}

// A session kept open from an earlier request is advised when the listener
// comes, not only when it is next opened.
TEST_F(DeviceEventsTest, ASessionKeptFromBeforeTheListenerTellsAReset) {
  StartDevices(Devices());
  ASSERT_EQ(
      Call("enumerateMedia", Args({{Str("id"), EncodableValue(kPhone)}})).kind,
      Reply::Kind::kSuccess);
  ASSERT_EQ(devices_->OpenSessions(kPhoneW), 1);
  ListenTo(snapferry::kWpdDevicesChannelName);
  ASSERT_TRUE(PumpUntil([&] { return devices_->Advises(kPhoneW) == 1; }));
  ASSERT_TRUE(devices_->Reset(kPhoneW));
  EXPECT_EQ(DeviceEvents(), std::vector<std::string>{"reset " + kPhone});
}

// A listener that goes takes the window's registration and the open
// sessions' Advise with it, at once; so does the handler. Sessions keep
// running, and tell nobody.
TEST_F(DeviceEventsTest, ListenersComingAndGoingLeaveNothingRegistered) {
  StartDevices(Devices());
  ListenTo(snapferry::kWpdDevicesChannelName);
  int copy = StartHungCopy();
  EXPECT_EQ(devices_->Advises(kPhoneW), 1);
#ifndef _WIN32
  EXPECT_EQ(win32_standin::DeviceNotificationRegistrations(), 1);
#endif
  ListenTo(snapferry::kWpdDevicesChannelName, "cancel");
  EXPECT_EQ(devices_->Advises(kPhoneW), 0);
#ifndef _WIN32
  EXPECT_EQ(win32_standin::DeviceNotificationRegistrations(), 0);
#endif
  Unplug(kPhoneW);
  EXPECT_EQ(std::get<std::string>(At(Await(copy).value, "status")), "error");
  EXPECT_TRUE(DeviceEvents().empty());

  // Back, with a listener again, and then the handler goes.
  devices_->ClearFaults();
  Plug(kPhoneW);
  ListenTo(snapferry::kWpdDevicesChannelName);
  copy = StartHungCopy();
  EXPECT_EQ(devices_->Advises(kPhoneW), 1);
  window_.set_handler(nullptr);
  handler_.reset();
  EXPECT_EQ(devices_->Advises(kPhoneW), 0);
#ifndef _WIN32
  EXPECT_EQ(win32_standin::DeviceNotificationRegistrations(), 0);
#endif
  // The copy's worker still runs; the unplug wakes it and it closes its
  // session, its reply dropped with the handler. The test ends only once
  // the worker let go of it, so that nothing reaches the engine after the
  // test.
  devices_->Unplug(kPhoneW);
  ExpectNothingAdvisedOrOpen();
  EXPECT_TRUE(PumpUntil([&] { return recorder_->LiveReplies() == 0; }));
  EXPECT_FALSE(Answered(copy));
}

}  // namespace
}  // namespace e2e
