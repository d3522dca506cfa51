#include "wpd/media_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
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
using wpd_sim::DeviceSpec;
using wpd_sim::Fault;
using wpd_sim::Fixture;
using wpd_sim::Simulator;

const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#00008110#{6ac27878}";
const std::string kPhoneUtf8 =
    "\\\\?\\usb#vid_05ac&pid_12a8#00008110#{6ac27878}";

ScanResult Scan() {
  return OnWorker([] { return ScanMedia(kPhoneUtf8); });
}

void ExpectNothingLeft(const Simulator& sim) {
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

void ExpectCounts(const MediaCounters& counts, uint64_t photos, uint64_t videos,
                  uint64_t screenshots, uint64_t sidecars, uint64_t others,
                  uint64_t total_bytes) {
  EXPECT_EQ(counts.photos, photos);
  EXPECT_EQ(counts.videos, videos);
  EXPECT_EQ(counts.screenshots, screenshots);
  EXPECT_EQ(counts.sidecars, sidecars);
  EXPECT_EQ(counts.others, others);
  EXPECT_EQ(counts.totalBytes, total_bytes);
}

wpd_sim::ObjectSpec& File(DeviceSpec& device, const std::wstring& id,
                          const std::wstring& parent, const std::wstring& name,
                          uint64_t size) {
  return device.Add(id, parent, ContentType::kImage)
      .Name(name)
      .OriginalFileName(name)
      .Size(size);
}

// An iPhone's camera roll under "Dcim", with a second folder beside it.
Fixture CameraRollFixture() {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"dcim", L"s1", L"Dcim");
  phone.AddFolder(L"100", L"dcim", L"100APPLE");
  File(phone, L"p1", L"100", L"IMG_0001.HEIC", 1000);
  File(phone, L"p2", L"100", L"IMG_0002.JPG", 200);
  File(phone, L"v1", L"100", L"IMG_0003.MOV", 30000);
  File(phone, L"s", L"100", L"IMG_0004.PNG", 40);
  File(phone, L"a", L"100", L"IMG_0002.AAE", 5);
  File(phone, L"o", L"dcim", L".MISC", 6);
  phone.AddFolder(L"dl", L"s1", L"Downloads");
  File(phone, L"x1", L"dl", L"holiday.jpg", 700000);
  File(phone, L"x2", L"dl", L"clip.mp4", 800000);
  return fixture;
}

TEST(ScanMediaTest, ScanCountsOnlyBelowDcimWhenOneExists) {
  Simulator sim(CameraRollFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  ScanResult result = Scan();
  EXPECT_EQ(result.status, ScanStatus::kOk);
  EXPECT_STREQ(ScanStatusText(result.status), "ok");
  EXPECT_EQ(result.hresult, 0);
  EXPECT_EQ(result.error, "");
  EXPECT_TRUE(result.dcimFound);
  EXPECT_EQ(result.storageChildren,
            (std::vector<std::string>{"Dcim", "Downloads"}));
  ExpectCounts(result.counts, 2, 1, 1, 1, 1, 1000 + 200 + 30000 + 40 + 5 + 6);
  ExpectNothingLeft(sim);

  // The scan declares itself as client 0.1.0, reading only.
  std::optional<wpd_sim::ClientInfo> client = sim.LastClientInfo(kPhone);
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(client->name, L"Snapferry");
  EXPECT_EQ(client->major_version, 0u);
  EXPECT_EQ(client->minor_version, 1u);
  EXPECT_EQ(client->revision, 0u);
  EXPECT_EQ(client->desired_access, 0x80000000u);
  EXPECT_EQ(client->security_quality_of_service, 0u);
}

TEST(ScanMediaTest, WithoutDcimCountsEveryFileBelowTheStoragesLevel) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  File(phone, L"r", L"DEVICE", L"root.jpg", 1);  // beside the storage: ignored
  phone.AddStorage(L"s1", L"Internal Storage");
  File(phone, L"top", L"s1", L"top.heic", 10);
  phone.AddFolder(L"d", L"s1", L"DCIM ");  // trailing space: not a camera roll
  File(phone, L"m", L"d", L"CLIP.MOV", 100);
  phone.AddFolder(L"d2", L"d", L"DCIM1");
  File(phone, L"n", L"d2", L"README", 1000);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  ScanResult result = Scan();
  EXPECT_EQ(result.status, ScanStatus::kOk);
  EXPECT_FALSE(result.dcimFound);
  EXPECT_EQ(result.storageChildren,
            (std::vector<std::string>{"top.heic", "DCIM "}));
  ExpectCounts(result.counts, 1, 1, 0, 0, 1, 1110);
  ExpectNothingLeft(sim);
}

TEST(ScanMediaTest, NamesFallBackAndMissingSizesCountAsZero) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  // Original file name empty: the object name decides the class.
  phone.Add(L"a", L"s1", ContentType::kImage)
      .OriginalFileName(L"")
      .Name(L"IMG_1.PNG")
      .Size(7);
  // No size property at all.
  phone.Add(L"b", L"s1", ContentType::kImage).Name(L"IMG_2.HEIC");
  // The original file name wins over the object name.
  phone.Add(L"c", L"s1", ContentType::kVideo)
      .OriginalFileName(L"IMG_3.MOV")
      .Name(L"IMG_3")
      .Size(9);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  ScanResult result = Scan();
  EXPECT_EQ(result.storageChildren,
            (std::vector<std::string>{"IMG_1.PNG", "IMG_2.HEIC", "IMG_3.MOV"}));
  ExpectCounts(result.counts, 1, 1, 1, 0, 0, 16);
  ExpectNothingLeft(sim);
}

TEST(ScanMediaTest, TellsEmptyStorageFromNoStorage) {
  {
    Fixture fixture;
    fixture.AddDevice(kPhone).AddStorage(L"s1", L"Internal Storage");
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    ScanResult result = Scan();
    EXPECT_EQ(result.status, ScanStatus::kEmptyStorage);
    EXPECT_STREQ(ScanStatusText(result.status), "emptyStorage");
    EXPECT_TRUE(result.storageChildren.empty());
    ExpectCounts(result.counts, 0, 0, 0, 0, 0, 0);
    ExpectNothingLeft(sim);
  }
  {
    // Only a folder under the root: no storage, yet its files are counted.
    Fixture fixture;
    DeviceSpec& phone = fixture.AddDevice(kPhone);
    phone.AddFolder(L"f", L"DEVICE", L"Photos");
    File(phone, L"p", L"f", L"IMG_1.JPG", 50);
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    ScanResult result = Scan();
    EXPECT_EQ(result.status, ScanStatus::kNoStorage);
    EXPECT_STREQ(ScanStatusText(result.status), "noStorage");
    EXPECT_EQ(result.storageChildren, std::vector<std::string>{"IMG_1.JPG"});
    ExpectCounts(result.counts, 1, 0, 0, 0, 0, 50);
    ExpectNothingLeft(sim);
  }
}

TEST(ScanMediaTest, StorageChildrenStopAtTwelveLastStorageFirst) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"First");
  phone.AddStorage(L"s2", L"Second");
  for (int i = 0; i < 3; ++i) {
    File(phone, L"a" + std::to_wstring(i), L"s1", L"a" + std::to_wstring(i), 1);
  }
  for (int i = 0; i < 20; ++i) {
    File(phone, L"b" + std::to_wstring(i), L"s2", L"b" + std::to_wstring(i), 1);
  }
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  ScanResult result = Scan();
  EXPECT_EQ(result.status, ScanStatus::kOk);
  std::vector<std::string> expected;
  for (int i = 0; i < 12; ++i) expected.push_back("b" + std::to_string(i));
  EXPECT_EQ(result.storageChildren, expected);
  // The names are capped, the counting is not.
  EXPECT_EQ(result.counts.others, 23u);
  EXPECT_EQ(result.counts.totalBytes, 23u);
  ExpectNothingLeft(sim);
}

TEST(ScanMediaTest, AccessDeniedIsAStatusWithoutText) {
  Simulator sim(CameraRollFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  ASSERT_TRUE(sim.SetOpenResult(kPhone, kAccessDenied));
  ScanResult result = Scan();
  EXPECT_EQ(result.status, ScanStatus::kAccessDenied);
  EXPECT_STREQ(ScanStatusText(result.status), "accessDenied");
  EXPECT_EQ(result.hresult, -2147024891);
  EXPECT_EQ(result.error, "");
  EXPECT_FALSE(result.dcimFound);
  EXPECT_TRUE(result.storageChildren.empty());
  ExpectCounts(result.counts, 0, 0, 0, 0, 0, 0);
  ExpectNothingLeft(sim);
}

TEST(ScanMediaTest, WholeScanFailuresNameTheirStep) {
  struct Case {
    Call call;
    bool process_wide;
    HRESULT hr;
    const char* error;
  } cases[] = {
      {Call::kCreateValues, true, kOutOfMemory,
       "Create client values failed (HRESULT 0x8007000E)"},
      {Call::kCreateDevice, true, kOutOfMemory,
       "Create PortableDevice failed (HRESULT 0x8007000E)"},
      {Call::kOpen, false, kDeviceBusy,
       "Open device failed (HRESULT 0x800700AA)"},
      {Call::kContent, false, kGenFailure,
       "Prepare content access failed (HRESULT 0x8007001F)"},
      {Call::kProperties, false, kGenFailure,
       "Prepare content access failed (HRESULT 0x8007001F)"},
      {Call::kCreateKeyCollection, true, kOutOfMemory,
       "Prepare content access failed (HRESULT 0x8007000E)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(wpd_sim::CallName(c.call));
    Simulator sim(CameraRollFixture());
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(c.process_wide
                    ? sim.SetProcessFault(c.call, Fault{c.hr, 0})
                    : sim.SetDeviceFault(kPhone, c.call, Fault{c.hr, 0}));
    ScanResult result = Scan();
    EXPECT_EQ(result.status, ScanStatus::kError);
    EXPECT_STREQ(ScanStatusText(result.status), "error");
    EXPECT_EQ(result.hresult, static_cast<int32_t>(c.hr));
    EXPECT_EQ(result.error, c.error);
    EXPECT_FALSE(result.dcimFound);
    EXPECT_TRUE(result.storageChildren.empty());
    ExpectCounts(result.counts, 0, 0, 0, 0, 0, 0);
    // A device that opened is closed again; one that did not is only
    // released.
    ExpectNothingLeft(sim);
    EXPECT_EQ(sim.Calls(Call::kEnumObjects), 0u);
    EXPECT_EQ(sim.OpenSessions(kPhone), 0);
  }
}

TEST(ScanMediaTest, ReportsAWorkerThatCannotJoinCom) {
  Simulator sim(CameraRollFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  if (!testing_util::CanFailCoInitialize(sim, kOutOfMemory)) {
    GTEST_SKIP() << "CoInitializeEx cannot be made to fail here";
  }
  ScanResult result = Scan();
  sim.ClearFaults();
  EXPECT_EQ(result.status, ScanStatus::kError);
  EXPECT_EQ(result.hresult, 0);
  EXPECT_EQ(result.error, "COM initialisation failed");
  EXPECT_EQ(sim.Calls(Call::kCreateValues), 0u);
}

TEST(ScanMediaTest, RunsInTheCallersSingleThreadedApartmentAndKeepsIt) {
  Simulator sim(CameraRollFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  bool still_sta = false;
  ScanResult result = testing_util::OnStaThread(
      sim, [] { return ScanMedia(kPhoneUtf8); }, &still_sta);
  EXPECT_TRUE(still_sta);
  EXPECT_EQ(result.status, ScanStatus::kOk);
  EXPECT_EQ(result.counts.photos, 2u);
  ExpectNothingLeft(sim);
}

TEST(ScanMediaTest, SkipsWhatCannotBeReadAndCountsTheRest) {
  Simulator sim(CameraRollFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  // A file whose properties fail is not counted; a folder whose properties
  // fail is not walked; a failed size counts the file with 0 bytes.
  // (A device that is still there: one that went away ends the walk.)
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"p1", Call::kGetValues,
                                 Fault{kDeviceBusy, 0}));
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"dl", Call::kGetValues,
                                 Fault{kDeviceBusy, 0}));
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"v1",
                                 Call::kGetUnsignedLargeIntegerValue,
                                 Fault{kDeviceBusy, 0}));
  ScanResult result = Scan();
  EXPECT_EQ(result.status, ScanStatus::kOk);
  EXPECT_EQ(result.storageChildren, std::vector<std::string>{"Dcim"});
  ExpectCounts(result.counts, 1, 1, 1, 1, 1, 200 + 40 + 5 + 6);
  ExpectNothingLeft(sim);
}

TEST(ScanMediaTest, AFailedListingKeepsTheBatchesGivenBeforeIt) {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"big", L"s1", L"Camera");
  for (int i = 0; i < 70; ++i) {
    File(phone, L"f" + std::to_wstring(i), L"big", L"IMG.JPG", 1);
  }
  phone.AddFolder(L"locked", L"s1", L"Locked");
  File(phone, L"hidden", L"locked", L"IMG.MOV", 1);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  // Ids come 64 at a time: the first batch counts, the rest is lost with
  // the failing Next. A folder that cannot be listed contributes nothing.
  ASSERT_TRUE(
      sim.SetObjectFault(kPhone, L"big", Call::kNext, Fault{kDeviceBusy, 64}));
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"locked", Call::kEnumObjects,
                                 Fault{kDeviceBusy, 0}));
  ScanResult result = Scan();
  EXPECT_EQ(result.status, ScanStatus::kOk);
  EXPECT_EQ(result.storageChildren,
            (std::vector<std::string>{"Camera", "Locked"}));
  ExpectCounts(result.counts, 64, 0, 0, 0, 0, 64);
  ExpectNothingLeft(sim);
}

}  // namespace
}  // namespace snapferry
