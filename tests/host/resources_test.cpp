// The executable's resources, linked into this test exactly as into the
// program: the icon group the window class loads, the manifest and the
// version block as the system reads them back.

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "host/win32_window.h"
#include "tests/version_block.h"

namespace snapferry {
namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colors;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

std::string ResourceBytes(const wchar_t* name, const wchar_t* type) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, name, type);
  if (found == nullptr) return "";
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return std::string(data, SizeofResource(module, found));
}

TEST(ResourcesTest, IconGroupHoldsSevenPngImagesFrom16To256) {
  const std::string group =
      ResourceBytes(MAKEINTRESOURCEW(kAppIconResourceId), RT_GROUP_ICON);
  ASSERT_GE(group.size(), 6u);
  WORD count = 0;
  std::memcpy(&count, group.data() + 4, sizeof(count));
  ASSERT_EQ(count, 7);
  ASSERT_EQ(group.size(), 6 + count * sizeof(GroupIconEntry));

  std::set<int> sizes;
  for (int i = 0; i < count; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + 6 + i * sizeof(entry), sizeof(entry));
    const int size = entry.width == 0 ? 256 : entry.width;
    EXPECT_EQ(entry.width, entry.height);
    sizes.insert(size);
    const std::string image =
        ResourceBytes(MAKEINTRESOURCEW(entry.id), RT_ICON);
    ASSERT_EQ(image.size(), entry.bytes);
    EXPECT_EQ(image.substr(0, 8), "\x89PNG\r\n\x1a\n") << size;
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST(ResourcesTest, WindowClassCarriesTheApplicationIcon) {
  EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr),
                      MAKEINTRESOURCEW(kAppIconResourceId)),
            nullptr);
  Win32Window window;
  ASSERT_TRUE(window.Create(L"Icon", {10, 10}, {100, 100}));
  EXPECT_NE(GetClassLongPtrW(window.Handle(), GCLP_HICON), 0u);
}

TEST(ResourcesTest, ManifestAsksForPerMonitorV2AsInvokerOnTheOneSupportedOs) {
  const std::string manifest = ResourceBytes(MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find(">PerMonitorV2<"), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""),
            std::string::npos);
  const std::string os =
      "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>";
  const size_t first = manifest.find(os);
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(manifest.find("supportedOS", first + os.size()), std::string::npos);
}

class VersionBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    ASSERT_TRUE(block_.Load(path));
  }
  std::wstring Text(const wchar_t* name) { return block_.Text(name); }

  test_support::VersionBlock block_;
};

TEST_F(VersionBlockTest, NumbersAndTranslationReadBack) {
  const VS_FIXEDFILEINFO* fixed = block_.Fixed();
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);  // .0.1
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);

  WORD language = 0;
  WORD code_page = 0;
  ASSERT_EQ(block_.Translation(&language, &code_page), 1u);
  EXPECT_EQ(language, 0x0409);
  EXPECT_EQ(code_page, 1252);
}

TEST_F(VersionBlockTest, StringsReadBack) {
  EXPECT_EQ(Text(L"FileVersion"), L"1.0.0+1");
  EXPECT_EQ(Text(L"ProductVersion"), L"1.0.0+1");
  EXPECT_EQ(Text(L"FileDescription"), L"Snapferry");
  EXPECT_EQ(Text(L"ProductName"), L"Snapferry");
  EXPECT_EQ(Text(L"InternalName"), L"snapferry");
  EXPECT_EQ(Text(L"OriginalFilename"), L"snapferry.exe");
}

}  // namespace
}  // namespace snapferry
