// Placement against scanners, where the stand-in behaves as Windows and Wine
// does not (a pending deletion), or only its holds can play the part (a
// scanner that never lets go). Linux only.

#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "importer/import_session.h"
#include "tests/importer/import_test_util.h"
#include "win32_standin/control.h"

namespace importer {
namespace {

namespace fs = std::filesystem;
using import_test::AddPhone;
using import_test::ImportTest;
using import_test::StagingFile;
using import_test::Tree;
using import_test::WaitFor;

TEST_F(ImportTest, AStagingFileHeldForGoodFailsItsFileAndIsNamedInTheSummary) {
  const std::string video(1000000, 'v');
  wpd_sim::Fixture fixture;
  AddPhone(fixture, {{L"IMG_0001.MOV", video}, {L"IMG_0002.HEIC", "photo"}});
  wpd_sim::LinkSpec link;
  link.megabytes_per_second = 2;  // the second copy ends first
  fixture.devices[0].Link(link);
  Plug(std::move(fixture));
  const fs::path staging = StagingFile(photos_ / "202610_a", "IMG_0002.HEIC");
  std::thread scanner([&] {
    ASSERT_TRUE(WaitFor([&] {
      std::error_code error;
      return fs::file_size(staging, error) == 5;
    }));
    win32_standin::HoldPath(staging.wstring(), ERROR_SHARING_VIOLATION);
  });
  const int exit_code = Import();
  scanner.join();
  win32_standin::Reset();
  EXPECT_EQ(exit_code, kExitSomeFailed) << Transcript();
  EXPECT_TRUE(
      Said("FAILED:  202610_a/IMG_0002.HEIC: moving the copy into "
           "place failed (error 32)"))
      << Transcript();
  EXPECT_TRUE(Said("Staging files that could not be removed:")) << Transcript();
  EXPECT_TRUE(Said("  " + staging.u8string() + " (error 32)")) << Transcript();
  EXPECT_TRUE(fs::exists(staging));
  EXPECT_TRUE(fs::exists(photos_ / "202610_a" / "IMG_0001.MOV"));
}

// A file under the photo's name whose deletion is pending (a scanner still
// has it open) answers ERROR_ACCESS_DENIED to every look, as on Windows
// (Wine reports its attributes): the free-name search waits until it is
// gone, and the photo takes its own name.
TEST_F(ImportTest, APendingDeletionUnderThePhotosNameIsWaitedOut) {
  PlugPhone({{L"IMG_0001.HEIC", "photo"}});
  fs::create_directories(photos_ / "202610_a");
  const std::wstring pending_path =
      (photos_ / "202610_a" / "IMG_0001.HEIC").wstring();
  HANDLE pending =
      CreateFileW(pending_path.c_str(), GENERIC_WRITE | DELETE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(pending, INVALID_HANDLE_VALUE);
  FILE_DISPOSITION_INFO disposition{TRUE};
  ASSERT_TRUE(SetFileInformationByHandle(pending, FileDispositionInfo,
                                         &disposition, sizeof(disposition)));
  std::thread scanner([pending] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    CloseHandle(pending);
  });
  const int exit_code = Import();
  scanner.join();
  EXPECT_EQ(exit_code, kExitImported) << Transcript();
  const Tree expected = {{"202610_a", "<folder>"},
                         {"202610_a/IMG_0001.HEIC", "photo"}};
  EXPECT_EQ(Files(), expected) << Transcript();
}

}  // namespace
}  // namespace importer
