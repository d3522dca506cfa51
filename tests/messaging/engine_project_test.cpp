#include "messaging/engine_project.h"

#include <gtest/gtest.h>

namespace flutter {
namespace {

TEST(EngineProjectTest, AppendsEachFileToTheBaseWithOneBackslash) {
  const EngineProject project(L"data");
  EXPECT_EQ(project.assets_path(), L"data\\flutter_assets");
  EXPECT_EQ(project.icu_data_path(), L"data\\icudtl.dat");
  EXPECT_EQ(project.aot_library_path(), L"data\\app.so");
  // The base is used as given, separator or not.
  EXPECT_EQ(EngineProject(L"C:\\app\\").assets_path(),
            L"C:\\app\\\\flutter_assets");
}

}  // namespace
}  // namespace flutter
