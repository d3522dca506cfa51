// snapferry-import.exe's version block as Windows reads it from the file
// (the Properties dialog's Details tab): numbers and strings carry the
// project's version, set once in the top CMakeLists.txt.

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/version_block.h"

namespace importer {
namespace {

std::wstring Wide(const std::string& utf8) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1,
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], length);
  wide.pop_back();
  return wide;
}

class ImporterVersionBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(block_.Load(Wide(SNAPFERRY_IMPORTER)))
        << "no version block, error " << GetLastError();
  }
  std::wstring Text(const wchar_t* name) { return block_.Text(name); }

  test_support::VersionBlock block_;
};

TEST_F(ImporterVersionBlockTest, NumbersAndStringsAreTheProjectVersion) {
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(SNAPFERRY_PROJECT_VERSION, "%u.%u.%u", &major, &minor,
                        &patch),
            3);
  const VS_FIXEDFILEINFO* fixed = block_.Fixed();
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  const std::wstring version = Wide(SNAPFERRY_PROJECT_VERSION);
  EXPECT_EQ(Text(L"FileVersion"), version);
  EXPECT_EQ(Text(L"ProductVersion"), version);
  EXPECT_EQ(Text(L"ProductName"), L"Snapferry");
  EXPECT_EQ(Text(L"OriginalFilename"), L"snapferry-import.exe");
  EXPECT_NE(Text(L"FileDescription"), L"<missing>");
}

}  // namespace
}  // namespace importer
