// snapferry-import.exe's version block as Windows reads it from the file
// (the Properties dialog's Details tab): numbers and strings carry the
// project's version, set once in the top CMakeLists.txt.

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

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
    const std::wstring path = Wide(SNAPFERRY_IMPORTER);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version block, error " << GetLastError();
    block_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block_.data()));
    // The strings live under the block's first translation, as every
    // reader of version blocks finds them.
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_GE(length, 4u);
    wchar_t language[16];
    swprintf(language, 16, L"%04x%04x", translation[0], translation[1]);
    strings_ = std::wstring(L"\\StringFileInfo\\") + language + L"\\";
  }

  std::wstring Text(const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = strings_ + name;
    if (!VerQueryValueW(block_.data(), query.c_str(), &value, &length) ||
        length == 0) {
      return L"<missing>";
    }
    return static_cast<const wchar_t*>(value);
  }

  std::vector<uint8_t> block_;
  std::wstring strings_;
};

TEST_F(ImporterVersionBlockTest, NumbersAndStringsAreTheProjectVersion) {
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(SNAPFERRY_PROJECT_VERSION, "%u.%u.%u", &major, &minor,
                        &patch),
            3);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\",
                             reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
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
