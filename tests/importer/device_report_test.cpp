// snapferry-import --report run in-process over simulated devices: the
// report is written whatever fails, names each failure with its code, and
// carries nothing that names the phone; nothing on the phone changes.

#include "importer/device_report.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/wpd/simulator/call_log.h"
#include "tests/importer/import_test_util.h"

namespace importer {
namespace {

namespace fs = std::filesystem;
using import_test::AddPhone;
using import_test::ImportTest;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Ascii(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

class DeviceReportTest : public ImportTest {
 protected:
  // Runs --report with `arguments` more; text_ gets what it wrote.
  int Report(std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"--report", report_.u8string()});
    const int exit_code = Import(arguments);
    text_ = import_test::ReadFile(report_);
    return exit_code;
  }
  void ExpectLines(const std::vector<std::string>& lines) const {
    for (const std::string& line : lines) {
      EXPECT_NE(text_.find(line), std::string::npos) << line << "\n--- in ---\n"
                                                     << text_ << Transcript();
    }
  }
  // Letter case ignored: an id may come back in either.
  void ExpectAbsent(const std::vector<std::string>& secrets) const {
    for (const std::string& secret : secrets) {
      EXPECT_EQ(Lower(text_).find(Lower(secret)), std::string::npos)
          << secret << "\n--- in ---\n"
          << text_;
    }
  }
  // Timed copies of this process still in the temporary folder.
  static int LeftInTemp() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    EXPECT_GT(length, 0u);
    const std::wstring pattern = std::wstring(folder, length) +
                                 L"snapferry-report-" +
                                 std::to_wstring(GetCurrentProcessId()) + L"*";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int count = 1;
    while (FindNextFileW(find, &found)) ++count;
    FindClose(find);
    return count;
  }

  fs::path report_ = root_ / "report.txt";
  std::string text_;
};

TEST_F(DeviceReportTest, TheDemoIPhoneIsDescribedAndNothingOnItChanges) {
  wpd_sim::Fixture demo = wpd_sim::DemoFixture();
  const wpd_sim::DeviceSpec phone = demo.devices.front();
  Plug(std::move(demo));
  std::vector<wpd_sim::LoggedCall> calls;
  {
    wpd_sim::CallLog log;
    ASSERT_EQ(Report(), kExitImported) << Transcript();
    calls = log.calls();
  }
  EXPECT_TRUE(Said("Report written to " + report_.u8string())) << Transcript();
  ExpectLines({"Device 1 (chosen):", "Bulk reads: offered",
               "WPD_DEVICE_FIRMWARE_VERSION (VT_LPWSTR) = 27.0",
               "WPD_STORAGE_FILE_SYSTEM_TYPE (VT_LPWSTR) = DCF",
               "Object: 202610__/IMG_1236.PNG, 187552 bytes listed",
               " bytes\n  copyObject: ", "187552 bytes, ",
               "\nFailures:\n  None.\n"});

  // Neither its serial number, nor its name, nor any id it gave.
  const size_t instance = phone.id.find(L'#', phone.id.find(L'#') + 1) + 1;
  std::vector<std::string> secrets = {
      Ascii(*phone.properties.serial_number), Ascii(*phone.friendly_name),
      Ascii(
          phone.id.substr(instance, phone.id.find(L'#', instance) - instance))};
  for (const wpd_sim::ObjectSpec& object : phone.objects) {
    secrets.push_back("= " + Ascii(object.id) + "\n");
    secrets.push_back("object " + Ascii(object.id) + ")");
    if (object.persistent_unique_id) {
      secrets.push_back(Ascii(*object.persistent_unique_id));
    }
  }
  ExpectAbsent(secrets);

  // Read, and nothing else: every object is still on the phone, and the
  // copy left nothing on this computer.
  const std::set<std::string> writes = {
      "Content.Delete",
      "Content.CreateObjectWithPropertiesAndData",
      "Content.CreateObjectWithPropertiesOnly",
      "Content.Move",
      "Content.Copy",
      "Properties.SetValues",
      "Properties.Delete",
      "Bulk.QueueSetValuesByObjectList",
      "Resources.CreateResource",
      "Resources.Delete",
      "Device.SendCommand"};
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const auto& call) {
    return call.method == "Resources.GetStream";
  }));
  for (const wpd_sim::LoggedCall& call : calls) {
    EXPECT_EQ(writes.count(call.method), 0u) << call.method;
  }
  for (const wpd_sim::ObjectSpec& object : phone.objects) {
    EXPECT_TRUE(simulator_->HasObject(phone.id, object.id)) << Ascii(object.id);
  }
  EXPECT_EQ(LeftInTemp(), 0);
}

// Whatever fails, the report is written and names it with its code; only a
// device that cannot be opened, or none at all, ends with exit code 2.
TEST_F(DeviceReportTest, WhatFailsIsNamedWithItsCode) {
  const struct {
    const char* what;
    std::function<void(wpd_sim::DeviceSpec&)> phone;  // null: no phone
    int exit_code;
    std::vector<std::string> lines;
  } cases[] = {
      {"calls failing on a phone that stays plugged in",
       [](wpd_sim::DeviceSpec& phone) {
         for (wpd_sim::ObjectSpec& object : phone.objects) {
           if (object.id == L"o1") {
             object.Fail(wpd_sim::Call::kGetStream, HRESULT(0x80070015));
           }
           if (object.id == L"o2") {
             object.Fail(wpd_sim::Call::kGetValues, E_FAIL);
           }
         }
         phone.AddFolder(L"m2", L"s1", L"202611_a")
             .Fail(wpd_sim::Call::kEnumObjects, HRESULT(0x800700AA));
         phone.AddFile(L"o9", L"m2", L"IMG_0009.HEIC",
                       wpd_sim::ContentType::kImage, "nine");
       },
       kExitImported,
       {"failed (HRESULT 0x80004005) in describeDevice, object x0\n",
        "List objects failed (HRESULT 0x800700AA) in describeDevice, "
        "object x0\n",
        "Object: 202610_a/IMG_0001.HEIC, 3 bytes listed",
        "\n  getThumbnail failed (HRESULT 0x80070015)",
        "\n  copyObject failed (HRESULT 0x80070015)"}},
      {"a phone that cannot be opened",
       [](wpd_sim::DeviceSpec& phone) {
         phone.OpenResult(HRESULT(0x80070020));
       },
       kExitNotStarted,
       {"Failed: wpd_error: Open device failed (HRESULT 0x80070020)",
        "\n  describeDevice failed (HRESULT 0x80070020)"}},
      {"a phone that stays locked",
       [](wpd_sim::DeviceSpec& phone) { phone.Locked(); },
       kExitImported,
       {"The device stayed locked", "Not timed: no photo or video"}},
      {"no device",
       nullptr,
       kExitNotStarted,
       {"None listed.", "None was chosen.",
        "Not asked: no device was chosen."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    wpd_sim::Fixture fixture;
    if (c.phone) {
      AddPhone(fixture, {{L"IMG_0001.HEIC", "abc"},
                         {L"IMG_0002.HEIC", "defgh"},
                         {L"IMG_0003.AAE", "x"}});
      c.phone(fixture.devices.front());
    }
    Plug(std::move(fixture));
    fs::remove(report_);
    EXPECT_EQ(Report(), c.exit_code) << Transcript();
    ExpectLines(c.lines);
    ExpectAbsent({"Test iPhone", "#phone#", "= o1\n"});
    EXPECT_EQ(LeftInTemp(), 0);
  }
}

}  // namespace
}  // namespace importer
