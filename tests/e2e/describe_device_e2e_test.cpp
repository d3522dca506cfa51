// describeDevice through the channel: what a report of the demo iPhone
// holds, what a phone failing some calls gives, and that describing a
// device changes nothing on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wpd/simulator/call_log.h"
#include "tests/e2e/e2e_test_util.h"
#include "wpd/property_entries.h"

namespace e2e {
namespace {

using channel_test::Args;
using channel_test::At;
using channel_test::Str;
using flutter::ValueList;
using flutter::ValueMap;
using SimCall = wpd_sim::Call;

constexpr wchar_t kPhoneW[] = L"\\\\?\\usb#vid_05ac&pid_12a8#desc#{6ac27878}";
constexpr char kPhone[] = "\\\\?\\usb#vid_05ac&pid_12a8#desc#{6ac27878}";
constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);

EncodableValue Int(int64_t value) { return EncodableValue(value); }

ValueList List(const EncodableValue& value, const char* key) {
  const EncodableValue entry = At(value, key);
  const auto* list = std::get_if<ValueList>(&entry);
  return list != nullptr ? *list : ValueList();
}

// A property list as "KEY TYPE" and "KEY=value" lines, for comparing whole.
std::vector<std::string> Lines(const ValueList& properties) {
  std::vector<std::string> lines;
  for (const EncodableValue& entry : properties) {
    std::string line = std::get<std::string>(At(entry, "key")) + " " +
                       std::get<std::string>(At(entry, "type"));
    const EncodableValue value = At(entry, "value");
    if (const auto* text = std::get_if<std::string>(&value)) {
      line += " " + *text;
    } else if (const auto* number = std::get_if<int64_t>(&value)) {
      line += " " + std::to_string(*number);
    } else if (const auto* flag = std::get_if<bool>(&value)) {
      line += *flag ? " true" : " false";
    }
    lines.push_back(line);
  }
  return lines;
}

// Every string anywhere in the answer.
void Strings(const EncodableValue& value, std::vector<std::string>* out) {
  if (const auto* text = std::get_if<std::string>(&value))
    out->push_back(*text);
  if (const auto* list = std::get_if<ValueList>(&value)) {
    for (const EncodableValue& item : *list) Strings(item, out);
  }
  if (const auto* map = std::get_if<ValueMap>(&value)) {
    for (const auto& [key, item] : *map) Strings(item, out);
  }
}

class DescribeDeviceEndToEndTest : public EndToEndTest {
 protected:
  Reply Describe(const char* id) {
    return Call("describeDevice", Args({{Str("id"), Str(id)}}));
  }
  // What the simulator counted of the calls a walk makes.
  uint64_t DeviceCalls() const {
    uint64_t sum = 0;
    for (SimCall call :
         {SimCall::kEnumObjects, SimCall::kNext, SimCall::kGetValues,
          SimCall::kQueueGetValuesByObjectList, SimCall::kStart}) {
      sum += devices_->Calls(call);
    }
    return sum;
  }
};

TEST_F(DescribeDeviceEndToEndTest, TheDemoIPhoneAsItsReportShowsIt) {
  wpd_sim::Fixture demo = wpd_sim::DemoFixture();
  const std::string id(demo.devices[0].id.begin(), demo.devices[0].id.end());
  StartDevices(std::move(demo));
  wpd_sim::CallLog log;
  const uint64_t calls_before = DeviceCalls();
  const Reply reply = Describe(id.c_str());
  ASSERT_EQ(reply.kind, Reply::Kind::kSuccess) << reply.message;
  const EncodableValue& answer = reply.value;

  EXPECT_EQ(At(answer, "id"), Str(id.c_str()));
  EXPECT_EQ(At(answer, "bulkReads"), EncodableValue(true));
  EXPECT_EQ(Lines(List(answer, "device")),
            (std::vector<std::string>{
                "WPD_DEVICE_FIRMWARE_VERSION VT_LPWSTR 27.0",
                "WPD_DEVICE_PROTOCOL VT_LPWSTR MTP: 1.00",
                "WPD_DEVICE_MANUFACTURER VT_LPWSTR Apple Inc.",
                "WPD_DEVICE_MODEL VT_LPWSTR Apple iPhone",
                "WPD_DEVICE_FRIENDLY_NAME VT_LPWSTR Anna's iPhone",
                "WPD_DEVICE_POWER_LEVEL VT_UI4 84",
                "WPD_DEVICE_POWER_SOURCE VT_UI4 1",
                "WPD_DEVICE_SUPPORTS_NON_CONSUMABLE VT_BOOL false"}));
  const ValueList storages = List(answer, "storages");
  ASSERT_EQ(storages.size(), 1u);
  EXPECT_EQ(Lines(List(storages[0], "properties")),
            (std::vector<std::string>{
                "WPD_OBJECT_NAME VT_LPWSTR Internal Storage",
                "WPD_STORAGE_FILE_SYSTEM_TYPE VT_LPWSTR DCF",
                "WPD_STORAGE_CAPACITY VT_UI8 63978983424",
                "WPD_STORAGE_FREE_SPACE_IN_BYTES VT_UI8 21307637760",
                "WPD_STORAGE_ACCESS_CAPABILITY VT_UI4 1"}));

  // Month folders right below the storage; every object the walk read is
  // the storage, a folder, or a file counted in its folder.
  const ValueList folders = List(storages[0], "folders");
  ASSERT_GE(folders.size(), 3u);
  EXPECT_EQ(At(folders[0], "path"), Str("202609_a"));
  int64_t files = 0;
  for (const EncodableValue& folder : folders) {
    EXPECT_EQ(At(folder, "depth"), Int(1));
    files += std::get<int64_t>(At(folder, "children"));
  }
  EXPECT_EQ(At(answer, "walkObjects"),
            Int(1 + static_cast<int64_t>(folders.size()) + files));
  EXPECT_EQ(At(answer, "foldersCut"), EncodableValue(false));

  // Every property of the first 20 files, as the phone gives them.
  const ValueList media = List(answer, "media");
  ASSERT_EQ(media.size(), 20u);
  for (const EncodableValue& file : media) {
    const std::vector<std::string> lines = Lines(List(file, "properties"));
    const std::string name = std::get<std::string>(At(file, "name"));
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "WPD_OBJECT_ORIGINAL_FILE_NAME VT_LPWSTR " + name),
              lines.end())
        << name;
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line) {
                             return line.rfind(
                                        "WPD_OBJECT_DATE_CREATED VT_DATE "
                                        "2026-",
                                        0) == 0;
                           }),
              lines.end())
        << name;
  }

  // The walk's own count of its calls is the simulator's, less the reads
  // of the device, the storage and the 20 files.
  int64_t by_call = 0;
  const EncodableValue counts = At(answer, "walkCallCounts");
  for (const auto& [call, count] : std::get<ValueMap>(counts)) {
    by_call += std::get<int64_t>(count);
  }
  EXPECT_EQ(At(answer, "walkCalls"), Int(by_call));
  EXPECT_EQ(by_call, static_cast<int64_t>(DeviceCalls() - calls_before) - 22);
  EXPECT_GT(std::get<int64_t>(At(counts, "QueueGetValuesByObjectList")), 0);
  EXPECT_TRUE(List(answer, "failures").empty());

  // Nothing on the phone changed, and its serial number never came.
  for (const wpd_sim::LoggedCall& call : log.calls()) {
    for (const char* writes :
         {"Delete", "SetValues", "CreateObject", "Transfer", "Commit"}) {
      EXPECT_EQ(call.method.find(writes), std::string::npos) << call.method;
    }
    EXPECT_NE(call.target, "WPD_DEVICE_SERIAL_NUMBER");
  }
  std::vector<std::string> texts;
  Strings(answer, &texts);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "F17ZQ4K9N72J"), 0);
}

TEST_F(DescribeDeviceEndToEndTest, FailedCallsAreListedAndTheRestDescribed) {
  // One month folder that cannot be listed, a photo whose properties cannot
  // be read while the phone stays plugged in, another whose full read
  // fails; and folders deeper than the tree shows.
  handler_->SetUnplugNoticePause(std::chrono::milliseconds(0));
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(kPhoneW);
  phone.AddPhoneStorage(L"s1", L"Internal Storage");
  phone.AddPhoneFolder(L"f1", L"s1", L"202609_a")
      .Fail(SimCall::kEnumObjects, kGenFailure);
  phone.AddPhoneFolder(L"f2", L"s1", L"202610_a");
  phone.AddPhoneFolder(L"f3", L"f2", L"deeper");
  phone.AddPhoneFolder(L"f4", L"f3", L"deeper still");
  phone.AddPhoneFolder(L"f5", L"f4", L"too deep");
  const auto taken = wpd_sim::DateProperty::At(2026, 10, 3, 7, 5, 3);
  for (const wchar_t* name : {L"p1", L"p2", L"p3"}) {
    phone.AddPhoneFile(name, L"f2", std::wstring(name) + L".HEIC",
                       wpd_sim::ContentType::kImage, 1000, taken);
  }
  phone.objects[7].Fail(SimCall::kGetValues, kGenFailure);
  phone.objects[8].Fail(SimCall::kGetValues, E_ACCESSDENIED, 1);
  StartDevices(std::move(fixture));

  const Reply reply = Describe(kPhone);
  ASSERT_EQ(reply.kind, Reply::Kind::kSuccess) << reply.message;
  std::vector<std::string> failures;
  for (const EncodableValue& failure : List(reply.value, "failures")) {
    failures.push_back(std::get<std::string>(At(failure, "objectId")) + " " +
                       std::get<std::string>(At(failure, "message")));
    EXPECT_EQ(At(failure, "hresult"),
              Int(std::get<std::string>(At(failure, "objectId")) == "p3"
                      ? int64_t{-2147024891}
                      : int64_t{-2147024865}));
  }
  EXPECT_EQ(failures,
            (std::vector<std::string>{
                "p2 Read object properties failed (HRESULT 0x8007001F)",
                "f1 List objects failed (HRESULT 0x8007001F)",
                "p3 Read media properties failed (HRESULT 0x80070005)"}));
  std::vector<std::string> folders;
  for (const EncodableValue& folder :
       List(List(reply.value, "storages")[0], "folders")) {
    folders.push_back(
        std::get<std::string>(At(folder, "path")) + " " +
        std::to_string(std::get<int64_t>(At(folder, "depth"))) + " " +
        std::to_string(std::get<int64_t>(At(folder, "children"))));
  }
  EXPECT_EQ(folders, (std::vector<std::string>{
                         "202609_a 1 0", "202610_a 1 3", "202610_a/deeper 2 1",
                         "202610_a/deeper/deeper still 3 1"}));
  const ValueList media = List(reply.value, "media");
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(At(media[0], "name"), Str("p1.HEIC"));
  EXPECT_FALSE(List(media[0], "properties").empty());
  EXPECT_TRUE(List(media[1], "properties").empty());
}

TEST_F(DescribeDeviceEndToEndTest,
       AnswersAnErrorOnlyWhenTheDeviceCannotBeOpened) {
  wpd_sim::Fixture fixture;
  fixture.AddDevice(kPhoneW).OpenResult(E_ACCESSDENIED);
  StartDevices(std::move(fixture));
  struct Case {
    std::unique_ptr<EncodableValue> arguments;
    const char* code;
    const char* message;
    std::optional<EncodableValue> details;
  };
  Case cases[] = {
      {nullptr, "bad_args", "describeDevice requires a device id", {}},
      {Args({{Str("id"), Str("")}}),
       "bad_args",
       "describeDevice requires a device id",
       {}},
      {Args({{Str("id"), Str(kPhone)}}), "wpd_error",
       "Open device failed (HRESULT 0x80070005)", Int(-2147024891)},
  };
  for (Case& c : cases) {
    const Reply reply = Call("describeDevice", std::move(c.arguments));
    EXPECT_EQ(reply.kind, Reply::Kind::kError);
    EXPECT_EQ(reply.code, c.code);
    EXPECT_EQ(reply.message, c.message);
    if (c.details) {
      EXPECT_EQ(reply.details, c.details);
    }
  }
}

TEST(PropertyEntryTest, NamesWhatItKnowsAndWritesWhatItCan) {
  PROPVARIANT value;
  PropVariantInit(&value);
  const PROPERTYKEY unknown = {WPD_OBJECT_PROPERTIES_V1, 77};
  struct Case {
    PROPERTYKEY key;
    VARTYPE type;
    uint64_t bits;
    const char* line;
  };
  const Case cases[] = {
      {WPD_OBJECT_SIZE, VT_UI8, 5000000000,
       "WPD_OBJECT_SIZE VT_UI8 5000000000"},
      {unknown, VT_ERROR, 0x80070490,
       "{EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C} 77 VT_ERROR -2147023728"},
      {WPD_DEVICE_POWER_LEVEL, VT_I2, 0xFFFF,
       "WPD_DEVICE_POWER_LEVEL VT_I2 -1"},
      {WPD_OBJECT_CAN_DELETE, VT_BOOL, 0xFFFF,
       "WPD_OBJECT_CAN_DELETE VT_BOOL true"},
      {WPD_OBJECT_NAME, VT_R8, 0, "WPD_OBJECT_NAME VT_R8"},
      {WPD_OBJECT_NAME, 0x4242, 0, "WPD_OBJECT_NAME VT_0x4242"},
  };
  for (const Case& c : cases) {
    value.vt = c.type;
    value.uhVal.QuadPart = c.bits;
    const snapferry::PropertyEntry entry =
        snapferry::MakePropertyEntry(c.key, value);
    std::string line = entry.key + " " + entry.type;
    if (const auto* text = std::get_if<std::string>(&entry.value))
      line += " " + *text;
    if (const auto* number = std::get_if<int64_t>(&entry.value))
      line += " " + std::to_string(*number);
    if (const auto* flag = std::get_if<bool>(&entry.value))
      line += *flag ? " true" : " false";
    EXPECT_EQ(line, c.line);
  }
}

}  // namespace
}  // namespace e2e
