// Staging files left by an import that was stopped at once: which names are
// the importer's, and that only those go, in the folder and one level down.

#include "importer/staging_cleanup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "importer/file_placement.h"
#include "tests/importer/test_folder.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

TEST(StagingCleanupTest, OnlyTheImportersStagingNamesOfAnyProcess) {
  EXPECT_TRUE(IsStagingName(StagingName("IMG_0001.HEIC", 1)));
  EXPECT_TRUE(IsStagingName(StagingName("IMG_0001.HEIC", 3)));
  EXPECT_TRUE(IsStagingName(".IMG_0001.HEIC.4242.part"));
  EXPECT_TRUE(IsStagingName(".IMG_0001.HEIC.jpg.7.part"));
  for (const char* other :
       {".IMG_0001.HEIC.part", "IMG_0001.HEIC.4242.part", ".4242.part",
        ".IMG_0001.HEIC.42a.part", ".IMG_0001.HEIC.4242.part.jpg",
        ".snapferry-import.lock", "IMG_0001.HEIC"}) {
    EXPECT_FALSE(IsStagingName(other)) << other;
  }
}

TEST(StagingCleanupTest, RemovesThemInTheFolderAndItsSubfoldersOnly) {
  const import_test::TestFolder folder("snapferry_cleanup_test_");
  const fs::path& root = folder.path();
  const std::vector<std::string> left = {
      ".IMG_0001.HEIC.111.part", "202610_a/.2.IMG_0002.MOV.222.part"};
  const std::vector<std::string> kept = {
      "IMG_0001.HEIC", "202610_a/.IMG_0003.HEIC.part",
      "202610_a/deeper/.IMG_0004.HEIC.333.part"};
  for (const auto& names : {left, kept}) {
    for (const std::string& name : names) {
      import_test::WriteFile(root / name, "bytes");
    }
  }
  std::vector<std::string> removed = RemoveLeftStagingFiles(root.u8string());
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{
                         JoinPath(root.u8string(), left[0]),
                         JoinPath(JoinPath(root.u8string(), "202610_a"),
                                  ".2.IMG_0002.MOV.222.part")}));
  for (const std::string& name : left) EXPECT_FALSE(fs::exists(root / name));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(root / name));
}

}  // namespace
}  // namespace importer
