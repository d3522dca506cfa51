// The folder lock in one process; tests/platform/win32 checks that the same
// share mode keeps other processes out.

#include "importer/folder_lock.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>

namespace importer {
namespace {

namespace fs = std::filesystem;

TEST(FolderLockTest, OneHolderAtATimeNothingLeftAfterAndNoneInAMissingFolder) {
  // Not ASCII, so a path passed on unconverted misses the folder.
  const fs::path folder = fs::u8path("folder_lock_test_Caf\xC3\xA9");
  const fs::path lock_file = folder / kFolderLockFileName;
  fs::create_directories(folder);
  std::ofstream(lock_file) << "";  // left by an import that was killed
  FolderLock first, second;
  uint32_t error = 0;
  ASSERT_EQ(first.Take(folder.u8string(), &error), FolderLockOutcome::kTaken);
  EXPECT_EQ(second.Take(folder.u8string(), &error),
            FolderLockOutcome::kHeldByAnotherImport);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  first.Release();
  EXPECT_FALSE(fs::exists(lock_file));
  {
    FolderLock moved = std::move(second);
    EXPECT_EQ(moved.Take(folder.u8string(), &error), FolderLockOutcome::kTaken);
  }  // released by the destructor
  EXPECT_FALSE(fs::exists(lock_file));
  EXPECT_EQ(first.Take((folder / "missing").u8string(), &error),
            FolderLockOutcome::kFailed);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(first.held());
  fs::remove_all(folder);
}

}  // namespace
}  // namespace importer
