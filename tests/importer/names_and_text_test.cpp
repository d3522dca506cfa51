// The importer's helpers: names from a device never leave the chosen folder,
// numbered names and the no-replace placement hold on the real file system,
// the command line reads as documented, and the progress bar and sizes read
// right at their edges.

#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "importer/console_page.h"
#include "importer/file_placement.h"
#include "importer/folder_index.h"
#include "importer/options.h"
#include "importer/text_format.h"
#include "tests/importer/test_folder.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

TEST(SafeComponentTest, DeviceNamesCannotClimbOutOrNameAnotherFolder) {
  EXPECT_EQ(SafeComponent(".."), "_");
  EXPECT_EQ(SafeComponent("."), "_");
  EXPECT_EQ(SafeComponent(""), "_");
  EXPECT_EQ(SafeComponent("../../etc/passwd"), ".._.._etc_passwd");
  EXPECT_EQ(SafeComponent("..\\..\\Windows"), ".._.._Windows");
  EXPECT_EQ(SafeComponent("C:evil"), "C_evil");
  EXPECT_EQ(SafeComponent(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeComponent("what?*<>|\"\n.HEIC"), "what_______.HEIC");
}

TEST(SafeComponentTest, OrdinaryAndNonAsciiNamesStayAsTheyAre) {
  EXPECT_EQ(SafeComponent("IMG_0001.HEIC"), "IMG_0001.HEIC");
  EXPECT_EQ(SafeComponent("Caf\xC3\xA9 2024.jpg"), "Caf\xC3\xA9 2024.jpg");
  EXPECT_EQ(SafeComponent("...."), "....");
}

TEST(ProgressBarTest, FillsInProportionAndClampsOutOfRangeFractions) {
  EXPECT_EQ(ProgressBar(0, 10), "[----------]   0%");
  EXPECT_EQ(ProgressBar(0.5, 10), "[#####-----]  50%");
  EXPECT_EQ(ProgressBar(0.999, 10), "[#########-]  99%");
  EXPECT_EQ(ProgressBar(1, 10), "[##########] 100%");
  EXPECT_EQ(ProgressBar(1.7, 10), "[##########] 100%");
  EXPECT_EQ(ProgressBar(-0.2, 10), "[----------]   0%");
  EXPECT_EQ(ProgressBar(std::numeric_limits<double>::quiet_NaN(), 4),
            "[----]   0%");
}

TEST(FormatBytesTest, SwitchesUnitAtEach1024) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KB");
  EXPECT_EQ(FormatBytes(1048576), "1.0 MB");
  EXPECT_EQ(FormatBytes(5LL << 30), "5.0 GB");
  EXPECT_EQ(FormatBytes(3LL << 40), "3.0 TB");
}

TEST(NumberedNameTest, NumberGoesBeforeTheExtension) {
  EXPECT_EQ(NumberedName("IMG_0001.HEIC", 1), "IMG_0001.HEIC");
  EXPECT_EQ(NumberedName("IMG_0001.HEIC", 2), "IMG_0001 (2).HEIC");
  EXPECT_EQ(NumberedName("clip.final.MOV", 10), "clip.final (10).MOV");
  EXPECT_EQ(NumberedName("README", 3), "README (3)");
  EXPECT_EQ(NumberedName(".IMG_0001.HEIC.part", 2), ".IMG_0001.HEIC (2).part");
  EXPECT_EQ(NumberedName(".hidden", 2), ".hidden (2)");
}

TEST(NumberedNameTest, ANumberedNameTellsItsNameAndNumber) {
  for (const char* name : {"IMG_0001.HEIC", "clip.final.MOV", "README",
                           ".hidden", "IMG (2).JPG"}) {
    for (int n : {2, 10, 9999}) {
      EXPECT_EQ(UnnumberedName(NumberedName(name, n)),
                std::make_pair(std::string(name), n));
    }
  }
  for (const char* listed :
       {"IMG_1.HEIC", "IMG_1 (1).HEIC", "IMG_1 (0).HEIC", "IMG_1 (02).HEIC",
        "IMG_1 (10000).HEIC", "IMG_1 ().HEIC", "IMG_1(2).HEIC",
        "IMG_1 (2)x.HEIC", "IMG_1 (-2).HEIC", " (2).HEIC", "(2)"}) {
    EXPECT_FALSE(UnnumberedName(listed)) << listed;
  }
}

TEST(OptionsTest, ReadsEveryOptionAndRefusesWhatItDoesNotKnow) {
  Options options;
  std::string error;
  ASSERT_TRUE(
      ParseOptions({"D:\\Photos", "--device", "My iPhone", "--wait", "15",
                    "--dry-run", "--demo", "--thumbnails", "D:\\Thumbs"},
                   &options, &error))
      << error;
  EXPECT_EQ(options.folder, "D:\\Photos");
  EXPECT_EQ(options.device, "My iPhone");
  EXPECT_EQ(options.wait_seconds, 15);
  EXPECT_EQ(options.thumbnails, "D:\\Thumbs");
  EXPECT_TRUE(options.dry_run && options.demo && !options.help);

  Options report;
  ASSERT_TRUE(
      ParseOptions({"--report", "r.txt", "--device", "x"}, &report, &error))
      << error;
  EXPECT_EQ(report.report, "r.txt");

  Options defaults;
  ASSERT_TRUE(ParseOptions({}, &defaults, &error));
  EXPECT_EQ(defaults.folder, "snapferry-import");
  EXPECT_EQ(defaults.wait_seconds, 300);
  EXPECT_EQ(defaults.poll_milliseconds, 2000);

  const std::vector<std::vector<std::string>> refused = {
      {"--wait"},
      {"--wait", "-1"},
      {"--wait", "5s"},
      {"--device"},
      {"--device", ""},
      {"--force"},
      {"one", "two"},
      {"--thumbnails"},
      {"--thumbnails", ""},
      // A report imports nothing: a folder or what shapes an import is a
      // mistake said at once.
      {"--report"},
      {"--report", "r.txt", "D:\\Photos"},
      {"--report", "r.txt", "--dry-run"},
      {"--thumbnails", "t", "--report", "r.txt"},
  };
  for (const auto& arguments : refused) {
    Options ignored;
    error.clear();
    EXPECT_FALSE(ParseOptions(arguments, &ignored, &error)) << arguments[0];
    EXPECT_FALSE(error.empty());
  }

  Options polled;
  ApplyPollOverride("50", &polled);
  EXPECT_EQ(polled.poll_milliseconds, 50);
  ApplyPollOverride("0", &polled);
  ApplyPollOverride("fast", &polled);
  ApplyPollOverride(nullptr, &polled);
  EXPECT_EQ(polled.poll_milliseconds, 50);
}

class PlacementTest : public ::testing::Test {
 protected:
  void Put(const std::string& name, const std::string& bytes) {
    import_test::WriteFile(folder_ / fs::u8path(name), bytes);
  }
  std::string Read(const std::string& name) {
    return import_test::ReadFile(folder_ / fs::u8path(name));
  }
  std::string Folder() const { return folder_.u8string(); }

  import_test::TestFolder scratch_{"snapferry_placement_test_"};
  fs::path folder_ = scratch_.path();
};

TEST_F(PlacementTest, AnImportedCopyIsTheNameOrANumberedVariantOfTheSameSize) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> present;
    const char* found;  // null: not imported yet
    const char* free_name;
  };
  const Case cases[] = {
      {{}, nullptr, "IMG_1.HEIC"},
      {{{"IMG_1.HEIC", "12345"}}, "IMG_1.HEIC", "IMG_1 (2).HEIC"},
      {{{"IMG_1.HEIC", "theirs"}, {"IMG_1 (2).HEIC", "1234"}},
       nullptr,
       "IMG_1 (3).HEIC"},
      // A gap in the numbers, and the copy past it.
      {{{"IMG_1.HEIC", "x"}, {"IMG_1 (3).HEIC", "12345"}},
       "IMG_1 (3).HEIC",
       "IMG_1 (2).HEIC"},
      // Look-alikes that are not numbered variants.
      {{{"IMG_1 (2)x.HEIC", "12345"},
        {"IMG_1 (0).HEIC", "12345"},
        {"IMG_1 (1).HEIC", "12345"},
        {"IMG_1 copy.HEIC", "12345"},
        {"IMG_10.HEIC", "12345"}},
       nullptr,
       "IMG_1.HEIC"},
  };
  for (const Case& c : cases) {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    for (const auto& [name, bytes] : c.present) Put(name, bytes);
    SCOPED_TRACE(c.present.empty() ? "empty" : c.present[0].first);
    const auto found = FindImportedCopy(Folder(), "IMG_1.HEIC", 5);
    EXPECT_EQ(found.value_or("<none>"), c.found ? c.found : "<none>");
    EXPECT_EQ(FirstFreeName(Folder(), "IMG_1.HEIC").value_or("<none>"),
              c.free_name);
  }
  // A missing folder holds nothing and offers no name.
  EXPECT_FALSE(FindImportedCopy(Folder() + "/missing", "IMG_1.HEIC", 5));
  EXPECT_FALSE(FirstFreeName(Folder() + "/missing", "IMG_1.HEIC"));
}

// The folder read once answers for every photo in it, and the file system,
// asked under the photo's own spelling, decides which names are the same.
TEST_F(PlacementTest, AFolderReadOnceFindsEachPhotosCopy) {
  for (const auto& [name, bytes] :
       std::vector<std::pair<std::string, std::string>>{
           {"IMG_1.HEIC", "theirs"},
           {"IMG_1 (12).HEIC", "12345"},
           {"IMG_1 (3).HEIC", "12345"},
           {"IMG_5 (2).HEIC", "12345"},
           {"img_6.heic", "12345"},
           {"img_7 (2).HEIC", "12345"},
           {"README (2)", "12345"}}) {
    Put(name, bytes);
  }
  fs::create_directories(folder_ / "IMG_4.HEIC");
  fs::create_directories(folder_ / "IMG_4 (2).HEIC");
  fs::create_directories(folder_ / "IMG_5.HEIC");
  const bool case_folds = fs::exists(folder_ / "IMG_6.HEIC");
  struct Case {
    const char* name;
    int64_t size;
    const char* found;  // null: none
  };
  const Case cases[] = {
      // The lowest number of that size, by number, not by text.
      {"IMG_1.HEIC", 5, "IMG_1 (3).HEIC"},
      {"IMG_1.HEIC", -1, "IMG_1.HEIC"},
      {"IMG_1.HEIC", 7, nullptr},
      {"IMG_2.HEIC", -1, nullptr},
      // Folders never count.
      {"IMG_4.HEIC", -1, nullptr},
      {"IMG_5.HEIC", -1, "IMG_5 (2).HEIC"},
      {"IMG_6.HEIC", 5, case_folds ? "IMG_6.HEIC" : nullptr},
      {"IMG_7.HEIC", 5, case_folds ? "IMG_7 (2).HEIC" : nullptr},
      {"img_7.heic", 5, case_folds ? "img_7 (2).heic" : nullptr},
      {"img_7.HEIC", 5, "img_7 (2).HEIC"},
      {"README", 5, "README (2)"},
  };
  FolderIndex index;
  for (const Case& c : cases) {
    EXPECT_EQ(index.FindCopy(Folder(), c.name, c.size).value_or("<none>"),
              c.found ? c.found : "<none>")
        << c.name << ", " << c.size << " bytes";
  }
  EXPECT_FALSE(index.FindCopy(Folder() + "/missing", "IMG_1.HEIC", -1));
  // The folder as it was first read: a file placed since takes a new index.
  Put("IMG_2.HEIC", "12345");
  EXPECT_FALSE(index.FindCopy(Folder(), "IMG_2.HEIC", 5));
  EXPECT_EQ(FolderIndex().FindCopy(Folder(), "IMG_2.HEIC", 5), "IMG_2.HEIC");
}

TEST_F(PlacementTest, MovingNeverReplacesAFile) {
  Put("staging", "photo");
  Put("IMG_1.HEIC", "theirs");
  uint32_t error = 0;
  EXPECT_EQ(MoveWithoutReplacing(JoinPath(Folder(), "staging"),
                                 JoinPath(Folder(), "IMG_1.HEIC"), &error),
            MoveOutcome::kNameTaken);
  EXPECT_EQ(Read("IMG_1.HEIC"), "theirs");
  EXPECT_EQ(Read("staging"), "photo");
  EXPECT_EQ(MoveWithoutReplacing(JoinPath(Folder(), "staging"),
                                 JoinPath(Folder(), "IMG_1 (2).HEIC"), &error),
            MoveOutcome::kMoved);
  EXPECT_EQ(Read("IMG_1 (2).HEIC"), "photo");
  EXPECT_FALSE(fs::exists(folder_ / "staging"));
  EXPECT_EQ(MoveWithoutReplacing(JoinPath(Folder(), "gone"),
                                 JoinPath(Folder(), "elsewhere"), &error),
            MoveOutcome::kFailed);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(ConsolePageTest, TheCodePageFoundIsGivenBack) {
  if (!SetConsoleOutputCP(437)) GTEST_SKIP() << "no console here";
  UseUtf8ConsoleOutput();
  EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
  RestoreConsoleOutput();
  EXPECT_EQ(GetConsoleOutputCP(), 437u);
  SetConsoleOutputCP(850);
  RestoreConsoleOutput();  // once only: a later change stays
  EXPECT_EQ(GetConsoleOutputCP(), 850u);
  SetConsoleOutputCP(CP_UTF8);
}

// Holds are waited out from timers, with growing pauses, for about 2 s per
// step; a folder that has spent 10 s so gets no more waits.
TEST(HoldWaitsTest, WaitsOutPassingHoldsWithinTheirBudgets) {
  HoldWaits::Clock::time_point now{};
  std::deque<std::pair<int, std::function<void()>>> timers;
  HoldWaits holds(
      [&](int pause, std::function<void()> task) {
        timers.emplace_back(pause, std::move(task));
      },
      [&] { return now; });
  const uint32_t kShare = ERROR_SHARING_VIOLATION;
  const uint32_t kDenied = ERROR_ACCESS_DENIED;
  struct Case {
    const char* folder;
    std::vector<uint32_t> answers;  // the last one for good
    uint32_t done;
    int min_ms, max_ms;  // the time it took
  };
  const Case cases[] = {
      {"a", {0}, 0, 0, 0},
      {"a", {ERROR_DISK_FULL}, ERROR_DISK_FULL, 0, 0},
      {"a", {kShare, kDenied, kShare, 0}, 0, 1, 400},
      {"a", {kShare, ERROR_FILE_EXISTS}, ERROR_FILE_EXISTS, 1, 100},
      // Four holds for good use up folder b's 10 s...
      {"b", {kDenied}, kDenied, 2000, 2500},
      {"b", {kDenied}, kDenied, 2000, 2500},
      {"b", {kDenied}, kDenied, 2000, 2500},
      {"b", {kShare}, kShare, 2000, 2500},
      {"b", {kShare}, kShare, 1, 2500},
      // ...after which a hold there is answered at once, not elsewhere.
      {"b", {kDenied, 0}, kDenied, 0, 0},
      {"c", {kDenied, 0}, 0, 1, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + " " + std::to_string(c.done));
    const auto start = now;
    size_t tries = 0;
    uint32_t done = 0xFFFFFFFF;
    holds.Run(
        c.folder,
        [&] { return c.answers[std::min(tries++, c.answers.size() - 1)]; },
        [&](uint32_t code) { done = code; });
    for (; !timers.empty(); timers.pop_front()) {
      EXPECT_GT(timers.front().first, 0);
      EXPECT_LE(timers.front().first, 500);  // pauses stay short
      now += std::chrono::milliseconds(timers.front().first);
      timers.front().second();
    }
    EXPECT_EQ(done, c.done);
    EXPECT_GE(now - start, std::chrono::milliseconds(c.min_ms));
    EXPECT_LE(now - start, std::chrono::milliseconds(c.max_ms));
  }
}

}  // namespace
}  // namespace importer
