// What the listener on "snapferry/wpd_devices" is told: ids as listed, one
// "removed" per unplug whoever reports it, one "reset" per connection, and
// nothing a session of an earlier connection tells late. And the
// WM_DEVICECHANGE structures it reads, malformed ones included.
#include "channel/device_events.h"

#include <dbt.h>
#include <gtest/gtest.h>
#include <portabledevice.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "tests/channel/channel_test_util.h"
#include "tests/channel/device_broadcast.h"

namespace snapferry {
namespace {

using channel_test::At;
using channel_test::DeviceBroadcast;
using flutter::EncodableValue;

constexpr char kListed[] = "\\\\?\\usb#vid_05ac&pid_12a8#phone#{6ac27878}";
constexpr char kShouted[] = "\\\\?\\USB#VID_05AC&PID_12A8#PHONE#{6ac27878}";
constexpr char kStranger[] = "\\\\?\\USB#VID_04A9#CAMERA#{6ac27878}";

std::string Text(const std::optional<EncodableValue>& event) {
  if (!event) return "-";
  return std::get<std::string>(At(*event, "event")) + " " +
         std::get<std::string>(At(*event, "id"));
}

TEST(DeviceEventFilter, TellsEachChangeOnceUnderTheListedId) {
  DeviceEventFilter filter;
  filter.SetListed({kListed, "other"});
  enum Step { kArrive, kRemove, kSessionReset, kSessionRemoved };
  const struct {
    Step step;
    const char* name;
    uint64_t session;  // kArrive: sessions advised so far
    std::string told;
  } steps[] = {
      // The system names the listed phone in capitals: the listed id goes.
      {kSessionReset, kListed, 1, std::string("reset ") + kListed},
      {kSessionReset, kListed, 2, "-"},  // one reset per connection
      {kRemove, kShouted, 0, std::string("removed ") + kListed},
      {kSessionRemoved, kListed, 2, "-"},  // the same unplug, told again
      {kSessionReset, kListed, 2, "-"},    // a device that went is not reset
      {kArrive, kShouted, 2, std::string("arrived ") + kListed},
      // Sessions 1 and 2 belong to the connection before: told late, dropped.
      {kSessionRemoved, kListed, 2, "-"},
      {kSessionReset, kListed, 1, "-"},
      // A session of the new connection tells the next unplug first.
      {kSessionReset, kListed, 3, std::string("reset ") + kListed},
      {kSessionRemoved, kListed, 3, std::string("removed ") + kListed},
      {kRemove, kShouted, 0, "-"},
      // Never listed: the notification's own path.
      {kArrive, kStranger, 3, std::string("arrived ") + kStranger},
      {kRemove, kStranger, 0, std::string("removed ") + kStranger},
  };
  for (const auto& step : steps) {
    std::optional<EncodableValue> told;
    switch (step.step) {
      case kArrive:
        told = filter.Arrived(step.name, step.session);
        break;
      case kRemove:
        told = filter.Removed(step.name);
        break;
      case kSessionReset:
        told = filter.FromSession(step.name, DeviceEventKind::kReset,
                                  step.session);
        break;
      case kSessionRemoved:
        told = filter.FromSession(step.name, DeviceEventKind::kRemoved,
                                  step.session);
        break;
    }
    EXPECT_EQ(Text(told), step.told) << step.name << " " << step.session;
  }
  // A listener that comes back starts afresh: the device may have come and
  // gone unseen meanwhile.
  filter.ForgetDevices();
  EXPECT_EQ(Text(filter.Removed(kShouted)), std::string("removed ") + kListed);
}

TEST(DeviceEventFilter, ReadsOnlyWellFormedWpdInterfaceChanges) {
  const size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  const GUID kOtherClass = {0xa5dcbf10,
                            0x6530,
                            0x11d2,
                            {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
  const struct {
    const char* what;
    std::vector<unsigned char> bytes;
    std::optional<std::string> path;
  } cases[] = {
      {"a phone", DeviceBroadcast(L"\\\\?\\USB#PHONE"), "\\\\?\\USB#PHONE"},
      {"UTF-16 in the name", DeviceBroadcast(L"\\\\?\\USB#\u00c9"),
       "\\\\?\\USB#\xc3\x89"},
      {"another interface class",
       DeviceBroadcast(L"x", 0, DBT_DEVTYP_DEVICEINTERFACE, kOtherClass),
       std::nullopt},
      {"a volume", DeviceBroadcast(L"x", 0, DBT_DEVTYP_VOLUME), std::nullopt},
      {"an empty name", DeviceBroadcast(L""), std::nullopt},
      {"shorter than the header", DeviceBroadcast(L"x", 8), std::nullopt},
      // The name is read only as far as the size goes, NUL or not.
      {"no NUL within the size",
       DeviceBroadcast(L"ABCDEF",
                       static_cast<DWORD>(offset + 3 * sizeof(WCHAR))),
       "ABC"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(WpdInterfacePath(reinterpret_cast<LPARAM>(test.bytes.data())),
              test.path)
        << test.what;
  }
  EXPECT_EQ(WpdInterfacePath(0), std::nullopt);
}

}  // namespace
}  // namespace snapferry
