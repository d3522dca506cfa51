// Placement against a scanner that never lets go, played by the stand-in's
// holds (Linux only): the file fails with the system's own reason, and the
// staging file it could not remove is named in the summary.

#include <windows.h>
#include <gtest/gtest.h>

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
  EXPECT_TRUE(Said("FAILED:  202610_a/IMG_0002.HEIC: moving the copy into "
                   "place failed (error 32)"))
      << Transcript();
  EXPECT_TRUE(Said("Staging files that could not be removed:")) << Transcript();
  EXPECT_TRUE(Said("  " + staging.u8string() + " (error 32)")) << Transcript();
  EXPECT_TRUE(fs::exists(staging));
  EXPECT_TRUE(fs::exists(photos_ / "202610_a" / "IMG_0001.MOV"));
}

}  // namespace
}  // namespace importer
