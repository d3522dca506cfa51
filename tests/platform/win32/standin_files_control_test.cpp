#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>

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
  static std::wstring Wide(const std::string& path) {
    return std::wstring(path.begin(), path.end());
  }
  static std::wstring LongForm(const std::string& path) {
    return L"\\\\?\\" + Wide(path);
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

// Without the long-path policy Windows refuses a full path of MAX_PATH
// units or more in every file call, unless it is in long-path form.
TEST_F(StandinFilesControl, PathsOfMaxPathOrMoreNeedTheLongPathForm) {
  const std::string base = fs::absolute("standin_files_test").string();
  ASSERT_LT(base.size(), 240u);
  const std::string deep = base + "/" + std::string(255 - base.size(), 'd');
  ASSERT_EQ(CreateDirectoryW(LongForm(deep).c_str(), nullptr), TRUE);
  const std::string file = deep + "/f.jpg";
  ASSERT_GE(file.size(), static_cast<size_t>(MAX_PATH));
  const std::wstring plain = Wide(file);
  const std::wstring plain_folder = Wide(deep + "/sub");
  WIN32_FILE_ATTRIBUTE_DATA data;
  WIN32_FIND_DATAW found;
  const std::pair<const char*, std::function<bool()>> calls[] = {
      {"CreateFileW",
       [&] { return Create(plain.c_str()) != INVALID_HANDLE_VALUE; }},
      {"GetFileAttributesExW",
       [&] {
         return GetFileAttributesExW(plain.c_str(), GetFileExInfoStandard,
                                     &data) != FALSE;
       }},
      {"FindFirstFileW",
       [&] {
         return FindFirstFileW(plain.c_str(), &found) != INVALID_HANDLE_VALUE;
       }},
      {"MoveFileExW",
       [&] { return MoveFileExW(plain.c_str(), L"x.jpg", 0) != FALSE; }},
      {"DeleteFileW", [&] { return DeleteFileW(plain.c_str()) != FALSE; }},
      {"CreateDirectoryW",
       [&] {
         return CreateDirectoryW(plain_folder.c_str(), nullptr) != FALSE;
       }},
      {"RemoveDirectoryW",
       [&] { return RemoveDirectoryW(plain_folder.c_str()) != FALSE; }},
  };
  // Each call is refused while the file and the folder exist.
  HANDLE made = Create(LongForm(file).c_str());
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  ASSERT_TRUE(CreateDirectoryW(LongForm(deep + "/sub").c_str(), nullptr));
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    SetLastError(0);
    EXPECT_FALSE(call());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  }
  // One unit short of MAX_PATH is an ordinary path.
  const std::string short_enough =
      deep + "/" + std::string(258 - deep.size(), 's');
  ASSERT_EQ(short_enough.size(), static_cast<size_t>(MAX_PATH - 1));
  EXPECT_TRUE(CreateDirectoryW(Wide(short_enough).c_str(), nullptr));
}

TEST_F(StandinFilesControl, HeldPathAnswersItsCodeUntilTheHoldEnds) {
  HANDLE file = Create(L"standin_files_test/held.jpg");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  win32_standin::HoldPath(L"standin_files_test\\held.jpg", ERROR_ACCESS_DENIED,
                          200);
  WIN32_FILE_ATTRIBUTE_DATA data;
  EXPECT_FALSE(GetFileAttributesExW(L"standin_files_test/held.jpg",
                                    GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(MoveFileExW(L"standin_files_test/held.jpg",
                           L"standin_files_test/moved.jpg", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileW(L"standin_files_test/held.jpg"));
  EXPECT_TRUE(fs::exists("standin_files_test/held.jpg"));
  Sleep(250);
  EXPECT_TRUE(DeleteFileW(L"standin_files_test/held.jpg"));
}

}  // namespace
