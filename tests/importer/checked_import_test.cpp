// What an import may claim: a file counts as imported only when all of it
// arrived, the bounds on copies and attempts hold, and a phone that answers
// oddly (a went-away code while it stays plugged in, nothing listed after a
// replug, a reset) never ends an import as done with files still owed.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "importer/folder_lock.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/importer/import_test_util.h"

namespace importer {
namespace {

namespace fs = std::filesystem;
using import_test::AddPhone;
using import_test::ImportTest;
using import_test::kNoSize;
using import_test::kPhoneId;
using import_test::PhoneFile;
using import_test::Tree;
using import_test::WaitFor;

constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);

// Each case imports twice: a file whose size the listing did not tell (or
// told as 0) is judged by what arrived and by the size the copy read, and
// the second run neither adds a copy nor calls a failed one there.
TEST_F(ImportTest, WhatArrivesIsJudgedByTheSizeTheCopyRead) {
  struct Case {
    const char* what;
    PhoneFile file;
    int exit_code;
    const char* said;
    Tree files;
  };
  const std::string photo(5000, 'p');
  const Case cases[] = {
      {"one byte short of the listed size",
       {L"IMG_0001.HEIC", photo, 5001},
       kExitSomeFailed,
       "IMG_0001.HEIC: received 5000 of 5001 bytes",
       {}},
      {"no size listed, nothing came",
       {L"IMG_0001.HEIC", "", kNoSize},
       kExitSomeFailed,
       "IMG_0001.HEIC: received 0 bytes",
       {}},
      {"no size listed, bytes came",
       {L"IMG_0001.HEIC", photo, kNoSize},
       kExitImported,
       "Nothing new: all 1 files were already there",
       {{"202610_a", "<folder>"}, {"202610_a/IMG_0001.HEIC", photo}}},
      {"an empty file listed as empty",
       {L"IMG_0001.HEIC", "", 0},
       kExitImported,
       "Nothing new: all 1 files were already there",
       {{"202610_a", "<folder>"}, {"202610_a/IMG_0001.HEIC", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(photos_);
    PlugPhone({c.file});
    EXPECT_EQ(Import(), c.exit_code) << Transcript();
    EXPECT_EQ(Files(), c.files) << Transcript();
    EXPECT_EQ(Import(), c.exit_code) << Transcript();
    EXPECT_TRUE(Said(c.said)) << Transcript();
    EXPECT_EQ(Files(), c.files) << Transcript();
  }
}

TEST_F(ImportTest, NoMoreCopiesRunAtOnceThanTheSetting) {
  for (const int setting : {1, 2, 3}) {
    SCOPED_TRACE(setting);
    wpd_sim::Fixture fixture;
    AddPhone(fixture, {{L"IMG_0001.HEIC", "one"},
                       {L"IMG_0002.HEIC", "two"},
                       {L"IMG_0003.HEIC", "three"},
                       {L"IMG_0004.HEIC", "four"}});
    for (wpd_sim::ObjectSpec& object : fixture.devices[0].objects) {
      object.Fail(wpd_sim::Call::kRead, wpd_sim::Fault::Hang(0));
    }
    Plug(std::move(fixture));
    copies_in_flight_ = setting;
    int most = 0;
    std::thread watch([&] {
      WaitFor([&] { return simulator_->BlockedReads() >= setting; });
      // Time for a copy beyond the setting to start, were it allowed.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      most = simulator_->BlockedReads();
      simulator_->Unplug(kPhoneId);
    });
    EXPECT_EQ(Import(), kExitSomeFailed) << Transcript();
    watch.join();
    EXPECT_EQ(most, setting) << Transcript();
  }
}

// The phone stays plugged in and answers 0x8007001F for one photo and its
// thumbnail (as for a photo it fails to convert): that photo is asked for
// three times and fails, the rest is imported, and the phone is never taken
// for gone.
TEST_F(ImportTest, APhotoThePhoneCannotServeIsAskedForThreeTimesThenFails) {
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.HEIC", "first", -1, S_OK, "thumb one"},
                     {L"IMG_0002.HEIC", "second", -1, S_OK, "thumb two"}});
  fixture.devices[0].objects.back().Fail(wpd_sim::Call::kGetStream,
                                         kGenFailure);
  Plug(std::move(fixture));
  const fs::path thumbnails = root_ / "thumbs";
  EXPECT_EQ(Import({"--thumbnails", thumbnails.u8string()}), kExitSomeFailed)
      << Transcript();
  EXPECT_TRUE(Said("FAILED:  202610_a/IMG_0002.HEIC")) << Transcript();
  EXPECT_TRUE(Said("(HRESULT 0x8007001F)")) << Transcript();
  EXPECT_FALSE(Said("went away")) << Transcript();
  EXPECT_TRUE(Said("Thumbnails: 1 saved in " + thumbnails.u8string() +
                   ", 1 could not be read."))
      << Transcript();
  EXPECT_EQ(counts_.requests["copyObject o1"], 1);
  EXPECT_EQ(counts_.requests["copyObject o2"], 3);
  EXPECT_EQ(counts_.requests["getThumbnail o2"], 3);
  const Tree expected = {{"202610_a", "<folder>"},
                         {"202610_a/IMG_0001.HEIC", "first"}};
  EXPECT_EQ(Files(), expected);
}

// The phone goes away mid-import and comes back listing nothing (its month
// folder answers an empty listing): that is a phone still locked, waited
// for, never "no photos".
TEST_F(ImportTest, APhoneBackFromAReplugListingNothingIsWaitedFor) {
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.HEIC", std::string(40000, 'a')},
                     {L"IMG_0002.HEIC", std::string(40000, 'b')},
                     {L"IMG_0003.HEIC", std::string(40000, 'c')}});
  fixture.devices[0].objects.back().Fail(wpd_sim::Call::kRead,
                                         wpd_sim::Fault::Unplug(16384));
  Plug(std::move(fixture));
  copies_in_flight_ = 1;
  std::thread replug([this] {
    ASSERT_TRUE(WaitFor([this] { return !simulator_->IsPlugged(kPhoneId); }));
    simulator_->ClearFaults();
    ASSERT_TRUE(simulator_->SetObjectFault(kPhoneId, L"m1",
                                           wpd_sim::Call::kNext,
                                           wpd_sim::Fault{S_FALSE}));
    ASSERT_TRUE(simulator_->Plug(kPhoneId));
  });
  const int exit_code = Import({"--wait", "1"});
  replug.join();
  EXPECT_EQ(exit_code, kExitSomeFailed) << Transcript();
  EXPECT_TRUE(Said("The device shows no photos yet")) << Transcript();
  EXPECT_FALSE(Said("holds no photos")) << Transcript();
  EXPECT_TRUE(Said("IMG_0003.HEIC: ")) << Transcript();
  EXPECT_TRUE(Said("Imported 2 files (78.1 KB), 0 already there, 1 failed"))
      << Transcript();
}

// A photo the listings in use could not read fails, and stays failed when
// the check at the end reads it after all: it is no new photo, and not here.
TEST_F(ImportTest, APhotoNotReadStaysFailedWhenTheCheckReadsIt) {
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.MOV", std::string(200000, 'v')},
                     {L"IMG_0002.HEIC", "two"}});
  fixture.devices[0].objects.back().Fail(wpd_sim::Call::kGetValues, E_FAIL);
  wpd_sim::LinkSpec link;
  link.megabytes_per_second = 1;  // the copy takes 0.2 s
  fixture.devices[0].Link(link);
  Plug(std::move(fixture));
  std::thread heal([this] {
    WaitFor([this] { return simulator_->Calls(wpd_sim::Call::kRead) > 0; });
    simulator_->ClearFaults();
  });
  const int exit_code = Import({"--wait", "5"});
  heal.join();
  EXPECT_EQ(exit_code, kExitSomeFailed) << Transcript();
  EXPECT_TRUE(Said("Checked: 1 of 2 files on the phone is not in "))
      << Transcript();
  EXPECT_FALSE(Said("new file")) << Transcript();
  EXPECT_TRUE(Said("Imported 1 files (195.3 KB), 0 already there, 1 failed"))
      << Transcript();
}

// After a reset the phone serves nothing new until it is plugged in again:
// the copy running ends, and no other starts.
TEST_F(ImportTest, NoCopyStartsAfterAReset) {
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.MOV", std::string(300000, 'v')},
                     {L"IMG_0002.HEIC", "two"},
                     {L"IMG_0003.HEIC", "three"}});
  wpd_sim::LinkSpec link;
  link.megabytes_per_second = 1;  // the first copy takes 0.3 s
  fixture.devices[0].Link(link);
  Plug(std::move(fixture));
  copies_in_flight_ = 1;
  std::thread reset([this] {
    ASSERT_TRUE(
        WaitFor([this] { return simulator_->Calls(wpd_sim::Call::kRead); }));
    ASSERT_TRUE(simulator_->Reset(kPhoneId));
  });
  const int exit_code = Import({"--wait", "1"});
  reset.join();
  EXPECT_EQ(exit_code, kExitSomeFailed) << Transcript();
  EXPECT_TRUE(Said("Replug the phone")) << Transcript();
  EXPECT_EQ(counts_.requests["copyObject o1"], 1) << Transcript();
  EXPECT_EQ(counts_.requests.count("copyObject o2"), 0u) << Transcript();
  EXPECT_TRUE(Said("IMG_0002.HEIC: not copied: the device reset"))
      << Transcript();
}

// A staging file left by an import that was ended at once goes with the
// next import into that folder, and only then: not on a dry run, not while
// another import holds the folder, never in a thumbnails folder outside it.
TEST_F(ImportTest, StagingFilesLeftBehindGoOnlyUnderTheLock) {
  PlugPhone({{L"IMG_0001.HEIC", "one", -1, S_OK, "thumb"}});
  const fs::path thumbnails = root_ / "thumbs";
  const fs::path left = photos_ / "202610_a" / ".IMG_0009.HEIC.99999.part";
  const fs::path outside = thumbnails / "202610_a" / ".x.jpg.99999.part";
  for (const fs::path& path : {left, outside}) {
    import_test::WriteFile(path, "left");
  }
  EXPECT_EQ(Import({"--dry-run"}), kExitImported) << Transcript();
  EXPECT_TRUE(fs::exists(left));
  {
    FolderLock other;
    ASSERT_EQ(other.Take(photos_.u8string(), nullptr),
              FolderLockOutcome::kTaken);
    EXPECT_EQ(Import(), kExitNotStarted) << Transcript();
    EXPECT_TRUE(Said("Another import into ")) << Transcript();
    EXPECT_TRUE(fs::exists(left));
  }
  EXPECT_EQ(Import({"--thumbnails", thumbnails.u8string()}), kExitImported)
      << Transcript();
  EXPECT_TRUE(Said("Removed a staging file left by an import that was "
                   "stopped: "))
      << Transcript();
  EXPECT_FALSE(fs::exists(left));
  EXPECT_TRUE(fs::exists(outside));
}

// A phone that lists few files is most likely keeping the rest in iCloud:
// said once, before the summary, also when it lists none; not for a roll of
// 50 or more.
TEST_F(ImportTest, FewFilesListedSaysWhereTheRestAre) {
  const std::string kWhy = "Only photos and videos stored on the phone can be";
  for (const int files : {0, 3, 50}) {
    SCOPED_TRACE(files);
    fs::remove_all(photos_);
    std::vector<PhoneFile> roll;
    for (int i = 0; i < files; ++i) {
      roll.push_back({L"IMG_" + std::to_wstring(1000 + i) + L".JPG", "jpg"});
    }
    wpd_sim::Fixture fixture;
    AddPhone(fixture, roll);
    if (files == 0) fixture.devices.front().AddFolder(L"m1", L"s1", L"202610_a");
    Plug(std::move(fixture));
    EXPECT_EQ(Import(), kExitImported) << Transcript();
    const long said = LineOf(kWhy);
    if (files >= 50) {
      EXPECT_EQ(said, static_cast<long>(lines_.size())) << Transcript();
      continue;
    }
    EXPECT_LT(said, static_cast<long>(lines_.size())) << Transcript();
    EXPECT_EQ(std::count_if(lines_.begin(), lines_.end(),
                            [&](const std::string& line) {
                              return line.find(kWhy) != std::string::npos;
                            }),
              1)
        << Transcript();
    // Right before the summary.
    const long summary =
        LineOf("Imported " + std::to_string(files) + " files");
    EXPECT_LT(summary, static_cast<long>(lines_.size())) << Transcript();
    EXPECT_EQ(said, summary - 1) << Transcript();
  }
}

}  // namespace
}  // namespace importer
