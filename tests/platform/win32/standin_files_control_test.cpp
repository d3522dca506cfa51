#include <windows.h>

#include <filesystem>

#include "gtest/gtest.h"
#include "win32_standin/control.h"

namespace {

namespace fs = std::filesystem;

class StandinFilesControl : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories("standin_files_test"); }
  void TearDown() override {
    win32_standin::Reset();
    fs::remove_all("standin_files_test");
  }
  static HANDLE Create(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

TEST_F(StandinFilesControl, InjectedCreateFailureCreatesNothing) {
  win32_standin::FailCreateFileW(ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(Create(L"standin_files_test/a.jpg"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(fs::exists("standin_files_test/a.jpg"));
  HANDLE file = Create(L"standin_files_test/a.jpg");
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(win32_standin::OpenFileHandleCount(), 1);
  CloseHandle(file);
  EXPECT_EQ(win32_standin::OpenFileHandleCount(), 0);
}

TEST_F(StandinFilesControl, InjectedWriteFailureWritesNothing) {
  HANDLE file = Create(L"standin_files_test\\b.jpg");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  win32_standin::FailWriteFile(ERROR_DISK_FULL, 1);
  DWORD written = 9;
  EXPECT_FALSE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  CloseHandle(file);
  EXPECT_EQ(fs::file_size("standin_files_test/b.jpg"), 3u);
}

TEST_F(StandinFilesControl, FrozenTickCountMovesOnlyWhenAdvanced) {
  win32_standin::FreezeTickCount(1000);
  EXPECT_EQ(GetTickCount64(), 1000u);
  win32_standin::AdvanceTickCount(99);
  EXPECT_EQ(GetTickCount64(), 1099u);
  win32_standin::Reset();
  EXPECT_NE(GetTickCount64(), 1099u);
}

// Windows validates handles; the stand-in knows every handle it handed out.
TEST_F(StandinFilesControl, ClosedHandleIsRefused) {
  HANDLE file = Create(L"standin_files_test/c.jpg");
  ASSERT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(WriteFile(file, "x", 1, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
