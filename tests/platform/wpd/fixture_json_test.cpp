// Fixture files: every key loads as documented, every kind of mistake is
// reported with where and what, and the environment variable picks the file
// or the built-in demo devices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/wpd/simulator/simulator.h"

namespace {

using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::DateProperty;
using wpd_sim::Fixture;
using wpd_sim::ObjectSpec;

const char kEveryKey[] = R"({
  "devices": [ {
    "id": "\\\\?\\usb#vid_05ac&pid_12a8#1",
    "friendlyName": "Anna’s iPhone", "manufacturer": "Apple Inc.",
    "description": "iPhone",
    "openHresult": 2147942405,
    "optimalTransferSize": 4096,
    "maxReadSize": 100, "shortReadResult": "S_FALSE",
    "locked": true, "unlockAfterMs": 1500, "reset": true,
    "goneHresult": 2147942431, "nextOvercount": 3, "noticeUnplugAfterMs": 250,
    "reusesIdsOnReplug": true, "bulk": true,
    "model": "iPhone", "firmwareVersion": "27.0", "protocol": "MTP: 1.00",
    "serialNumber": "F17", "powerLevel": 84, "powerSource": 1,
    "supportsNonConsumable": true,
    "link": {"profile": "usb2", "thumbnailMs": 30},
    "fail": { "Content": -2147467259, "Transfer": 2147500037,
              "GetDeviceManufacturer": 5, "GetValues": {"hresult": -1, "afterCalls": 3},
              "QueueGetValuesByObjectList": 6, "Start": {"unplug": true, "afterCalls": 1},
              "BulkValues": {"hang": true, "afterItems": 120} },
    "objects": [
      { "id": "s1", "parent": "DEVICE", "contentType": "functional", "name": "Internal Storage",
        "storageAccessCapability": 1, "fileSystemType": "DCF",
        "capacity": 63978983424, "freeSpace": 0 },
      { "id": "d1", "parent": "s1", "contentType": "folder", "name": "DCIM" },
      { "id": "f1", "parent": "d1", "contentType": "image", "name": "IMG_0001",
        "originalFileName": "IMG_0001.HEIC", "size": 5000000000,
        "dateCreated": "2023-07-14T09:05:03",
        "dateModified": {"string": "yesterday"},
        "canDelete": true, "data": {"pattern": 1073741824},
        "thumbnail": {"pattern": 2000000},
        "fail": { "GetValues": -2147024891, "EnumObjects": 1, "Next": {"hresult": 2, "afterItems": 64},
                  "GetStream": 3, "Delete": 4, "Read": { "hresult": -2147024865, "afterBytes": 4096 } } },
      { "id": "f2", "parent": "d1", "contentType": "video", "dateCreated": {"uint": 7},
        "canDelete": 2, "data": {"hex": "00ffA1"}, "thumbnail": {"hex": "ffd8ffd9"},
        "deleteAnswer": "S_FALSE", "deleteKeepsObject": true },
      { "id": "f3", "parent": "s1", "contentType": "none", "canDelete": false, "data": "héllo" },
      { "id": "f4", "fail": { "BulkValues": {"hresult": 1, "afterCalls": 2} } },
      { "id": "f5", "parent": "d1", "contentType": "unspecified", "format": "0x300D",
        "persistentUniqueId": "{P5}", "containerFunctionalObjectId": "s1",
        "fail": { "Read": {"hang": true, "afterBytes": 9}, "GetStream": {"unplug": true, "afterCalls": 2} } },
      { "id": "f6", "format": 14337, "fail": { "Read": {"hresult": 0, "afterBytes": 12} } }
    ]
  }, { "id": "bare" } ],
  "getDevicesOvercount": 2,
  "randomFaults": {"rate": 0.25, "seed": 18446744073709551615,
                   "hresults": [-2147467259, 2147942431]},
  "fail": { "CoInitializeEx": -2147418113, "CreateManager": 1, "GetDevices": 2, "CreateDevice": 3,
            "CreateValues": 4, "CreateKeyCollection": 5, "CreatePropVariantCollection": 6,
            "CreateValuesCollection": 7 }
})";

HRESULT H(uint32_t value) { return static_cast<HRESULT>(value); }

TEST(WpdFixtureJson, FileWithEveryKeyLoadsAsDescribed) {
  Fixture fixture;
  std::string error;
  ASSERT_TRUE(wpd_sim::ParseFixtureJson(kEveryKey, &fixture, &error)) << error;

  ASSERT_EQ(fixture.faults.size(), 8u);
  EXPECT_EQ(fixture.faults[0].first, Call::kCoInitializeEx);
  EXPECT_EQ(fixture.faults[0].second.hresult, H(0x8000FFFF));
  EXPECT_EQ(fixture.faults[6].first, Call::kCreatePropVariantCollection);
  EXPECT_EQ(fixture.faults[7].first, Call::kCreateValuesCollection);

  ASSERT_EQ(fixture.devices.size(), 2u);
  const wpd_sim::DeviceSpec& phone = fixture.devices[0];
  EXPECT_EQ(phone.id, L"\\\\?\\usb#vid_05ac&pid_12a8#1");
  EXPECT_EQ(phone.friendly_name, std::wstring(L"Anna\u2019s iPhone"));
  EXPECT_EQ(phone.description, std::wstring(L"iPhone"));
  EXPECT_EQ(phone.open_hresult, E_ACCESSDENIED);  // written unsigned
  EXPECT_EQ(phone.optimal_transfer_size, 4096u);
  EXPECT_EQ(phone.max_read_size, 100u);
  EXPECT_TRUE(phone.short_read_is_s_false);
  EXPECT_TRUE(phone.locked);
  EXPECT_EQ(phone.unlock_after_ms, 1500u);
  EXPECT_TRUE(phone.reset);
  EXPECT_EQ(phone.gone_hresult, H(0x8007001F));
  EXPECT_EQ(phone.notice_unplug_after_ms, 250u);
  EXPECT_EQ(phone.next_overcount, 3u);
  EXPECT_TRUE(phone.reuses_ids_on_replug);
  EXPECT_TRUE(phone.bulk);
  EXPECT_EQ(phone.properties.model, std::wstring(L"iPhone"));
  EXPECT_EQ(phone.properties.firmware_version, std::wstring(L"27.0"));
  EXPECT_EQ(phone.properties.protocol, std::wstring(L"MTP: 1.00"));
  EXPECT_EQ(phone.properties.serial_number, std::wstring(L"F17"));
  EXPECT_EQ(phone.properties.power_level, 84u);
  EXPECT_EQ(phone.properties.power_source, 1u);
  EXPECT_EQ(phone.properties.supports_non_consumable, true);
  EXPECT_EQ(phone.objects[0].capacity, UINT64_C(63978983424));
  EXPECT_EQ(phone.objects[0].free_space, UINT64_C(0));
  ASSERT_TRUE(phone.link.has_value());
  EXPECT_EQ(phone.link->open_ms, 20);
  EXPECT_EQ(phone.link->thumbnail_ms, 30);
  EXPECT_EQ(fixture.get_devices_overcount, 2u);
  EXPECT_EQ(fixture.random_faults.rate, 0.25);
  EXPECT_EQ(fixture.random_faults.seed, UINT64_C(18446744073709551615));
  EXPECT_EQ(fixture.random_faults.hresults,
            (std::vector<HRESULT>{E_FAIL, H(0x8007001F)}));
  ASSERT_EQ(phone.faults.size(), 7u);
  EXPECT_EQ(phone.faults[0].first, Call::kContent);
  EXPECT_EQ(phone.faults[0].second.hresult, E_FAIL);  // written signed
  EXPECT_EQ(phone.faults[1].second.hresult, E_FAIL);  // written unsigned
  EXPECT_EQ(phone.faults[3].first, Call::kGetValues);
  EXPECT_EQ(phone.faults[3].second.after, 3u);
  EXPECT_EQ(phone.faults[4].first, Call::kQueueGetValuesByObjectList);
  EXPECT_EQ(phone.faults[5].first, Call::kStart);
  EXPECT_EQ(phone.faults[5].second.action, wpd_sim::Fault::Action::kUnplug);
  // A device's bulk fault counts the objects of each request.
  EXPECT_EQ(phone.faults[6].first, Call::kBulkValues);
  EXPECT_EQ(phone.faults[6].second.action, wpd_sim::Fault::Action::kHang);
  EXPECT_EQ(phone.faults[6].second.after, 120u);

  ASSERT_EQ(phone.objects.size(), 8u);
  EXPECT_EQ(phone.objects[0].storage_access, 1u);
  EXPECT_EQ(phone.objects[0].file_system_type, std::wstring(L"DCF"));
  const ObjectSpec& f1 = phone.objects[2];
  EXPECT_EQ(f1.parent, L"d1");
  EXPECT_EQ(f1.content_type, ContentType::kImage);
  EXPECT_EQ(f1.original_file_name, std::wstring(L"IMG_0001.HEIC"));
  EXPECT_EQ(f1.size, 5000000000u);
  ASSERT_EQ(f1.date_created.kind, DateProperty::Kind::kDate);
  EXPECT_DOUBLE_EQ(f1.date_created.date,
                   45121.0 + (9 * 3600 + 5 * 60 + 3) / 86400.0);
  EXPECT_EQ(f1.date_modified.kind, DateProperty::Kind::kString);
  EXPECT_EQ(f1.date_modified.text, L"yesterday");
  EXPECT_EQ(f1.can_delete, -1);
  EXPECT_EQ(f1.DataSize(), 1u << 30);
  EXPECT_EQ(f1.thumbnail_kind, ObjectSpec::DataKind::kPattern);
  EXPECT_EQ(f1.thumbnail_pattern_size, 2000000u);
  EXPECT_EQ(f1.delete_answer, S_OK);
  EXPECT_FALSE(f1.delete_keeps_object);
  ASSERT_EQ(f1.faults.size(), 6u);
  EXPECT_EQ(f1.faults[2].first, Call::kNext);
  EXPECT_EQ(f1.faults[2].second.after, 64u);
  EXPECT_EQ(f1.faults[5].first, Call::kRead);
  EXPECT_EQ(f1.faults[5].second.hresult, H(0x8007001F));
  EXPECT_EQ(f1.faults[5].second.after, 4096u);

  const ObjectSpec& f2 = phone.objects[3];
  EXPECT_EQ(f2.content_type, ContentType::kVideo);
  EXPECT_FALSE(f2.name.has_value());
  EXPECT_FALSE(f2.size.has_value());
  EXPECT_EQ(f2.date_created.kind, DateProperty::Kind::kUint);
  EXPECT_EQ(f2.date_created.uint, 7u);
  EXPECT_EQ(f2.date_modified.kind, DateProperty::Kind::kMissing);
  EXPECT_EQ(f2.can_delete, 2);
  EXPECT_EQ(*f2.bytes, std::string("\x00\xff\xa1", 3));
  ASSERT_EQ(f2.thumbnail_kind, ObjectSpec::DataKind::kBytes);
  EXPECT_EQ(*f2.thumbnail_bytes, "\xff\xd8\xff\xd9");
  EXPECT_EQ(f2.delete_answer, S_FALSE);
  EXPECT_TRUE(f2.delete_keeps_object);

  const ObjectSpec& f3 = phone.objects[4];
  EXPECT_EQ(f3.content_type, ContentType::kNone);
  EXPECT_EQ(f3.can_delete, 0);
  EXPECT_EQ(*f3.bytes, "h\xc3\xa9llo");  // the UTF-8 bytes of the text

  const ObjectSpec& f4 = phone.objects[5];
  EXPECT_EQ(f4.parent, L"DEVICE");
  EXPECT_EQ(f4.content_type, ContentType::kGeneric);
  EXPECT_EQ(f4.data_kind, ObjectSpec::DataKind::kNone);
  ASSERT_EQ(f4.faults.size(), 1u);
  EXPECT_EQ(f4.faults[0].first, Call::kBulkValues);
  EXPECT_EQ(f4.faults[0].second.after, 2u);

  const ObjectSpec& f5 = phone.objects[6];
  EXPECT_EQ(f5.content_type, ContentType::kUnspecified);
  EXPECT_EQ(f5.format, 0x300D);
  EXPECT_EQ(f5.persistent_unique_id, std::wstring(L"{P5}"));
  EXPECT_EQ(f5.container, std::wstring(L"s1"));
  ASSERT_EQ(f5.faults.size(), 2u);
  EXPECT_EQ(f5.faults[0].second.action, wpd_sim::Fault::Action::kHang);
  EXPECT_EQ(f5.faults[0].second.after, 9u);
  EXPECT_EQ(f5.faults[1].second.action, wpd_sim::Fault::Action::kUnplug);
  EXPECT_EQ(f5.faults[1].second.after, 2u);
  const ObjectSpec& f6 = phone.objects[7];
  EXPECT_EQ(f6.format, 0x3801);
  EXPECT_EQ(f6.faults[0].second.action, wpd_sim::Fault::Action::kFail);
  EXPECT_EQ(f6.faults[0].second.hresult, S_OK);  // the data ends there

  const wpd_sim::DeviceSpec& bare = fixture.devices[1];
  EXPECT_FALSE(bare.friendly_name.has_value());
  EXPECT_EQ(bare.open_hresult, S_OK);
  EXPECT_EQ(bare.optimal_transfer_size, 262144u);
  EXPECT_FALSE(bare.locked);
  EXPECT_EQ(bare.gone_hresult, wpd_sim::kDeviceNotConnected);
  EXPECT_EQ(bare.notice_unplug_after_ms, 0u);
  EXPECT_FALSE(bare.bulk);
  EXPECT_TRUE(bare.objects.empty());
}

TEST(WpdFixtureJson, MalformedFilesSayWhereAndWhat) {
  const struct {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"devices": [ {"id": "a",} ]})",
       "not valid JSON: parse error at line 1"},
      {"[]", "the top level must be an object"},
      // Found by fuzzing: a number too large for any type, and a key that
      // would have split the one-line error in two.
      {R"({"devices": 2e155555})", "not valid JSON: number overflow"},
      {"{\"de\\nvi\x7f\": []}", "de\\x0Avi\\x7F: unknown key"},
      {R"({"device": []})", "device: unknown key"},
      {R"({"devices": {}})", "devices: must be an array"},
      {R"({"devices": [ {"friendlyName": "x"} ]})",
       "devices[0]: needs an \"id\""},
      {R"({"devices": [ {"id": 7} ]})", "devices[0].id: must be a string"},
      {R"({"devices": [ {"id": ""} ]})", "devices[0].id: empty"},
      {R"({"devices": [ {"id": "a", "openHresult": 4294967296} ]})",
       "devices[0].openHresult: must be an HRESULT"},
      {R"({"devices": [ {"id": "a", "openHresult": 1.5} ]})",
       "devices[0].openHresult: must be an HRESULT"},
      {R"({"devices": [ {"id": "a", "optimalTransferSize": -1} ]})",
       "devices[0].optimalTransferSize: must be a non-negative integer"},
      {R"({"devices": [ {"id": "a", "fail": {"Reed": 1}} ]})",
       "devices[0].fail.Reed: no such call"},
      {R"({"devices": [ {"id": "a", "fail": {"CreateManager": 1}} ]})",
       "devices[0].fail.CreateManager: not a call that a device can fail"},
      {R"({"fail": {"Open": 1}})", "fail.Open: not a process-wide call"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "fail": {"Content": 1}} ]} ]})",
       "devices[0].objects[0].fail.Content: not a call that an object can "
       "fail"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "fail": {"Read": {"hresult": 1, "afterItems": 2}}} ]} ]})",
       "devices[0].objects[0].fail.Read.afterItems: unknown key"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "fail": {"Next": {"afterItems": 2}}} ]} ]})",
       "devices[0].objects[0].fail.Next: needs \"hresult\""},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "parent": "p"} ]} ]})",
       "devices[0].objects[0].parent: \"p\" is neither \"DEVICE\" nor an "
       "earlier object"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "parent": "o2"}, {"id": "o2"} ]} ]})",
       "devices[0].objects[0].parent: \"o2\" is neither"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o"}, {"id": "o"} ]} ]})",
       "devices[0].objects[1].id: \"o\" is used twice"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "contentType": "photo"} ]} ]})",
       "devices[0].objects[0].contentType: must be one of"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "size": -5} ]} ]})",
       "devices[0].objects[0].size: must be a non-negative integer"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "dateCreated": "2023-07-14 09:05:03"} ]} ]})",
       "devices[0].objects[0].dateCreated: must be a date written "
       "YYYY-MM-DDTHH:MM:SS"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "dateModified": "2023-02-29T10:00:00"} ]} ]})",
       "devices[0].objects[0].dateModified: \"2023-02-29T10:00:00\" is not a "
       "valid date"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "dateCreated": {"int": 5}} ]} ]})",
       "devices[0].objects[0].dateCreated: must be \"YYYY-MM-DDTHH:MM:SS\""},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "canDelete": "yes"} ]} ]})",
       "devices[0].objects[0].canDelete: must be true, false or a 32-bit "
       "integer"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "data": {"hex": "abc"}} ]} ]})",
       "devices[0].objects[0].data.hex: has an odd number of digits"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "data": {"hex": "zz"}} ]} ]})",
       "devices[0].objects[0].data.hex: holds a character that is not a "
       "hexadecimal digit"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "data": 12} ]} ]})",
       "devices[0].objects[0].data: must be a string"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "thumbnail": 12} ]} ]})",
       "devices[0].objects[0].thumbnail: must be a string"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "deleteAnswer": "E_FAIL"} ]} ]})",
       "devices[0].objects[0].deleteAnswer: must be \"S_OK\" or \"S_FALSE\""},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "deleteKeepsObject": 1} ]} ]})",
       "devices[0].objects[0].deleteKeepsObject: must be true or false"},
      {R"({"devices": [ {"id": "a", "link": {"thumbnailMs": "slow"}} ]})",
       "devices[0].link.thumbnailMs: must be a number from 0 to 60000"},
      {R"({"devices": [ {"id": "a", "shortReadResult": "S_MAYBE"} ]})",
       "devices[0].shortReadResult: must be \"S_OK\" or \"S_FALSE\""},
      {R"({"devices": [ {"id": "a", "link": "usb3"} ]})",
       "devices[0].link: must be \"usb2\" or \"usbc\""},
      {R"({"devices": [ {"id": "a", "link": {"profile": "usb2", "roundTripMs": -1}} ]})",
       "devices[0].link.roundTripMs: must be a number from 0 to 60000"},
      {R"({"devices": [ {"id": "a", "link": {"rtt": 1}} ]})",
       "devices[0].link.rtt: unknown key"},
      {R"({"devices": [ {"id": "a", "locked": 1} ]})",
       "devices[0].locked: must be true or false"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "fail": {"Next": {"hang": true}}} ]} ]})",
       "devices[0].objects[0].fail.Next.hang: only a Read can hang"},
      // A device's bulk requests hang; an object is only left out.
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "fail": {"BulkValues": {"hang": true}}} ]} ]})",
       "devices[0].objects[0].fail.BulkValues.hang: only a Read can hang"},
      {R"({"devices": [ {"id": "a", "fail": {"Start": {"hang": true}}} ]})",
       "devices[0].fail.Start.hang: only a Read or BulkValues can hang"},
      {R"({"devices": [ {"id": "a", "fail": {"BulkValues": {"hang": true, "afterCalls": 2}}} ]})",
       "devices[0].fail.BulkValues.afterCalls: unknown key"},
      {R"({"devices": [ {"id": "a", "bulk": "yes"} ]})",
       "devices[0].bulk: must be true or false"},
      {R"({"devices": [ {"id": "a", "fail": {"Read": {"hang": true, "hresult": 5}}} ]})",
       "devices[0].fail.Read: takes one of \"hresult\", \"hang\", \"unplug\""},
      {R"({"fail": {"GetDevices": {"unplug": true}}})",
       "fail.GetDevices.unplug: a process-wide call cannot unplug"},
      {R"({"devices": [ {"id": "a", "fail": {"Open": {"unplug": 1}}} ]})",
       "devices[0].fail.Open.unplug: must be true"},
      {R"({"randomFaults": {"rate": 1.5}})",
       "randomFaults.rate: must be a number from 0 to 1"},
      {R"({"randomFaults": {"rate": "often"}})",
       "randomFaults.rate: must be a number from 0 to 1"},
      {R"({"randomFaults": {"seed": -1}})",
       "randomFaults.seed: must be a non-negative integer"},
      {R"({"randomFaults": {"hresults": [1, "E_FAIL"]}})",
       "randomFaults.hresults[1]: must be an HRESULT"},
      {R"({"randomFaults": {"calls": []}})", "randomFaults.calls: unknown key"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "format": "3801"} ]} ]})",
       "devices[0].objects[0].format: must be a format code"},
      {R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "containerFunctionalObjectId": "s"} ]} ]})",
       "devices[0].objects[0].containerFunctionalObjectId: \"s\" is not an "
       "earlier object"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    Fixture fixture;
    fixture.AddDevice(L"untouched");
    std::string error;
    EXPECT_FALSE(wpd_sim::ParseFixtureJson(c.json, &fixture, &error));
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    // A failed parse leaves the caller's fixture alone.
    EXPECT_EQ(fixture.devices.size(), 1u);
  }
}

void SetDevicesVariable(const char* value) {
#ifdef _WIN32
  _putenv_s("SNAPFERRY_DEVICES", value != nullptr ? value : "");
#else
  if (value != nullptr) {
    setenv("SNAPFERRY_DEVICES", value, 1);
  } else {
    unsetenv("SNAPFERRY_DEVICES");
  }
#endif
}

TEST(WpdFixtureJson, EnvironmentNamesTheFileAndAMalformedOneOffersNoDevice) {
  std::string path = testing::TempDir() + "wpd_fixture_env.json";
  {
    std::ofstream file(path);
    file
        << R"({"devices": [ {"id": "a", "objects": [ {"id": "o", "size": "big"} ]} ]})";
  }
  SetDevicesVariable(path.c_str());
  testing::internal::CaptureStderr();
  Fixture fixture = wpd_sim::FixtureFromEnvironment();
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(fixture.devices.empty());
  EXPECT_EQ(said, "SNAPFERRY_DEVICES: " + path +
                      ": devices[0].objects[0].size: must be a non-negative "
                      "integer; no device offered\n");

  {
    std::ofstream file(path);
    file << R"({"devices": [ {"id": "from-file"} ]})";
  }
  fixture = wpd_sim::FixtureFromEnvironment();
  ASSERT_EQ(fixture.devices.size(), 1u);
  EXPECT_EQ(fixture.devices[0].id, L"from-file");

  std::string missing = testing::TempDir() + "no_such_fixture.json";
  SetDevicesVariable(missing.c_str());
  testing::internal::CaptureStderr();
  fixture = wpd_sim::FixtureFromEnvironment();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "SNAPFERRY_DEVICES: " + missing +
                ": cannot be opened; no device offered\n");
  EXPECT_TRUE(fixture.devices.empty());
  SetDevicesVariable(nullptr);
  std::remove(path.c_str());
}

TEST(WpdFixtureJson, WithoutTheVariableTheDemoOffersACurrentIphoneFirst) {
  SetDevicesVariable(nullptr);
  Fixture fixture = wpd_sim::FixtureFromEnvironment();
  std::string error;
  ASSERT_TRUE(wpd_sim::ValidateFixture(fixture, &error)) << error;
  ASSERT_EQ(fixture.devices.size(), 3u);
  const wpd_sim::DeviceSpec& phone = fixture.devices[0];
  EXPECT_EQ(phone.manufacturer, std::wstring(L"Apple Inc."));
  EXPECT_EQ(fixture.devices[1].manufacturer, std::wstring(L"Canon Inc."));
  EXPECT_EQ(fixture.devices[2].manufacturer, std::wstring(L"Apple Inc."));

  // The current layout: month folders right below a read-only storage, and
  // media as the phone lists them.
  std::set<std::wstring> folders;
  std::set<std::wstring> unspecified;
  std::set<std::wstring> extensions;
  uint64_t total = 0;
  for (const ObjectSpec& object : phone.objects) {
    switch (object.content_type) {
      case ContentType::kFunctional:
        EXPECT_EQ(object.name, std::wstring(L"Internal Storage"));
        EXPECT_EQ(object.storage_access, 1u);
        continue;
      case ContentType::kFolder:
        EXPECT_EQ(object.parent, L"s10001");
        folders.insert(*object.name);
        continue;
      case ContentType::kUnspecified:
        unspecified.insert(*object.original_file_name);
        break;
      default:
        break;
    }
    const std::wstring& name = *object.original_file_name;
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    extensions.insert(name.substr(name.rfind(L'.') + 1));
    EXPECT_FALSE(object.name.has_value());
    EXPECT_FALSE(object.can_delete.has_value());
    EXPECT_TRUE(object.format.has_value());
    EXPECT_TRUE(object.persistent_unique_id.has_value());
    EXPECT_EQ(object.container, std::wstring(L"s10001"));
    EXPECT_EQ(object.size, object.DataSize());
    ASSERT_EQ(object.date_created.kind, DateProperty::Kind::kDate);
    EXPECT_EQ(object.date_modified.date, object.date_created.date);
    double seconds = object.date_created.date * 86400.0;
    EXPECT_DOUBLE_EQ(seconds, std::round(seconds));
    total += object.DataSize();
  }
  EXPECT_EQ(folders,
            (std::set<std::wstring>{L"202609_a", L"202610_a", L"202610__"}));
  EXPECT_EQ(unspecified,
            (std::set<std::wstring>{L"IMG_1201.MOV", L"IMG_1234.MOV",
                                    L"IMG_1234.AAE"}));
  EXPECT_EQ(extensions,
            (std::set<std::wstring>{L"HEIC", L"JPG", L"PNG", L"MOV", L"AAE"}));
  // Enough for a demo import to take several seconds over its USB 2 link;
  // the other devices answer at once.
  EXPECT_GT(total, 100u << 20);
  EXPECT_LT(total, 1u << 30);
  ASSERT_TRUE(phone.link.has_value());
  EXPECT_EQ(phone.link->megabytes_per_second, 40);
  // Bulk property reads, as a real iPhone advertises them; not the others.
  EXPECT_TRUE(phone.bulk);
  EXPECT_FALSE(fixture.devices[1].bulk);
  EXPECT_FALSE(fixture.devices[2].bulk);
  EXPECT_FALSE(fixture.devices[1].link.has_value());
  EXPECT_FALSE(fixture.devices[2].link.has_value());

  // The older layout stays on the second iPhone.
  std::set<std::wstring> old_folders;
  for (const ObjectSpec& object : fixture.devices[2].objects) {
    if (object.content_type == ContentType::kFolder) {
      old_folders.insert(*object.name);
    }
  }
  EXPECT_EQ(old_folders,
            (std::set<std::wstring>{L"DCIM", L"100APPLE", L"101APPLE"}));

  // Generated the same way every time.
  Fixture again = wpd_sim::DemoFixture();
  EXPECT_EQ(*again.devices[0].objects[4].bytes, *phone.objects[4].bytes);
}

}  // namespace
