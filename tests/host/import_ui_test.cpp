// The import interface's helpers: names from a device never leave the
// chosen folder, and the progress bar and sizes read right at their edges.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/engine/import_ui/import_interface.h"

namespace import_ui {
namespace {

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

}  // namespace
}  // namespace import_ui
