// The import run in-process over simulated phones: the fixture the
// importer's in-process tests share (a phone of today, the folder, one
// import with what it said, the files it left).

#ifndef SNAPFERRY_TESTS_IMPORTER_IMPORT_TEST_UTIL_H_
#define SNAPFERRY_TESTS_IMPORTER_IMPORT_TEST_UTIL_H_

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "importer/import_session.h"
#include "importer/options.h"
#include "importer/run_import.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/importer/test_folder.h"

namespace importer {
namespace import_test {

namespace fs = std::filesystem;

constexpr wchar_t kPhoneId[] =
    L"\\\\?\\usb#vid_05ac&pid_12a8&mi_00#phone#"
    L"{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
constexpr wchar_t kCameraId[] = L"\\\\?\\usb#vid_04a9&pid_3218#cam0001#";

// A file on the phone: its bytes, and the size the phone lists (-1: the
// bytes' own size; kNoSize: none). Listing more than it serves is a stream
// that ends early.
inline constexpr int64_t kNoSize = -2;
struct PhoneFile {
  std::wstring name;
  std::string data;
  int64_t listed = -1;
  HRESULT read_failure = S_OK;      // after the first 4 bytes
  const char* thumbnail = nullptr;  // none when null
};

// An iPhone of today: month folders right under "Internal Storage". An empty
// file list models a locked phone, whose storage shows no children.
inline void AddPhone(wpd_sim::Fixture& fixture,
                     const std::vector<PhoneFile>& files,
                     const wchar_t* id = kPhoneId) {
  wpd_sim::DeviceSpec& phone = fixture.AddDevice(id)
                                   .FriendlyName(L"Test iPhone")
                                   .Manufacturer(L"Apple Inc.")
                                   .Description(L"Apple iPhone");
  phone.AddStorage(L"s1", L"Internal Storage");
  if (files.empty()) return;
  phone.AddFolder(L"m1", L"s1", L"202610_a");
  int number = 0;
  for (const PhoneFile& file : files) {
    wpd_sim::ObjectSpec& object =
        phone.AddFile(L"o" + std::to_wstring(++number), L"m1", file.name,
                      wpd_sim::ContentType::kImage, file.data);
    if (file.listed >= 0) object.Size(static_cast<uint64_t>(file.listed));
    if (file.listed == kNoSize) object.size.reset();
    if (file.read_failure != S_OK) {
      object.Fail(wpd_sim::Call::kRead, file.read_failure, 4);
    }
    if (file.thumbnail != nullptr) object.Thumbnail(file.thumbnail);
  }
}

inline wpd_sim::DeviceSpec Camera() {
  wpd_sim::Fixture fixture;
  wpd_sim::DeviceSpec& camera = fixture.AddDevice(kCameraId)
                                    .FriendlyName(L"Canon EOS")
                                    .Manufacturer(L"Canon Inc.");
  camera.AddStorage(L"c1", L"SD");
  camera.AddFolder(L"c2", L"c1", L"100CANON");
  camera.AddFile(L"c3", L"c2", L"IMG_9000.JPG", wpd_sim::ContentType::kImage,
                 "canon");
  return camera;
}

class ImportTest : public ::testing::Test {
 protected:
  // The phone goes before the folder.
  void TearDown() override { simulator_.reset(); }

  void Plug(wpd_sim::Fixture fixture) {
    simulator_.reset();
    simulator_ = std::make_unique<wpd_sim::Simulator>(std::move(fixture));
    ASSERT_TRUE(simulator_->ok()) << simulator_->error();
  }
  // Plugs in a phone of today (AddPhone) holding `files`, alone.
  void PlugPhone(const std::vector<PhoneFile>& files) {
    wpd_sim::Fixture fixture;
    AddPhone(fixture, files);
    Plug(std::move(fixture));
  }

  // Runs one import into photos_; `lines` gets what it said.
  int Import(std::vector<std::string> arguments = {}) {
    Options options;
    std::string error;
    EXPECT_TRUE(ParseOptions(arguments, &options, &error)) << error;
    options.folder = photos_.u8string();
    options.poll_milliseconds = 20;
    options.unplug_notice_milliseconds = 0;
    options.copies_in_flight = copies_in_flight_;
    if (std::find(arguments.begin(), arguments.end(), "--wait") ==
        arguments.end()) {
      options.wait_seconds = 0;
    }
    lines_.clear();
    Output output;
    output.write_line = [this](const std::string& line) {
      lines_.push_back(line);
    };
    if (capture_status_) {
      output.show_status = [this](const std::string& status) {
        lines_.push_back("[status] " + status);
      };
    }
    return RunImport(options, output, &counts_);
  }

  // The first line holding `text`, by its place in lines_ (lines_.size():
  // none).
  long LineOf(const std::string& text) const {
    return static_cast<long>(
        std::find_if(lines_.begin(), lines_.end(),
                     [&](const std::string& line) {
                       return line.find(text) != std::string::npos;
                     }) -
        lines_.begin());
  }
  bool Said(const std::string& text) const {
    return LineOf(text) < static_cast<long>(lines_.size());
  }
  std::string Transcript() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }

  // Every file below photos_, with its bytes.
  Tree Files() const { return TreeBelow(photos_); }

  void Put(const std::string& relative, const std::string& bytes) {
    WriteFile(photos_ / fs::u8path(relative), bytes);
  }

  TestFolder folder_{"snapferry_import_"};
  fs::path root_ = folder_.path();
  fs::path photos_ = root_ / "photos";
  std::unique_ptr<wpd_sim::Simulator> simulator_;
  std::vector<std::string> lines_;
  bool capture_status_ = false;  // in-place lines go to lines_ too
  int copies_in_flight_ = kDefaultCopiesInFlight;
  CallCounts counts_;  // of the last import
};

// The staging file this process copies `name` into first, in `folder`.
inline fs::path StagingFile(const fs::path& folder, const std::string& name) {
  return folder /
         ("." + name + "." + std::to_string(GetCurrentProcessId()) + ".part");
}

// Waits up to 20 s for `done`; false if it never came.
inline bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 2000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace import_test
}  // namespace importer

#endif  // SNAPFERRY_TESTS_IMPORTER_IMPORT_TEST_UTIL_H_
