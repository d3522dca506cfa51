// The device report's text: masking, and a hand-built describeDevice answer
// written out readably with nothing in it that names the phone or its owner.

#include "importer/report_text.h"

#include <gtest/gtest.h>

#include <string>

namespace importer {
namespace {

using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;

constexpr char kPhoneId[] =
    "\\\\?\\usb#vid_05ac&pid_12a8&mi_00#00008110001e2d3a0c41801e#"
    "{6ac27878-a6fa-4155-ba85-f98f491d4f33}";

TEST(ReportMaskingTest, IdsKeepOnlyTheirShape) {
  const struct {
    std::string given, masked;
  } cases[] = {
      // The instance segment goes; the bus, vendor and class stay.
      {MaskedDeviceId(kPhoneId),
       "\\\\?\\usb#vid_05ac&pid_12a8&mi_00#00000000000x0x0x0x00000x#"
       "{6ac27878-a6fa-4155-ba85-f98f491d4f33}"},
      // Another shape (no class GUID, one part too many or too few): whole.
      {MaskedDeviceId("\\\\?\\usb#vid_04a9&pid_3218#cam0001#"),
       "\\\\?\\xxx#xxx_00x0&xxx_0000#xxx0000#"},
      {MaskedDeviceId("SWD#WPDBUSENUM#{A1}"), "xxx#xxxxxxxxxx#{x0}"},
      {MaskedShape("o12"), "x00"},
      {MaskedShape("{5B0E8D4A-1C2F}"), "{0x0x0x0x-0x0x}"},
      // One 'x' for each character that is not ASCII, however long in UTF-8.
      {MaskedShape("J\xC3\xB6rg \xF0\x9F\x93\xB7_1"), "xxxx x_0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.given, c.masked);
}

EncodableValue Map(
    std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  ValueMap map;
  for (const auto& entry : entries) {
    map[EncodableValue(std::string(entry.first))] = entry.second;
  }
  return EncodableValue(std::move(map));
}

EncodableValue Property(const char* key, const char* type,
                        EncodableValue value) {
  if (value.IsNull()) return Map({{"key", key}, {"type", type}});
  return Map({{"key", key}, {"type", type}, {"value", value}});
}

std::string Text(const char* text) { return text; }

// A phone named after its owner, answering as an iPhone does, with one
// folder that could not be listed and a copy that failed.
ReportFacts Facts() {
  ReportFacts facts;
  facts.version = "snapferry-import 9.9.9\n";
  facts.written_at = "2026-10-12 14:03:22 UTC";
  facts.devices = ValueList{Map({{"id", Text(kPhoneId)},
                                 {"friendlyName", Text("Anna's iPhone")},
                                 {"manufacturer", Text("Apple Inc.")},
                                 {"model", Text("Apple iPhone")},
                                 {"isApple", true}})};
  facts.chosen_id = kPhoneId;
  const EncodableValue media =
      Map({{"objectId", Text("o12")},
           {"name", Text("IMG_0001.HEIC")},
           {"properties",
            ValueList{
                Property("WPD_OBJECT_ID", "VT_LPWSTR", Text("o12")),
                Property("WPD_OBJECT_PERSISTENT_UNIQUE_ID", "VT_LPWSTR",
                         Text("{5B0E8D4A-1C2F}")),
                Property("WPD_OBJECT_SIZE", "VT_UI8", int64_t{412311}),
                Property("WPD_OBJECT_NAME", "VT_ERROR", int64_t{-2147023728}),
                Property("{EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C} 44",
                         "VT_0x1011", EncodableValue()),
            }}});
  Reply description;
  description.kind = Reply::kSuccess;
  description.value = Map(
      {{"openMicroseconds", int64_t{20100}},
       {"bulkReads", true},
       {"walkMicroseconds", int64_t{30000}},
       {"walkObjects", int64_t{42}},
       {"walkCalls", int64_t{60}},
       {"walkCallCounts", Map({{"EnumObjects", int64_t{16}}})},
       {"device", ValueList{Property("WPD_DEVICE_FRIENDLY_NAME", "VT_LPWSTR",
                                     Text("Anna's iPhone")),
                            Property("WPD_DEVICE_SUPPORTS_NON_CONSUMABLE",
                                     "VT_BOOL", false)}},
       {"storages",
        ValueList{Map(
            {{"objectId", Text("s10001")},
             {"properties", ValueList{Property("WPD_OBJECT_NAME", "VT_LPWSTR",
                                               Text("Anna's iPhone storage"))}},
             {"folders", ValueList{Map({{"path", Text("DCIM")},
                                        {"depth", int64_t{1}},
                                        {"children", int64_t{1}}}),
                                   Map({{"path", Text("DCIM/100APPLE")},
                                        {"depth", int64_t{2}},
                                        {"children", int64_t{250}}})}},
             {"foldersCut", true}})}},
       {"media", ValueList{media}},
       {"failures",
        ValueList{Map({{"step", Text("List objects")},
                       {"objectId", Text("f2")},
                       {"hresult", int64_t{-2147024726}},
                       {"message", Text("List objects failed")}})}}});
  facts.description = description;
  facts.object_name = "DCIM/100APPLE/IMG_0002.JPG";
  facts.object_size = 5000;
  facts.thumbnail = {Timing::Outcome::kAnswered, 25.04, -1};
  facts.copy = {Timing::Outcome::kFailed, 3.0, 0};
  facts.failures.push_back(
      {"copyObject", int64_t{-2147024865},
       "Read from device failed on 00008110001E2D3A0C41801E"});
  return facts;
}

TEST(ReportTextTest, WritesTheAnswerReadablyAndMasksWhatNamesThePhone) {
  const std::string text = ReportText(Facts());
  for (const char* line : {
           "Version: snapferry-import 9.9.9",
           "  Device 1 (chosen):",
           "    friendly name: <friendly name>",
           "    model: Apple iPhone",
           "  Open: 20.1 ms",
           "  Walk: 30.0 ms, 42 objects, 60 calls (0.5 ms per call)",
           "  Walk calls by kind: EnumObjects 16, Next 0, GetValues 0, "
           "QueueGetValuesByObjectList 0, Start 0, Cancel 0",
           "    WPD_DEVICE_FRIENDLY_NAME (VT_LPWSTR) = <friendly name>",
           "    WPD_DEVICE_SUPPORTS_NON_CONSUMABLE (VT_BOOL) = false",
           "  Storage 1 (object x00000):",
           "    WPD_OBJECT_NAME (VT_LPWSTR) = <friendly name> storage",
           "      DCIM  (1 child)",
           "        DCIM/100APPLE  (250 children)",
           "    Cut: there were more folders; only the first 100 are listed.",
           "    IMG_0001.HEIC (object x00):",
           "      WPD_OBJECT_ID (VT_LPWSTR) = x00",
           "      WPD_OBJECT_PERSISTENT_UNIQUE_ID (VT_LPWSTR) = "
           "{0x0x0x0x-0x0x}",
           "      WPD_OBJECT_SIZE (VT_UI8) = 412311",
           "      WPD_OBJECT_NAME (VT_ERROR) = 0x80070490",
           "      {EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C} 44 (VT_0x1011) = "
           "(not shown)",
           "  getThumbnail: 25.0 ms, none",
           "  copyObject: failed after 3.0 ms (see Failures)",
           "  List objects failed (HRESULT 0x800700AA) in describeDevice, "
           "object x0",
           "  copyObject failed (HRESULT 0x8007001F): Read from device failed "
           "on 00000000000x0x0x0x00000x",
       }) {
    EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos)
        << line << "\n--- in ---\n"
        << text;
  }
  for (const char* secret : {"Anna", "o12", "s10001", "f2", "5B0E8D4A",
                             "00008110001e2d3a0c41801e"}) {
    EXPECT_EQ(text.find(secret), std::string::npos) << secret << "\n" << text;
  }
}

TEST(ReportTextTest, ADeviceThatCouldNotBeOpenedSaysWhy) {
  ReportFacts facts = Facts();
  Reply failed;
  failed.kind = Reply::kError;
  failed.code = "wpd_error";
  failed.message = "Open device failed (HRESULT 0x80070020)";
  failed.value = EncodableValue(int64_t{-2147024864});
  facts.description = failed;
  facts.object_name.clear();
  facts.failures = {{"describeDevice", AnswerCode(failed), failed.message}};
  const std::string text = ReportText(facts);
  for (const char* line :
       {"  Failed: wpd_error: Open device failed (HRESULT 0x80070020), "
        "HRESULT 0x80070020",
        "  Not timed: no photo or video above 0 and under 10 MB was listed.",
        "  describeDevice failed (HRESULT 0x80070020): Open device failed "
        "(HRESULT 0x80070020)"}) {
    EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos)
        << line << "\n--- in ---\n"
        << text;
  }
}

}  // namespace
}  // namespace importer
