// snapferry-import as a whole process: exit codes, what is left on disk, the
// poll interval from the environment, Ctrl+C (POSIX: SIGINT) mid-copy, and on
// Windows the system's portable devices when no fixture is named.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/host/process_runner.h"
#include "tests/importer/run_importer.h"

namespace importer {
namespace {

namespace fs = std::filesystem;
using host_test::ProcessOptions;
using host_test::ProcessResult;
using host_test::RunProcess;

// An iPhone of today, with one month folder holding `files` (JSON objects
// with the parent "m1"); `device` adds device fields.
std::string Phone(const std::string& files, const std::string& device = "") {
  return R"({ "devices": [
  { "id": "\\\\?\\usb#vid_05ac&pid_12a8&mi_00#phone#{6ac27878-a6fa-4155-ba85-f98f491d4f33}",
    "friendlyName": "Test iPhone", "manufacturer": "Apple Inc.", )" +
         device + R"(
    "objects": [
      { "id": "s1", "contentType": "functional", "name": "Internal Storage" },
      { "id": "m1", "parent": "s1", "contentType": "folder", "name": "202610_a" },
      )" +
         files + "] } ] }";
}

// A listing of 222,033 bytes whose stream ends after 12 (a phone setting
// changed mid-connection).
const std::string kPhoneWithShortStream = Phone(R"(
  { "id": "o1", "parent": "m1", "contentType": "image",
    "originalFileName": "IMG_0001.HEIC", "size": 222033, "data": "twelve bytes" })");

const std::string kGoodPhone = Phone(R"(
  { "id": "o1", "parent": "m1", "contentType": "image",
    "originalFileName": "IMG_0001.HEIC", "size": 5, "data": "hello" },
  { "id": "o2", "parent": "m1", "contentType": "video",
    "originalFileName": "IMG_0001.MOV", "size": 70000, "data": {"pattern": 70000} })");

// 64 MB handed out 64 bytes per read: a copy that takes long enough to be
// interrupted.
const std::string kSlowPhone = Phone(R"(
  { "id": "o1", "parent": "m1", "contentType": "video",
    "originalFileName": "IMG_0001.MOV", "size": 67108864,
    "data": {"pattern": 67108864} })",
                                     R"("maxReadSize": 64,)");

const std::string kNoDevices = R"({ "devices": [] })";

std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& file : import_test::TreeBelow(folder)) {
    names.push_back(file.first);
  }
  return names;
}

class ImporterProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(directory_ / "photos"); }

  // `fixture` null: no SNAPFERRY_DEVICES at all.
  ProcessResult Run(const std::string* fixture,
                    std::vector<std::string> arguments,
                    const std::string& interrupt_after = "",
                    const std::string& interrupt_again_after = "") {
    ProcessOptions options;
    options.arguments = std::move(arguments);
    options.arguments.insert(options.arguments.begin(), "photos");
    options.environment = {{"SNAPFERRY_POLL_MS", "50"},
                           {"SNAPFERRY_UNPLUG_NOTICE_MS", "0"}};
    options.interrupt_after_output = interrupt_after;
    options.interrupt_again_after_output = interrupt_again_after;
    ProcessResult result =
        import_test::RunImporter(directory_, fixture, std::move(options));
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out) << result.out << result.err;
    return result;
  }

  import_test::TestFolder folder_{"snapferry_importer_"};
  fs::path directory_ = folder_.path();
};

TEST_F(ImporterProcessTest, ImportsFromAFixtureAndExitsZero) {
  ProcessResult result = Run(&kGoodPhone, {});
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(FilesBelow(directory_ / "photos"),
            (std::vector<std::string>{"202610_a", "202610_a/IMG_0001.HEIC",
                                      "202610_a/IMG_0001.MOV"}));
  EXPECT_NE(result.out.find("Imported 2 files (68.4 KB), 0 already there, "
                            "0 failed"),
            std::string::npos)
      << result.out;
}

TEST_F(ImporterProcessTest, AShortStreamFailsLeavesNothingAndExitsOne) {
  ProcessResult result = Run(&kPhoneWithShortStream, {});
  EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
  EXPECT_NE(result.out.find("202610_a/IMG_0001.HEIC: received 12 of 222033 "
                            "bytes"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(FilesBelow(directory_ / "photos"), std::vector<std::string>());
}

TEST_F(ImporterProcessTest, NoDeviceWaitsThenExitsTwo) {
  ProcessResult result = Run(&kNoDevices, {"--wait", "1"});
  EXPECT_EQ(result.exit_code, 2) << result.out << result.err;
  EXPECT_NE(result.out.find("No iPhone or iPad is connected."),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Gave up after waiting 1 seconds."),
            std::string::npos);
}

// Two month folders of a phone of today; `second` holds the second folder's
// objects (parent "m2"), `first_fault` goes into IMG_0001's own fields.
std::string TwoMonths(const std::string& second,
                      const std::string& first_fault = "") {
  return Phone(R"(
  { "id": "o1", "parent": "m1", "contentType": "image",
    "originalFileName": "IMG_0001.HEIC", "size": 5, "data": "hello",
    "thumbnail": "thumb" )" + first_fault + R"( },
  { "id": "m2", "parent": "s1", "contentType": "folder", "name": "202611_a" )" +
               second);
}

// What the last line and the exit code may claim: exit 0 only when every
// file on the phone is in the folder; anything not read is said and fails.
TEST_F(ImporterProcessTest, TheLastWordIsTrue) {
  struct Case {
    const char* what;
    std::string fixture;
    std::vector<std::string> arguments;
    int exit_code;
    std::vector<std::string> files;
    const char* said;
  };
  const std::string photo2 = R"(,
  { "id": "o2", "parent": "m2", "contentType": "image",
    "originalFileName": "IMG_0002.HEIC", "size": 3, "data": "abc")";
  const std::vector<std::string> both = {
      "202610_a", "202610_a/IMG_0001.HEIC", "202611_a",
      "202611_a/IMG_0002.HEIC"};
  const std::vector<std::string> first = {"202610_a",
                                          "202610_a/IMG_0001.HEIC"};
  const Case cases[] = {
      {"a whole roll", TwoMonths("}" + photo2 + " }"), {}, 0, both,
       "Checked: all 2 files on the phone are in "},
      {"a folder that cannot be listed",
       TwoMonths(R"(, "fail": {"EnumObjects": 2147500037} })" + photo2 +
                 " }"),
       {}, 1, first,
       "202611_a: an item could not be read from the phone (HRESULT "
       "0x80004005)"},
      {"a folder whose listing fails part way",
       TwoMonths(R"(, "fail": {"Next": 2147942570} })" + photo2 + " }"),
       {}, 1, first, "(HRESULT 0x800700AA)"},
      {"a photo whose properties cannot be read",
       TwoMonths("}" + photo2 + R"(, "fail": {"GetValues": 2147500037} })"),
       {}, 1, first, "202611_a: an item could not be read"},
      {"a photo the phone cannot serve while it stays plugged in",
       TwoMonths("}" + photo2 + R"(, "fail": {"GetValues": 2147942431} })"),
       {}, 1, first, "(HRESULT 0x8007001F)"},
      {"a stream one byte short",
       TwoMonths("}" + photo2.substr(0, photo2.find("\"size\": 3")) +
                 R"("size": 4, "data": "abc" })"),
       {}, 1, first, "202611_a/IMG_0002.HEIC: received 3 of 4 bytes"},
      {"no size listed and nothing served",
       TwoMonths("}" + photo2.substr(0, photo2.find("\"size\": 3")) +
                 R"("data": "" })"),
       {}, 1, first, "202611_a/IMG_0002.HEIC: received 0 bytes"},
      {"a thumbnail the phone cannot serve",
       TwoMonths("}" + photo2 + " }",
                 R"(, "fail": {"GetStream": 2147942431})"),
       {"--thumbnails", "thumbs"}, 1, {"202611_a", "202611_a/IMG_0002.HEIC"},
       "1 could not be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(directory_ / "photos");
    ProcessResult result = Run(&c.fixture, c.arguments);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.out << result.err;
    EXPECT_EQ(FilesBelow(directory_ / "photos"), c.files) << result.out;
    EXPECT_NE(result.out.find(c.said), std::string::npos) << result.out;
  }
}

// Two imports into one folder: the second, started while the first runs,
// touches nothing; the first imports every file once.
TEST_F(ImporterProcessTest, ASecondImportIntoTheSameFolderStopsAtOnce) {
  // 3 MB at 1 MB/s: the first import runs for three seconds, long enough
  // for a second process to start beside it under Wine too.
  const std::string phone = Phone(R"(
  { "id": "o1", "parent": "m1", "contentType": "image",
    "originalFileName": "IMG_0001.HEIC", "size": 5, "data": "hello" },
  { "id": "o2", "parent": "m1", "contentType": "video",
    "originalFileName": "IMG_0001.MOV", "size": 3000000,
    "data": {"pattern": 3000000} })",
                                  R"("link": {"megabytesPerSecond": 1},)");
  ProcessResult first;
  std::thread running([&] { first = Run(&phone, {}); });
  const fs::path lock = directory_ / "photos" / ".snapferry-import.lock";
  for (int i = 0; i < 500 && !fs::exists(lock); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ProcessResult second = Run(&phone, {});
  running.join();
  EXPECT_EQ(second.exit_code, 2) << second.out << second.err;
  EXPECT_NE(second.out.find("Another import into "), std::string::npos)
      << second.out;
  EXPECT_NE(second.out.find(" is running."), std::string::npos) << second.out;
  EXPECT_EQ(first.exit_code, 0) << first.out << first.err;
  EXPECT_EQ(FilesBelow(directory_ / "photos"),
            (std::vector<std::string>{"202610_a", "202610_a/IMG_0001.HEIC",
                                      "202610_a/IMG_0001.MOV"}));
}

TEST_F(ImporterProcessTest, HelpAndBadOptions) {
  ProcessResult help = Run(&kNoDevices, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: snapferry-import [FOLDER] [options]"),
            std::string::npos);
  ProcessResult bad = Run(&kNoDevices, {"--wait", "soon"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("--wait needs a number of seconds"),
            std::string::npos);
}

#ifdef _WIN32
// Wine has no Windows Portable Devices; a real PC answers with its devices.
TEST_F(ImporterProcessTest, WithoutAFixtureItUsesTheSystemsPortableDevices) {
  fs::remove_all(directory_ / "photos");
  ProcessResult result = Run(nullptr, {"--wait", "0"});
  if (result.out.find("Windows Portable Devices is not available") ==
      std::string::npos) {
    GTEST_SKIP() << "this system offers portable devices: " << result.out;
  }
  // One plain line, and no folder made for nothing.
  EXPECT_EQ(result.exit_code, 2);
  std::string out = result.out;
  out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
  EXPECT_EQ(out,
            "Windows Portable Devices is not available on this computer "
            "(HRESULT 0x80040154).\n");
  EXPECT_FALSE(fs::exists(directory_ / "photos"));
}
#else
TEST_F(ImporterProcessTest, SigintMidCopyCancelsItAndExits130) {
  ProcessResult result =
      Run(&kSlowPhone, {}, /*interrupt_after=*/"On the device: ");
  EXPECT_EQ(result.exit_code, 130) << result.out << result.err;
  EXPECT_NE(result.out.find("Cancelled:  202610_a/IMG_0001.MOV"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Imported 0 files (0 B), 0 already there, "
                            "0 failed"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Stopped: 1 files not imported."),
            std::string::npos);
  // No staging file, no month folder made for nothing.
  EXPECT_EQ(FilesBelow(directory_ / "photos"), std::vector<std::string>());
}

// A read that does not heed the cancel (one Read of a stream that crawls)
// cannot keep the importer: a second Ctrl+C ends it at once.
TEST_F(ImporterProcessTest, ASecondSigintEndsTheImportAtOnce) {
  const std::string crawling = Phone(R"(
  { "id": "o1", "parent": "m1", "contentType": "video",
    "originalFileName": "IMG_0001.MOV", "size": 1000000,
    "data": {"pattern": 1000000} })",
                                     R"("link": {"megabytesPerSecond": 0.01},)");
  const auto started = std::chrono::steady_clock::now();
  ProcessResult result =
      Run(&crawling, {}, "On the device: ", "Stopping (Ctrl+C)...");
  EXPECT_EQ(result.exit_code, 130) << result.out << result.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started,
            std::chrono::seconds(20));
  // Nothing half-copied stays in the month folder.
  EXPECT_EQ(FilesBelow(directory_ / "photos" / "202610_a"),
            std::vector<std::string>());
}
#endif

}  // namespace
}  // namespace importer
