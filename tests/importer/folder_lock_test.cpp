// The folder lock: one holder at a time, nothing left behind after release,
// a clear failure where the folder is missing. (Other processes are kept out
// by the same share mode; tests/platform/win32 checks that.)

#include "importer/folder_lock.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>

namespace importer {
namespace {

namespace fs = std::filesystem;

class FolderLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Folder() const { return folder_.u8string(); }
  bool LockFileExists() const {
    return fs::exists(folder_ / kFolderLockFileName);
  }

  // Not ASCII, so a path passed on unconverted misses the folder.
  const fs::path folder_ = fs::u8path("folder_lock_test_Caf\xC3\xA9");
};

TEST_F(FolderLockTest, OneHolderAtATimeAndNothingLeftAfterRelease) {
  // A lock file left by an import that was killed does not keep anyone out.
  std::ofstream(folder_ / kFolderLockFileName) << "";
  FolderLock first, second;
  uint32_t error = 0;
  ASSERT_EQ(first.Take(Folder(), &error), FolderLockOutcome::kTaken);
  EXPECT_EQ(second.Take(Folder(), &error),
            FolderLockOutcome::kHeldByAnotherImport);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(second.held());

  first.Release();
  EXPECT_FALSE(LockFileExists());
  ASSERT_EQ(second.Take(Folder(), &error), FolderLockOutcome::kTaken);
  EXPECT_TRUE(LockFileExists());
  {
    FolderLock moved = std::move(second);
    EXPECT_EQ(first.Take(Folder(), &error),
              FolderLockOutcome::kHeldByAnotherImport);
  }
  EXPECT_FALSE(LockFileExists());
}

TEST_F(FolderLockTest, AMissingFolderFailsWithTheSystemsCode) {
  FolderLock lock;
  uint32_t error = 0;
  EXPECT_EQ(lock.Take(Folder() + "/missing", &error),
            FolderLockOutcome::kFailed);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(lock.held());
}

}  // namespace
}  // namespace importer
