// The whole program as a process over simulated devices: the script
// interface with well-formed and malformed messages, copy progress, and the
// import (now snapferry-import). Checks what it prints and how it exits.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "messaging/encodable_value.h"
#include "messaging/method_call.h"
#include "messaging/method_result.h"
#include "messaging/standard_method_codec.h"
#include "tests/host/process_runner.h"

namespace host_test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;

constexpr char kApplePath[] =
    "\\\\?\\usb#vid_05ac&pid_12a8&mi_00#proc0001#"
    "{6ac27878-a6fa-4155-ba85-f98f491d4f33}";

// An Apple phone with three files below DCIM (one that cannot be read
// past its first bytes, failing with E_FAIL: a fault of that file, not a
// device that went away, which the importer would wait to come back) and,
// listed first, a camera of another maker.
const char kFixture[] = R"({ "devices": [
  { "id": "\\\\?\\usb#vid_04a9&pid_3218#cam0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}",
    "friendlyName": "Canon EOS", "manufacturer": "Canon Inc.", "description": "Camera",
    "objects": [ { "id": "c1", "contentType": "functional", "name": "SD" } ] },
  { "id": "\\\\?\\usb#vid_05ac&pid_12a8&mi_00#proc0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}",
    "friendlyName": "Test iPhone", "manufacturer": "Apple Inc.", "description": "Apple iPhone",
    "objects": [
      { "id": "s1", "contentType": "functional", "name": "Internal Storage" },
      { "id": "d1", "parent": "s1", "contentType": "folder", "name": "DCIM" },
      { "id": "f1", "parent": "d1", "contentType": "folder", "name": "100APPLE" },
      { "id": "o1", "parent": "f1", "contentType": "image", "name": "IMG_0001.JPG",
        "originalFileName": "IMG_0001.JPG", "size": 5, "data": "hello" },
      { "id": "o2", "parent": "f1", "contentType": "video", "name": "IMG_0002.MOV",
        "originalFileName": "IMG_0002.MOV", "size": 1048576, "data": {"pattern": 1048576} },
      { "id": "o3", "parent": "f1", "contentType": "image", "name": "IMG_0003.HEIC",
        "originalFileName": "IMG_0003.HEIC", "size": 4096, "data": {"pattern": 4096},
        "fail": { "Read": {"hresult": 2147500037, "afterBytes": 1000} } }
    ] }
] })";

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

std::vector<uint8_t> Unhex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(
        static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string CallHex(
    const std::string& method,
    std::vector<std::pair<std::string, std::string>> args = {}) {
  std::unique_ptr<EncodableValue> arguments;
  if (!args.empty()) {
    ValueMap map;
    for (auto& [key, value] : args)
      map[EncodableValue(key)] = EncodableValue(value);
    arguments = std::make_unique<EncodableValue>(std::move(map));
  }
  return Hex(*flutter::StandardMethodCodec::SharedInstance().EncodeCall(
      flutter::MethodCall(method, std::move(arguments))));
}

struct Envelope {
  bool success = false;
  bool error = false;
  EncodableValue value;
  std::string code;
};

class EnvelopeResult : public flutter::MethodResult {
 public:
  explicit EnvelopeResult(Envelope* envelope) : envelope_(envelope) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    envelope_->success = true;
    if (result) envelope_->value = *result;
  }
  void ErrorInternal(const std::string& code, const std::string&,
                     const EncodableValue*) override {
    envelope_->error = true;
    envelope_->code = code;
  }
  void NotImplementedInternal() override {}

 private:
  Envelope* envelope_;
};

Envelope Decode(const std::string& hex) {
  Envelope envelope;
  std::vector<uint8_t> bytes = Unhex(hex);
  EnvelopeResult result(&envelope);
  flutter::StandardMethodCodec::SharedInstance().DecodeEnvelope(
      bytes.data(), bytes.size(), &result);
  return envelope;
}

std::string Field(const EncodableValue& map, const char* key) {
  const auto& entries = std::get<ValueMap>(map);
  auto found = entries.find(EncodableValue(std::string(key)));
  if (found == entries.end()) return "<missing>";
  if (const auto* text = std::get_if<std::string>(&found->second)) return *text;
  if (const auto* number = std::get_if<int64_t>(&found->second))
    return std::to_string(*number);
  if (const auto* flag = std::get_if<bool>(&found->second))
    return *flag ? "true" : "false";
  return "<other>";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    directory_ = fs::temp_directory_path() /
                 (std::string("snapferry_process_") + info->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fixture_ = Write("devices.json", kFixture);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = directory_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.u8string();
  }

  ProcessResult Run(std::vector<std::string> arguments,
                    const char* program = SNAPFERRY_PROGRAM) {
    ProcessOptions options;
    options.program = program;
    options.arguments = std::move(arguments);
    options.environment = {{"SNAPFERRY_DEVICES", fixture_}};
    options.working_directory = directory_.u8string();
    ProcessResult result = RunProcess(options);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out) << result.out << result.err;
    return result;
  }

  ProcessResult RunImporter(std::vector<std::string> arguments) {
    return Run(std::move(arguments), SNAPFERRY_IMPORTER);
  }

  ProcessResult RunScript(const std::string& script) {
    return Run({"--script", Write("script.txt", script)});
  }

  fs::path directory_;
  std::string fixture_;
};

TEST_F(ProcessTest, ScriptListsTheFixtureDevicesAndTheProgramExitsZero) {
  ProcessResult result =
      RunScript("send snapferry/wpd " + CallHex("listDevices") + "\nwait\n");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 1u) << result.out;
  ASSERT_EQ(lines[0].rfind("reply 1 ", 0), 0u) << lines[0];
  Envelope reply = Decode(lines[0].substr(8));
  ASSERT_TRUE(reply.success);
  const auto& devices = std::get<ValueList>(reply.value);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(Field(devices[0], "friendlyName"), "Canon EOS");
  EXPECT_EQ(Field(devices[0], "isApple"), "false");
  EXPECT_EQ(Field(devices[1], "friendlyName"), "Test iPhone");
  EXPECT_EQ(Field(devices[1], "id"), kApplePath);
  EXPECT_EQ(Field(devices[1], "isApple"), "true");
}

TEST_F(ProcessTest, MalformedMessagesGetEmptyRepliesAndExactDiagnostics) {
  ProcessResult result = RunScript(
      // A tag no value has: no method name.
      "send snapferry/wpd 0f\nwait\n"
      // Nothing at all: the tag itself is missing.
      "send snapferry/wpd\nwait\n"
      // A method name cut short: six bytes announced, three sent. The name
      // reads as six zero bytes and the reader stays put, so the next byte
      // ('l') is taken for the arguments' tag; no method has that name.
      "send snapferry/wpd 07066c6973\nwait\n"
      // Cut short on the event channel: neither "listen" nor "cancel".
      "send snapferry/wpd_events 0706\nwait\n"
      // Well-formed, but no such method.
      "send snapferry/wpd " +
      CallHex("formatDevice") + "\nwait\n");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(Lines(result.out),
            (std::vector<std::string>{"reply 1", "reply 2", "reply 3",
                                      "reply 4", "reply 5"}));
  EXPECT_EQ(Lines(result.err),
            (std::vector<std::string>{
                "Unknown type in StandardCodecSerializer::ReadValueOfType: 15",
                "Invalid method call; method name is not a string.",
                "Unable to construct method call from message on channel "
                "snapferry/wpd",
                "Invalid read in StandardCodecByteStreamReader",
                "Invalid method call; method name is not a string.",
                "Unable to construct method call from message on channel "
                "snapferry/wpd",
                "Invalid read in StandardCodecByteStreamReader",
                "Unknown type in StandardCodecSerializer::ReadValueOfType: 108",
                "Invalid read in StandardCodecByteStreamReader",
                "Invalid read in StandardCodecByteStreamReader",
            }));
}

TEST_F(ProcessTest, CopyProgressEventsArriveBeforeTheCopyReply) {
  const std::string staging = (directory_ / "IMG_0002.MOV.part").u8string();
  ProcessResult result = RunScript(
      "send snapferry/wpd_events " + CallHex("listen") + "\nwait\n" +
      "send snapferry/wpd " +
      CallHex("copyObject",
              {{"id", kApplePath}, {"objectId", "o2"}, {"tempPath", staging}}) +
      "\nwait\n");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_GE(lines.size(), 3u) << result.out;
  EXPECT_EQ(lines.front(), "reply 1 0000");
  ASSERT_EQ(lines.back().rfind("reply 2 ", 0), 0u) << result.out;
  Envelope reply = Decode(lines.back().substr(8));
  ASSERT_TRUE(reply.success);
  EXPECT_EQ(Field(reply.value, "status"), "ok");
  EXPECT_EQ(Field(reply.value, "bytesWritten"), "1048576");

  std::string last_bytes;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string prefix = "message snapferry/wpd_events ";
    ASSERT_EQ(lines[i].rfind(prefix, 0), 0u) << lines[i];
    Envelope event = Decode(lines[i].substr(prefix.size()));
    ASSERT_TRUE(event.success);
    EXPECT_EQ(Field(event.value, "objectId"), "o2");
    EXPECT_EQ(Field(event.value, "total"), "1048576");
    last_bytes = Field(event.value, "bytes");
  }
  EXPECT_EQ(last_bytes, "1048576");
  std::ifstream copied(fs::u8path(staging), std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(copied)),
                   std::istreambuf_iterator<char>());
  ASSERT_EQ(data.size(), 1048576u);
  for (size_t i = 0; i < data.size(); i += 4099) {
    ASSERT_EQ(static_cast<uint8_t>(data[i]), i % 251) << i;
  }
}

// The import left the windowed program for snapferry-import: the same
// fixture, now through the importer, which exits 1 when a file failed.
TEST_F(ProcessTest, ImporterCopiesEveryMediaFileAndReportsWhatFailed) {
  ProcessResult result = RunImporter({"imported"});
  EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 12u) << result.out;
  EXPECT_EQ(lines[0], "Device: Test iPhone (Apple Inc.)");
  EXPECT_EQ(lines[1].rfind("Folder: ", 0), 0u);
  EXPECT_EQ(lines[2], "Reading the camera roll...");
  EXPECT_EQ(lines[3],
            "On the device: 3 files, 1.0 MB; already imported: 0; to import: "
            "3 (1.0 MB)");
  EXPECT_EQ(lines[4], "Imported:  100APPLE/IMG_0001.JPG  5 B");
  EXPECT_EQ(lines[5], "Imported:  100APPLE/IMG_0002.MOV  1.0 MB");
  EXPECT_EQ(lines[6].rfind("FAILED:  100APPLE/IMG_0003.HEIC: Read from device "
                           "failed (HRESULT 0x80004005)",
                           0),
            0u)
      << lines[6];
  // The roll listed again at the end: the photo that failed is not there.
  EXPECT_EQ(lines[7].rfind("Checked: 1 of 3 files on the phone is not in ", 0),
            0u)
      << lines[7];
  EXPECT_NE(lines[7].find(": 100APPLE/IMG_0003.HEIC"), std::string::npos);
  // Three files: the phone may keep the rest in iCloud.
  EXPECT_EQ(lines[8].rfind("Only photos and videos stored on the phone can be "
                           "imported.",
                           0),
            0u)
      << lines[8];
  EXPECT_EQ(lines[9].rfind("Imported 2 files (1.0 MB), 0 already there, 1 "
                           "failed, in ",
                           0),
            0u)
      << lines[9];
  EXPECT_EQ(lines[10], "Failed:");
  EXPECT_EQ(lines[11],
            "  100APPLE/IMG_0003.HEIC: Read from device failed (HRESULT "
            "0x80004005)");

  const fs::path folder = directory_ / "imported" / "100APPLE";
  std::ifstream photo(folder / "IMG_0001.JPG", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(photo)),
                   std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(fs::file_size(folder / "IMG_0002.MOV"), 1048576u);
  // Nothing of the failed copy is left, neither staged nor renamed.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.MOV"}));
}

// Only a camera: the importer names it, says how to pick it, waits for an
// Apple device and, with nothing to import, exits 2 (it exited 0 before).
TEST_F(ProcessTest, ImporterWithoutAnAppleDeviceSaysHowToPickOneAndExitsTwo) {
  fixture_ = Write("cameras.json", R"({ "devices": [
    { "id": "cam", "friendlyName": "Canon EOS", "manufacturer": "Canon Inc." } ] })");
  ProcessResult result = RunImporter({"imported", "--wait", "0"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(Lines(result.out),
            (std::vector<std::string>{
                "No iPhone or iPad is connected. Connected devices:",
                "  \"Canon EOS\" (Canon Inc.)",
                "To import from one of them, run again with --device \"NAME\".",
                "Waiting up to 0 seconds (Ctrl+C to stop)...",
                "Gave up after waiting 0 seconds."}))
      << result.out;
}

}  // namespace
}  // namespace host_test
