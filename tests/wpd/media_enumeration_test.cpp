#include "wpd/media_enumeration.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_outcome.h"
#include "tests/wpd/device_test_util.h"

namespace snapferry {
namespace {

using testing_util::kAccessDenied;
using testing_util::kDeviceBusy;
using testing_util::kGenFailure;
using testing_util::kOutOfMemory;
using testing_util::OnWorker;
using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::DateProperty;
using wpd_sim::DeviceSpec;
using wpd_sim::Fault;
using wpd_sim::Fixture;
using wpd_sim::Simulator;

const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#00008110#{6ac27878}";
const std::string kPhoneUtf8 =
    "\\\\?\\usb#vid_05ac&pid_12a8#00008110#{6ac27878}";

EnumerationResult Enumerate() {
  return OnWorker([] { return EnumerateMedia(kPhoneUtf8); });
}

void ExpectNothingLeft(const Simulator& sim) {
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

wpd_sim::ObjectSpec& File(DeviceSpec& device, const std::wstring& id,
                          const std::wstring& parent, const std::wstring& name,
                          uint64_t size = 1) {
  return device.Add(id, parent, ContentType::kImage)
      .Name(name)
      .OriginalFileName(name)
      .Size(size);
}

// "id name parentPath" per entry, for comparing order and placement.
std::vector<std::string> Placement(const EnumerationResult& result) {
  std::vector<std::string> lines;
  for (const MediaEntry& entry : result.entries) {
    lines.push_back(entry.objectId + " " + entry.name + " " + entry.parentPath);
  }
  return lines;
}

TEST(EnumerateMediaTest, WalksDepthFirstLastContainerFirstOwnFilesFirst) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  File(phone, L"r", L"DEVICE", L"root.jpg");  // never listed
  phone.AddStorage(L"s1", L"Phone");
  phone.AddStorage(L"s2", L"Card");
  File(phone, L"a1", L"s1", L"a1.jpg");
  phone.AddFolder(L"A", L"s1", L"A");
  File(phone, L"b1", L"s1", L"b1.mov");
  phone.AddFolder(L"B", L"s1", L"B");
  File(phone, L"a2", L"A", L"a2.png");
  phone.AddFolder(L"A1", L"A", L"A1");
  File(phone, L"a3", L"A1", L"a3.aae");
  File(phone, L"b2", L"B", L"b2.heic");
  File(phone, L"c1", L"s2", L"c1.jpg");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();

  EnumerationResult result = Enumerate();
  EXPECT_EQ(result.message, "");
  EXPECT_EQ(result.hresult, 0);
  EXPECT_EQ(Placement(result),
            (std::vector<std::string>{"c1 c1.jpg Card", "a1 a1.jpg Phone",
                                      "b1 b1.mov Phone", "b2 b2.heic B",
                                      "a2 a2.png A", "a3 a3.aae A1"}));
  ExpectNothingLeft(sim);

  std::optional<wpd_sim::ClientInfo> client = sim.LastClientInfo(kPhone);
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(client->minor_version, 2u);
  EXPECT_EQ(client->desired_access, 0x80000000u);
}

TEST(EnumerateMediaTest, ListsOnlyMediaAtOrBelowFoldersNamedDcim) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  // Met before any dcim folder is known, and dropped in the end.
  File(phone, L"z", L"s1", L"z.jpg");
  phone.AddFolder(L"dcim", L"s1", L"DCIM");
  phone.AddFolder(L"dl", L"s1", L"Downloads");
  phone.AddFolder(L"other", L"s1", L"Other");
  phone.AddFolder(L"nested", L"other", L"dcim");
  File(phone, L"y", L"nested", L"y.jpg");
  File(phone, L"x", L"dl", L"x.jpg");
  phone.AddFolder(L"100", L"dcim", L"100APPLE");
  phone.AddFolder(L"101", L"dcim", L"101APPLE");
  File(phone, L"d", L"dcim", L"d.png");
  File(phone, L"p1", L"100", L"IMG_0001.HEIC");
  File(phone, L"p2", L"100", L"IMG_0002.MOV");
  File(phone, L"t", L"100", L"notes.txt");
  File(phone, L"u", L"100", L"README");
  File(phone, L"e", L"100", L"");
  File(phone, L"p3", L"101", L"IMG_0003.JPG");
  // What cannot be read counts by the same rule: before the dcim folder
  // was met, after it outside, and inside two dcim folders.
  for (auto [id, parent] : {std::pair{L"zbad", L"s1"},
                            {L"xbad", L"dl"},
                            {L"ybad", L"nested"},
                            {L"pbad", L"100"}}) {
    File(phone, id, parent, L"IMG_0009.JPG")
        .Fail(Call::kGetValues, kDeviceBusy);
  }
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();

  EnumerationResult result = Enumerate();
  EXPECT_EQ(result.message, "");
  EXPECT_EQ(Placement(result),
            (std::vector<std::string>{
                "y y.jpg dcim", "d d.png DCIM", "p3 IMG_0003.JPG 101APPLE",
                "p1 IMG_0001.HEIC 100APPLE", "p2 IMG_0002.MOV 100APPLE"}));
  EXPECT_EQ(test::Outcome(result.unread),
            " unread dcim/ybad 0x800700AA; unread 100APPLE/pbad 0x800700AA;");
  ExpectNothingLeft(sim);
}

TEST(EnumerateMediaTest, WithoutDcimListsFilesInStoragesUnderTheirName) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  File(phone, L"a", L"s1", L"IMG_1.JPG");
  phone.AddFolder(L"f", L"s1", L"DCIM1");
  File(phone, L"b", L"f", L"IMG_2.JPG");
  // A container without any name gives its files an empty parent path.
  phone.Add(L"g", L"s1", ContentType::kFolder);
  File(phone, L"c", L"g", L"IMG_3.JPG");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  EnumerationResult result = Enumerate();
  EXPECT_EQ(Placement(result),
            (std::vector<std::string>{"a IMG_1.JPG Internal Storage",
                                      "c IMG_3.JPG ", "b IMG_2.JPG DCIM1"}));
  ExpectNothingLeft(sim);
}

TEST(EnumerateMediaTest, TakesNoMoreIdsFromABatchThanItHolds) {
  // Next reports more ids than the 64 asked for, but wrote only 64.
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.next_overcount = 5;
  phone.AddStorage(L"s1", L"Internal Storage");
  for (int i = 0; i < 70; ++i) {
    File(phone, L"o" + std::to_wstring(i), L"s1",
         L"IMG_" + std::to_wstring(1000 + i) + L".JPG");
  }
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  EnumerationResult result = Enumerate();
  ASSERT_EQ(result.entries.size(), 70u);
  EXPECT_EQ(result.entries[63].objectId, "o63");
  EXPECT_EQ(result.entries[64].objectId, "o64");
  ExpectNothingLeft(sim);
}

TEST(EnumerateMediaTest, NamesSizesAndDatesFallBack) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  File(phone, L"both", L"s1", L"both.heic", 300000)
      .Created(DateProperty::At(2023, 7, 14, 9, 5, 3))
      .Modified(DateProperty::At(2024, 1, 1, 0, 0, 0));
  File(phone, L"modified", L"s1", L"modified.mov", 5)
      .Modified(DateProperty::At(1999, 12, 31, 23, 59, 59));
  // A creation date stored as text is no date: the modification date holds.
  File(phone, L"text", L"s1", L"text.jpg", 6)
      .Created(DateProperty::String(L"2023-07-14"))
      .Modified(DateProperty::At(2020, 2, 29, 12, 0, 0));
  phone.Add(L"plain", L"s1", ContentType::kImage).Name(L"IMG_9.PNG");
  phone.Add(L"big", L"s1", ContentType::kVideo)
      .OriginalFileName(L"LONG.M4V")
      .Name(L"LONG")
      .Size(0x1'0000'0001ull);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();

  EnumerationResult result = Enumerate();
  ASSERT_EQ(result.entries.size(), 5u);
  const MediaEntry& both = result.entries[0];
  EXPECT_EQ(both.name, "both.heic");
  EXPECT_EQ(both.size, 300000u);
  EXPECT_EQ(both.date, "2023-07-14T09:05:03");
  EXPECT_EQ(result.entries[1].date, "1999-12-31T23:59:59");
  EXPECT_EQ(result.entries[2].date, "2020-02-29T12:00:00");
  const MediaEntry& plain = result.entries[3];
  EXPECT_EQ(plain.objectId, "plain");
  EXPECT_EQ(plain.name, "IMG_9.PNG");
  EXPECT_EQ(plain.size, 0u);
  EXPECT_EQ(plain.date, "");
  EXPECT_EQ(result.entries[4].name, "LONG.M4V");
  EXPECT_EQ(result.entries[4].size, 0x1'0000'0001ull);
  ExpectNothingLeft(sim);
}

TEST(EnumerateMediaTest, EmptyDeviceIsAnEmptySuccess) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  File(phone, L"t", L"s1", L"notes.txt");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  EnumerationResult result = Enumerate();
  EXPECT_EQ(result.message, "");
  EXPECT_EQ(result.hresult, 0);
  EXPECT_TRUE(result.entries.empty());
  ExpectNothingLeft(sim);
}

TEST(EnumerateMediaTest, WholeEnumerationFailuresGiveTextAndCode) {
  struct Case {
    Call call;
    bool process_wide;
    HRESULT hr;
    const char* message;
  } cases[] = {
      // Every failure to open, whichever step, is "Open device".
      {Call::kOpen, false, kAccessDenied,
       "Open device failed (HRESULT 0x80070005)"},
      {Call::kCreateValues, true, kOutOfMemory,
       "Open device failed (HRESULT 0x8007000E)"},
      {Call::kCreateDevice, true, kOutOfMemory,
       "Open device failed (HRESULT 0x8007000E)"},
      {Call::kContent, false, kGenFailure,
       "Prepare content access failed (HRESULT 0x8007001F)"},
      {Call::kProperties, false, kGenFailure,
       "Prepare content access failed (HRESULT 0x8007001F)"},
      {Call::kCreateKeyCollection, true, kOutOfMemory,
       "Prepare content access failed (HRESULT 0x8007000E)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(wpd_sim::CallName(c.call));
    Fixture fixture;
    File(fixture.AddDevice(kPhone), L"f", L"DEVICE", L"a.jpg");
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(c.process_wide
                    ? sim.SetProcessFault(c.call, Fault{c.hr, 0})
                    : sim.SetDeviceFault(kPhone, c.call, Fault{c.hr, 0}));
    EnumerationResult result = Enumerate();
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(result.hresult, static_cast<int32_t>(c.hr));
    EXPECT_TRUE(result.entries.empty());
    EXPECT_EQ(sim.Calls(Call::kEnumObjects), 0u);
    EXPECT_EQ(sim.OpenSessions(kPhone), 0);
    ExpectNothingLeft(sim);
  }
}

TEST(EnumerateMediaTest, AccessDeniedCarriesTheSignExtendedCode) {
  Fixture fixture;
  fixture.AddDevice(kPhone).OpenResult(kAccessDenied);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  EnumerationResult result = Enumerate();
  EXPECT_EQ(result.message, "Open device failed (HRESULT 0x80070005)");
  EXPECT_EQ(static_cast<int64_t>(result.hresult), -2147024891);
  ExpectNothingLeft(sim);
}

TEST(EnumerateMediaTest, ReportsAWorkerThatCannotJoinCom) {
  Simulator sim(Fixture{});
  ASSERT_TRUE(sim.ok()) << sim.error();
  if (!testing_util::CanFailCoInitialize(sim, kOutOfMemory)) {
    GTEST_SKIP() << "CoInitializeEx cannot be made to fail here";
  }
  EnumerationResult result = Enumerate();
  sim.ClearFaults();
  EXPECT_EQ(result.message, "COM initialisation failed");
  EXPECT_EQ(result.hresult, 0);
  EXPECT_EQ(sim.Calls(Call::kCreateValues), 0u);
}

TEST(EnumerateMediaTest, RunsInTheCallersSingleThreadedApartmentAndKeepsIt) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  File(phone, L"a", L"s1", L"IMG_1.JPG");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  bool still_sta = false;
  EnumerationResult result = testing_util::OnStaThread(
      sim, [] { return EnumerateMedia(kPhoneUtf8); }, &still_sta);
  EXPECT_TRUE(still_sta);
  EXPECT_EQ(result.message, "");
  EXPECT_EQ(result.entries.size(), 1u);
  ExpectNothingLeft(sim);
}

TEST(EnumerateMediaTest, SkipsObjectsAndListingsThatFailAndKeepsTheRest) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"big", L"s1", L"Camera");
  for (int i = 0; i < 70; ++i) {
    File(phone, L"f" + std::to_wstring(i), L"big", L"IMG.JPG");
  }
  phone.AddFolder(L"locked", L"s1", L"Locked");
  File(phone, L"hidden", L"locked", L"IMG.MOV");
  phone.AddFolder(L"unreadable", L"s1", L"Unreadable");
  File(phone, L"inside", L"unreadable", L"IMG.MOV");
  phone.AddFolder(L"nameless", L"s1", L"202610_a")
      .Fail(Call::kGetStringValue, kDeviceBusy);
  File(phone, L"misplaced", L"nameless", L"IMG.HEIC");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  // Ids come 64 at a time: the first batch stays, the rest goes with the
  // failing Next; one file of it cannot be read; a folder that cannot be
  // listed, or whose own properties or name fail, gives nothing (its files
  // must not be listed under no folder name). Each is recorded.
  // (A device that is still there: one that went away ends the walk.)
  ASSERT_TRUE(
      sim.SetObjectFault(kPhone, L"big", Call::kNext, Fault{kDeviceBusy, 64}));
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"f3", Call::kGetValues,
                                 Fault{kDeviceBusy, 0}));
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"locked", Call::kEnumObjects,
                                 Fault{kDeviceBusy, 0}));
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"unreadable", Call::kGetValues,
                                 Fault{kDeviceBusy, 0}));
  EnumerationResult result = Enumerate();
  EXPECT_EQ(result.message, "");
  ASSERT_EQ(result.entries.size(), 63u);
  EXPECT_EQ(result.entries[2].objectId, "f2");
  EXPECT_EQ(result.entries[3].objectId, "f4");
  EXPECT_EQ(result.entries.back().objectId, "f63");
  EXPECT_EQ(test::Outcome(result.unread),
            " unread Internal Storage/unreadable 0x800700AA;"
            " unread Internal Storage/nameless 0x800700AA;"
            " unread Locked/locked 0x800700AA;"
            " unread Camera/f3 0x800700AA; unread Camera/big 0x800700AA;");
  ExpectNothingLeft(sim);
}

}  // namespace
}  // namespace snapferry
