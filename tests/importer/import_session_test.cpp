// The import run in-process over simulated devices: what lands in the
// folder, what is never touched, what it says, and how it exits.

#include "importer/import_session.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "importer/file_placement.h"
#include "importer/run_import.h"
#include "platform/wpd/simulator/call_log.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/importer/import_test_util.h"

namespace importer {
namespace {

namespace fs = std::filesystem;
using import_test::AddPhone;
using import_test::Camera;
using import_test::ImportTest;
using import_test::kCameraId;
using import_test::kPhoneId;
using import_test::PhoneFile;
using import_test::ReadFile;
using import_test::StagingFile;
using import_test::Tree;
using import_test::WaitFor;

const std::string kPhoto1(5000, 'a');
const std::string kPhoto2(7000, 'b');
const std::string kVideo(9000, 'c');

std::vector<PhoneFile> GoodFiles() {
  return {{L"IMG_0001.HEIC", kPhoto1},
          {L"IMG_0002.HEIC", kPhoto2},
          {L"IMG_0002.MOV", kVideo}};
}

TEST_F(ImportTest, ImportsIntoTheMonthFolderThenFindsEverythingThere) {
  PlugPhone(GoodFiles());
  ASSERT_EQ(Import(), kExitImported) << Transcript();
  const Tree expected = {{"202610_a", "<folder>"},
                         {"202610_a/IMG_0001.HEIC", kPhoto1},
                         {"202610_a/IMG_0002.HEIC", kPhoto2},
                         {"202610_a/IMG_0002.MOV", kVideo}};
  EXPECT_EQ(Files(), expected);
  EXPECT_TRUE(Said("Imported 3 files (20.5 KB), 0 already there, 0 failed"))
      << Transcript();

  EXPECT_EQ(Import(), kExitImported) << Transcript();
  EXPECT_EQ(Files(), expected);
  EXPECT_TRUE(Said("Nothing new: all 3 files were already there"))
      << Transcript();
}

TEST_F(ImportTest, TwoCopiesRunAtOnceAndEachFileIsSaidOnceInListingOrder) {
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.MOV", kVideo},
                     {L"IMG_0002.HEIC", kPhoto1},
                     {L"IMG_0003.HEIC", kPhoto2}});
  // The first file's data does not come until the phone is unplugged; the
  // two after it are copied meanwhile, one beside it at a time.
  for (wpd_sim::ObjectSpec& object : fixture.devices[0].objects) {
    if (object.id == L"o1") {
      object.Fail(wpd_sim::Call::kRead, wpd_sim::Fault::Hang(0));
    }
  }
  Plug(std::move(fixture));
  const fs::path month = photos_ / "202610_a";
  std::thread unplug([&] {
    const auto copied = [&](const char* staging, size_t size) {
      std::error_code error;
      return fs::file_size(month / staging, error) == size && !error;
    };
    for (int i = 0; i < 1000; ++i) {
      if (simulator_->BlockedReads() == 1 &&
          copied(".IMG_0002.HEIC.part", kPhoto1.size()) &&
          copied(".IMG_0003.HEIC.part", kPhoto2.size())) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Time for the second copy to flush and close its file.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    simulator_->Unplug(kPhoneId);
  });
  const int exit_code = Import();
  unplug.join();
  EXPECT_EQ(exit_code, kExitSomeFailed) << Transcript();
  std::vector<std::string> files;
  for (const std::string& line : lines_) {
    if (line.rfind("Imported:", 0) == 0 || line.rfind("FAILED:", 0) == 0) {
      files.push_back(line.substr(0, line.find(".", line.find("IMG_"))));
    }
  }
  // The copy the unplug ended waits for the phone to come back (here: not
  // at all) before it is reported.
  EXPECT_EQ(files, (std::vector<std::string>{"Imported:  202610_a/IMG_0002",
                                             "Imported:  202610_a/IMG_0003",
                                             "FAILED:  202610_a/IMG_0001"}))
      << Transcript();
  EXPECT_TRUE(Said("The device went away")) << Transcript();
  const Tree expected = {{"202610_a", "<folder>"},
                         {"202610_a/IMG_0002.HEIC", kPhoto1},
                         {"202610_a/IMG_0003.HEIC", kPhoto2}};
  EXPECT_EQ(Files(), expected);
}

TEST_F(ImportTest, CountsWhatTheRollHoldsWhileItIsReadBeforeImporting) {
  PlugPhone(GoodFiles());
  capture_status_ = true;
  ASSERT_EQ(Import(), kExitImported) << Transcript();
  const auto reading = LineOf("Reading the camera roll...");
  const auto counted = LineOf("[status] Found 2 photos and 1 video");
  const auto planned = LineOf("On the device: 3 files");
  const auto first_import = LineOf("Imported:");
  EXPECT_LT(reading, counted) << Transcript();
  EXPECT_LT(counted, planned) << Transcript();
  EXPECT_LT(planned, first_import) << Transcript();
  EXPECT_LT(first_import, static_cast<long>(lines_.size())) << Transcript();
}

// After a good import, a second device session whose streams end early (a
// phone setting changed mid-connection) must leave every file as it was,
// whether it lists the same sizes or new ones, and bring nothing new in.
TEST_F(ImportTest, StreamsThatEndEarlyNeverChangeWhatIsThere) {
  struct Case {
    const char* what;
    std::vector<PhoneFile> second;
    int exit_code;
    const char* said;
  };
  const std::string twelve(12, 'x');
  const Case cases[] = {
      {"same listing, streams cut to 12 bytes",
       {{L"IMG_0001.HEIC", twelve, 5000}, {L"IMG_0002.HEIC", twelve, 7000}},
       kExitImported,
       "Nothing new: all 2 files were already there"},
      {"converted sizes listed, streams cut to 12 bytes",
       {{L"IMG_0001.HEIC", twelve, 222033},
        {L"IMG_0002.HEIC", twelve, 7001},
        {L"IMG_0003.HEIC", twelve, 4000}},
       kExitSomeFailed,
       "202610_a/IMG_0001.HEIC: received 12 of 222033 bytes"},
      {"read fails part way",
       {{L"IMG_0001.HEIC", kPhoto1 + "more", -1, HRESULT(0x8007001E)},
        {L"IMG_0004.HEIC", kPhoto2, -1, HRESULT(0x80042007)}},
       kExitSomeFailed,
       "(HRESULT 0x80042007)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(photos_);
    wpd_sim::Fixture first;
    AddPhone(first, GoodFiles());
    Plug(std::move(first));
    ASSERT_EQ(Import(), kExitImported) << Transcript();
    const Tree before = Files();

    wpd_sim::Fixture second;
    AddPhone(second, c.second);
    Plug(std::move(second));
    EXPECT_EQ(Import(), c.exit_code) << Transcript();
    EXPECT_TRUE(Said(c.said)) << Transcript();
    EXPECT_EQ(Files(), before) << Transcript();
  }
}

TEST_F(ImportTest, AShortStreamIntoAnEmptyFolderLeavesNothing) {
  PlugPhone({{L"IMG_0001.HEIC", std::string(12, 'x'), 222033}});
  EXPECT_EQ(Import(), kExitSomeFailed) << Transcript();
  EXPECT_TRUE(
      Said("FAILED:  202610_a/IMG_0001.HEIC: received 12 of 222033 "
           "bytes"))
      << Transcript();
  EXPECT_TRUE(Said("Imported 0 files (0 B), 0 already there, 1 failed"));
  EXPECT_EQ(Files(), Tree());
}

TEST_F(ImportTest, MoreBytesThanListedAreImportedWithAWarning) {
  PlugPhone({{L"IMG_0001.HEIC", kPhoto1, 4000}});
  EXPECT_EQ(Import(), kExitImported) << Transcript();
  EXPECT_TRUE(
      Said("Warning: 202610_a/IMG_0001.HEIC: received 5000 bytes, "
           "more than the 4000 listed"))
      << Transcript();
  EXPECT_TRUE(ReadFile(photos_ / "202610_a" / "IMG_0001.HEIC") == kPhoto1);

  // Copied again (the listing cannot tell), but not added a second time.
  EXPECT_EQ(Import(), kExitImported) << Transcript();
  EXPECT_TRUE(Said("Nothing new: all 1 files were already there"))
      << Transcript();
  EXPECT_EQ(Files().size(), 2u);
}

TEST_F(ImportTest, APersonsOwnFileKeepsItsNameAndThePhotoLandsBesideIt) {
  Put("202610_a/IMG_0001.HEIC", "my own drawing");
  Put("202610_a/IMG_0002.HEIC", std::string(7000, 'z'));  // same size, theirs
  PlugPhone({{L"IMG_0001.HEIC", kPhoto1}});
  EXPECT_EQ(Import(), kExitImported) << Transcript();
  EXPECT_TRUE(Said("Imported:  202610_a/IMG_0001.HEIC  as IMG_0001 (2).HEIC"))
      << Transcript();
  const Tree expected = {{"202610_a", "<folder>"},
                         {"202610_a/IMG_0001.HEIC", "my own drawing"},
                         {"202610_a/IMG_0001 (2).HEIC", kPhoto1},
                         {"202610_a/IMG_0002.HEIC", std::string(7000, 'z')}};
  EXPECT_EQ(Files(), expected);

  // Found again under its numbered name.
  EXPECT_EQ(Import(), kExitImported) << Transcript();
  EXPECT_TRUE(Said("Nothing new: all 1 files were already there"))
      << Transcript();
  EXPECT_EQ(Files(), expected);
}

TEST_F(ImportTest, AFileWhereTheMonthFolderGoesFailsEachPhotoAndStays) {
  Put("202610_a", "a file, not a folder");
  const Tree before = Files();
  PlugPhone(GoodFiles());
  EXPECT_EQ(Import(), kExitSomeFailed) << Transcript();
  EXPECT_TRUE(Said("Imported 0 files (0 B), 0 already there, 3 failed"))
      << Transcript();
  EXPECT_TRUE(Said("202610_a/IMG_0002.MOV: cannot create the folder"))
      << Transcript();
  EXPECT_EQ(Files(), before);
}

// Names compare as the folder's file system compares them: a file that
// differs only in letter case is the photo where the file system says it
// is the same name (Windows), and another file where it does not (Linux).
TEST_F(ImportTest, LetterCaseCountsAsTheFileSystemCountsIt) {
  Put("202610_a/img_0001.heic", kPhoto1);
  const bool same_name = fs::exists(photos_ / "202610_a" / "IMG_0001.HEIC");
  PlugPhone({{L"IMG_0001.HEIC", kPhoto1}});
  EXPECT_EQ(Import(), kExitImported) << Transcript();
  if (same_name) {
    EXPECT_TRUE(Said("Nothing new")) << Transcript();
    EXPECT_EQ(Files().size(), 2u);
  } else {
    EXPECT_TRUE(Said("Imported 1 files")) << Transcript();
    EXPECT_TRUE(ReadFile(photos_ / "202610_a" / "IMG_0001.HEIC") == kPhoto1);
  }
  EXPECT_TRUE(ReadFile(photos_ / "202610_a" / "img_0001.heic") == kPhoto1);
}

TEST_F(ImportTest, DryRunListsWhatWouldComeAndWritesNothing) {
  Put("202610_a/IMG_0001.HEIC", kPhoto1);
  const Tree before = Files();
  PlugPhone(GoodFiles());
  EXPECT_EQ(Import({"--dry-run"}), kExitImported) << Transcript();
  EXPECT_TRUE(Said("Already there:  202610_a/IMG_0001.HEIC")) << Transcript();
  EXPECT_TRUE(Said("Would import:   202610_a/IMG_0002.HEIC  6.8 KB"));
  EXPECT_TRUE(Said("Would import:   202610_a/IMG_0002.MOV  8.8 KB"));
  EXPECT_TRUE(
      Said("Dry run: 2 files would be imported (15.6 KB), 1 already "
           "there."));
  EXPECT_EQ(Files(), before);
}

// Waiting ends with exit code 2 and a plain reason; a device that turns up
// (or unlocks) while the importer waits is imported from.
TEST_F(ImportTest, WaitsForAPhoneAndForItToUnlock) {
  struct Case {
    const char* what;
    bool phone_at_start;  // else nothing is connected at first
    bool camera;          // a non-Apple device is connected too
    std::vector<std::string> arguments;
    const char* said;
  };
  const Case cases[] = {
      {"no device", false, false, {}, "No iPhone or iPad is connected."},
      {"only a camera", false, true, {}, "--device \"NAME\""},
      {"a named device that is not there",
       false,
       true,
       {"--device", "My iPad"},
       "No device named \"My iPad\""},
      {"a locked phone", true, false, {}, "Unlock it, and if it asks"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    wpd_sim::Fixture fixture;
    if (c.camera) fixture.devices.push_back(Camera());
    if (c.phone_at_start) {
      AddPhone(fixture, {{L"IMG_0001.HEIC", kPhoto1}});
      fixture.devices.back().Locked();  // its storage lists nothing
    }
    Plug(std::move(fixture));
    EXPECT_EQ(Import(c.arguments), kExitNotStarted) << Transcript();
    EXPECT_TRUE(Said(c.said)) << Transcript();
    EXPECT_TRUE(Said("Gave up after waiting 0 seconds.")) << Transcript();

    // The phone arrives, unlocked, while the importer waits.
    std::vector<std::string> waiting = c.arguments;
    if (!waiting.empty()) continue;  // the named device never comes
    waiting.insert(waiting.end(), {"--wait", "20"});
    std::thread plug([this, &c] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      if (c.phone_at_start) {
        simulator_->Unlock(kPhoneId);
        return;
      }
      wpd_sim::Fixture arriving;
      AddPhone(arriving, {{L"IMG_0001.HEIC", kPhoto1}});
      simulator_->AddDevice(std::move(arriving.devices.front()));
    });
    EXPECT_EQ(Import(waiting), kExitImported) << Transcript();
    plug.join();
    EXPECT_TRUE(ReadFile(photos_ / "202610_a" / "IMG_0001.HEIC") == kPhoto1)
        << Transcript();
    EXPECT_TRUE(Said(c.said)) << Transcript();
    EXPECT_TRUE(ReadFile(photos_ / "202610_a" / "IMG_0001.HEIC") == kPhoto1);
    fs::remove_all(photos_);
  }
}

TEST_F(ImportTest, DeviceOptionPicksAnyDeviceByNameOrId) {
  for (const std::string& pick :
       {std::string("canon eos"),
        std::string("\\\\?\\usb#vid_04a9&pid_3218#cam0001#")}) {
    SCOPED_TRACE(pick);
    wpd_sim::Fixture fixture;
    fixture.devices.push_back(Camera());
    AddPhone(fixture, GoodFiles());
    Plug(std::move(fixture));
    EXPECT_EQ(Import({"--device", pick}), kExitImported) << Transcript();
    EXPECT_TRUE(Said("Device: Canon EOS (Canon Inc.)")) << Transcript();
    const Tree expected = {{"100CANON", "<folder>"},
                           {"100CANON/IMG_9000.JPG", "canon"}};
    EXPECT_EQ(Files(), expected);
    fs::remove_all(photos_);
  }
}

// A listing that fails once, of the devices (the system's list changing)
// or of a phone that reads well (a flaky cable, a busy phone), is tried
// again while the wait lasts; without a wait it ends the import with its
// reason.
TEST_F(ImportTest, AListingThatFailsOnceIsTriedAgainWithinTheWait) {
  PlugPhone(GoodFiles());
  const struct {
    const char* call;  // its first call is struck
    std::string retry;
    std::string without_wait;  // the last line
  } rows[] = {
      {"Manager.GetDevices",
       "Listing the devices failed (wpd_error: GetDevices failed (HRESULT "
       "0x80004005)); trying again.",
       "Gave up after waiting 0 seconds."},
      {"Device.Content",
       "Listing the media failed (wpd_error: Prepare content access failed "
       "(HRESULT 0x80004005)); trying again.",
       "Reading the device failed: wpd_error: Prepare content access failed "
       "(HRESULT 0x80004005)."},
  };
  std::vector<wpd_sim::LoggedCall> calls;
  {
    wpd_sim::CallLog log;
    ASSERT_EQ(Import({"--dry-run"}), kExitImported) << Transcript();
    calls = log.calls();
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.call);
    uint64_t first = 0;
    for (size_t i = 0; i < calls.size() && first == 0; ++i) {
      if (calls[i].method == row.call) first = i + 1;
    }
    ASSERT_GT(first, 0u);
    {
      wpd_sim::CallLog strike(first, E_FAIL);
      EXPECT_EQ(Import({"--wait", "0"}), kExitNotStarted) << Transcript();
      EXPECT_EQ(lines_.back(), row.without_wait) << Transcript();
      EXPECT_EQ(Files(), Tree());
    }
    wpd_sim::CallLog strike(first, E_FAIL);
    EXPECT_EQ(Import({"--wait", "30"}), kExitImported) << Transcript();
    ASSERT_TRUE(strike.struck().has_value());
    EXPECT_EQ(strike.struck()->method, row.call);
    EXPECT_TRUE(Said(row.retry)) << Transcript();
    EXPECT_EQ(Files().size(), 4u) << Transcript();
    fs::remove_all(photos_);
  }
}

TEST_F(ImportTest, WithoutPortableDevicesItSaysSoInOneLineAndExitsTwo) {
  wpd_sim::Fixture fixture;
  fixture.Fail(wpd_sim::Call::kCreateManager, HRESULT(0x80040154));
  Plug(std::move(fixture));
  EXPECT_EQ(Import(), kExitNotStarted) << Transcript();
  ASSERT_EQ(lines_.size(), 1u) << Transcript();
  EXPECT_EQ(lines_[0],
            "Windows Portable Devices is not available on this computer "
            "(HRESULT 0x80040154).");
}

// Waits up to 20 s for `done`; false if it never came.

// Ten distinct files of 40 KB: some are imported, then the phone is pulled
// out in the middle of the fourth (the device's own unplug) and plugged in
// again, with new object ids. The import waits, lists again and carries on:
// every file once, byte for byte, nothing left behind, and every thumbnail
// saved (those not yet read asked for again under the new ids). Without a
// system broadcast (Wine) the poll finds it back.
TEST_F(ImportTest, ThePhonePulledOutMidImportAndPluggedBackInLosesNothing) {
  std::vector<PhoneFile> files;
  Tree expected = {{"202610_a", "<folder>"}};
  std::vector<std::string> jpegs;
  Tree expected_thumbnails = {{"202610_a", "<folder>"}};
  for (int i = 1; i <= 10; ++i) {
    std::string data(40000, static_cast<char>('a' + i));
    data.replace(0, 8, "photo " + std::to_string(i % 10) + " ");
    const std::string name = "IMG_000" + std::to_string(i - 1) + ".HEIC";
    jpegs.push_back("thumbnail of " + name);
    files.push_back({std::wstring(name.begin(), name.end()), data});
    expected["202610_a/" + name] = data;
    expected_thumbnails["202610_a/" + name + ".jpg"] = jpegs.back();
  }
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].thumbnail = jpegs[i].c_str();
  }
  wpd_sim::Fixture fixture;
  AddPhone(fixture, files);
  for (wpd_sim::ObjectSpec& object : fixture.devices[0].objects) {
    if (object.id == L"o4") {
      object.Fail(wpd_sim::Call::kRead, wpd_sim::Fault::Unplug(16384));
    }
  }
  Plug(std::move(fixture));
  std::thread replug([this] {
    ASSERT_TRUE(WaitFor([this] { return !simulator_->IsPlugged(kPhoneId); }));
    // Away for a while: the importer polls meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    simulator_->ClearFaults();
    ASSERT_TRUE(simulator_->Plug(kPhoneId));
  });
  const fs::path thumbnails = root_ / "thumbs";
  const int exit_code =
      Import({"--wait", "30", "--thumbnails", thumbnails.u8string()});
  replug.join();
  EXPECT_EQ(exit_code, kExitImported) << Transcript();
  EXPECT_EQ(simulator_->Connections(kPhoneId), 2u);
  EXPECT_EQ(Files(), expected) << Transcript();  // no staging file either
  photos_ = thumbnails;
  EXPECT_EQ(Files(), expected_thumbnails) << Transcript();
  std::map<std::string, int> imported;
  long went_away = -1;
  long back = -1;
  long first_import = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& line = lines_[i];
    if (line.rfind("Imported:  ", 0) == 0) {
      ++imported[line.substr(11, line.find(' ', 11) - 11)];
      if (first_import < 0) first_import = static_cast<long>(i);
    }
    if (line.rfind("The device went away", 0) == 0) went_away = i;
    if (line.rfind("The device is back", 0) == 0) back = i;
    EXPECT_EQ(line.rfind("FAILED", 0), std::string::npos) << line;
  }
  EXPECT_EQ(imported.size(), 10u) << Transcript();
  for (const auto& file : imported) EXPECT_EQ(file.second, 1) << file.first;
  EXPECT_LT(first_import, went_away) << Transcript();
  EXPECT_LT(went_away, back) << Transcript();
  EXPECT_TRUE(Said("Imported 10 files (390.6 KB), 0 already there, 0 failed"))
      << Transcript();
}

// A reset while the roll is read: the import asks for a replug, trusts no
// listing of that connection, and carries on once the phone is plugged in
// again.
TEST_F(ImportTest, AResetWhileTheRollIsReadAsksForAReplug) {
  std::vector<PhoneFile> files;
  for (int i = 0; i < 30; ++i) {
    const std::string name = "IMG_" + std::to_string(1000 + i) + ".HEIC";
    files.push_back({std::wstring(name.begin(), name.end()), kPhoto1});
  }
  wpd_sim::Fixture fixture;
  AddPhone(fixture, files);
  wpd_sim::LinkSpec link;
  link.round_trip_ms = 10;  // the walk takes a while
  fixture.devices[0].Link(link);
  Plug(std::move(fixture));
  std::thread reset([this] {
    ASSERT_TRUE(
        WaitFor([this] { return simulator_->OpenSessions(kPhoneId) > 0; }));
    ASSERT_TRUE(simulator_->Reset(kPhoneId));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(simulator_->Replug(kPhoneId));
  });
  const int exit_code = Import({"--wait", "30"});
  reset.join();
  EXPECT_EQ(exit_code, kExitImported) << Transcript();
  EXPECT_LT(LineOf("Replug the phone"), LineOf("On the device: 30 files"))
      << Transcript();
  EXPECT_LT(LineOf("On the device: 30 files"),
            static_cast<long>(lines_.size()))
      << Transcript();
  EXPECT_EQ(Files().size(), 31u) << Transcript();
}

// Each photo's thumbnail lands as NAME.jpg in its folder under the
// thumbnails folder: none for videos or photos without one, and a file
// already there is kept. A second run saves nothing new.
TEST_F(ImportTest, ThumbnailsAreSavedBesideTheImportAndNeverReplaced) {
  const char* jpeg1 = "\xFF\xD8 thumbnail one";
  const char* jpeg3 = "\xFF\xD8 thumbnail three";
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.HEIC", kPhoto1, -1, S_OK, jpeg1},
                     {L"IMG_0002.HEIC", kPhoto2, -1, S_OK, "theirs? no"},
                     {L"IMG_0002.MOV", kVideo, -1, S_OK, "a video's"},
                     {L"IMG_0003.JPG", kPhoto2 + "x", -1, S_OK, jpeg3},
                     {L"IMG_0004.PNG", kPhoto1 + "y"}});  // has none
  Plug(std::move(fixture));
  const fs::path thumbnails = root_ / "thumbs";
  import_test::WriteFile(thumbnails / "202610_a" / "IMG_0002.HEIC.jpg",
                         "my own");
  const auto thumbnail_files = [&] {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(thumbnails)) {
      if (entry.is_directory()) continue;
      // Seen in Explorer: a thumbnail is never left hidden.
      WIN32_FILE_ATTRIBUTE_DATA data = {};
      const bool hidden =
          GetFileAttributesExW(entry.path().wstring().c_str(),
                               GetFileExInfoStandard, &data) &&
          (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
      tree[entry.path().lexically_relative(thumbnails).generic_u8string()] =
          ReadFile(entry.path()) + (hidden ? " (hidden)" : "");
    }
    return tree;
  };
  const Tree expected = {{"202610_a/IMG_0001.HEIC.jpg", jpeg1},
                         {"202610_a/IMG_0002.HEIC.jpg", "my own"},
                         {"202610_a/IMG_0003.JPG.jpg", jpeg3}};
  ASSERT_EQ(Import({"--thumbnails", thumbnails.u8string()}), kExitImported)
      << Transcript();
  EXPECT_EQ(thumbnail_files(), expected) << Transcript();
  EXPECT_TRUE(Said("Thumbnails: 2 saved in " + thumbnails.u8string() +
                   ", 1 already there."))
      << Transcript();
  EXPECT_EQ(Files().size(), 6u) << Transcript();

  ASSERT_EQ(Import({"--thumbnails", thumbnails.u8string()}), kExitImported)
      << Transcript();
  EXPECT_EQ(thumbnail_files(), expected) << Transcript();
  EXPECT_TRUE(Said("Thumbnails: 0 saved in " + thumbnails.u8string() +
                   ", 3 already there."))
      << Transcript();
}

// A folder whose full path is longer than MAX_PATH: photos, thumbnails, the
// lock and the check all work there, and a second run finds it all.
TEST_F(ImportTest, ImportsIntoAFolderDeeperThanMaxPath) {
  photos_ = root_ / std::string(100, 'p') / std::string(100, 'q') / "photos";
  const fs::path thumbnails = photos_.parent_path() / "thumbs";
  ASSERT_GT(photos_.u8string().size(), 260u);
  std::vector<PhoneFile> files = GoodFiles();
  files[0].thumbnail = "thumbnail";
  PlugPhone(files);
  ASSERT_EQ(Import({"--thumbnails", thumbnails.u8string()}), kExitImported)
      << Transcript();
  // Looked at through the importer's own calls: the C++ library's are
  // bound by MAX_PATH on Windows.
  const std::string month = JoinPath(photos_.u8string(), "202610_a");
  for (const auto& [name, bytes] : {std::pair{"IMG_0001.HEIC", kPhoto1},
                                    std::pair{"IMG_0002.HEIC", kPhoto2},
                                    std::pair{"IMG_0002.MOV", kVideo}}) {
    EXPECT_EQ(FindImportedCopy(month, name, bytes.size()).value_or("none"),
              name);
    EXPECT_FALSE(PathExists(
        JoinPath(month, "." + std::string(name) + "." +
                            std::to_string(GetCurrentProcessId()) + ".part")));
  }
  EXPECT_TRUE(Said("Checked: all 3 files on the phone")) << Transcript();
  EXPECT_TRUE(FindImportedCopy(JoinPath(thumbnails.u8string(), "202610_a"),
                               "IMG_0001.HEIC.jpg", 9));
  ASSERT_EQ(Import(), kExitImported) << Transcript();
  EXPECT_TRUE(Said("Nothing new: all 3 files were already there"))
      << Transcript();
}

// A scanner opens a finished staging file, without FILE_SHARE_DELETE, for a
// second while it waits its turn behind a slower copy: its move waits the
// scanner out, and nothing is left behind.
TEST_F(ImportTest, AScannerHoldingAStagingFileIsWaitedOut) {
  const std::string video(1000000, 'v');
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.MOV", video}, {L"IMG_0002.HEIC", kPhoto2}});
  wpd_sim::LinkSpec link;
  link.megabytes_per_second = 2;  // the video takes about half a second
  fixture.devices[0].Link(link);
  Plug(std::move(fixture));
  const fs::path folder = photos_ / "202610_a";
  const std::wstring staging = StagingFile(folder, "IMG_0002.HEIC").wstring();
  std::atomic<bool> held{false};
  std::atomic<bool> waited{false};
  std::thread scanner([&] {
    HANDLE file = INVALID_HANDLE_VALUE;
    // Opens once the copy has closed it (the copy shares nothing).
    ASSERT_TRUE(WaitFor([&] {
      file = CreateFileW(staging.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      return file != INVALID_HANDLE_VALUE;
    }));
    held = true;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    waited = !fs::exists(folder / "IMG_0002.HEIC");
    CloseHandle(file);
  });
  const int exit_code = Import();
  scanner.join();
  EXPECT_TRUE(held);
  EXPECT_TRUE(waited) << "placed while the scanner held it";
  EXPECT_EQ(exit_code, kExitImported) << Transcript();
  const Tree expected = {{"202610_a", "<folder>"},
                         {"202610_a/IMG_0001.MOV", video},
                         {"202610_a/IMG_0002.HEIC", kPhoto2}};
  EXPECT_EQ(Files(), expected) << Transcript();
}

}  // namespace
}  // namespace importer
