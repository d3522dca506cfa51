#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "gtest/gtest.h"

namespace {

namespace fs = std::filesystem;

// Each test works in a fresh folder below the current directory.
class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path("win32_files_test") /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // The path of `name` in the test's folder, as UTF-16 with '\' separators.
  std::wstring Path(const std::string& name) const {
    std::wstring wide;
    for (char c : (folder_ / name).string())
      wide.push_back(c == '/' ? L'\\' : c);
    return wide;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }
  static HANDLE CreateForWriting(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  fs::path folder_;
};

TEST_F(Files, CreateAlwaysMakesANewFileAndClearsTheLastError) {
  SetLastError(ERROR_GEN_FAILURE);
  HANDLE file = CreateForWriting(Path("new.jpg"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "photo", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  EXPECT_TRUE(FlushFileBuffers(file));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(Read("new.jpg"), "photo");
}

TEST_F(Files, CreateAlwaysTruncatesAnExistingFileAndSaysItExisted) {
  Write("old.jpg", "previous contents");
  HANDLE file = CreateForWriting(Path("old.jpg"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "new", 3, &written, nullptr));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(Read("old.jpg"), "new");
}

TEST_F(Files, MissingFolderIsPathNotFound) {
  EXPECT_EQ(CreateForWriting(Path("missing\\x.jpg")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(fs::exists(folder_ / "missing"));
  EXPECT_FALSE(DeleteFileW(Path("missing\\x.jpg").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(Path("absent.jpg").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, NoSharingKeepsEveryOtherOpenerOutAndChangesNothing) {
  HANDLE file = CreateForWriting(Path("locked.jpg"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "partial", 7, &written, nullptr));

  EXPECT_EQ(CreateForWriting(Path("locked.jpg")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(CreateFileW(Path("locked.jpg").c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(Path("locked.jpg").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(Read("locked.jpg"), "partial");
  EXPECT_TRUE(DeleteFileW(Path("locked.jpg").c_str()));
  EXPECT_FALSE(fs::exists(folder_ / "locked.jpg"));
}

TEST_F(Files, SharedReadersMayOpenTogether) {
  Write("shared.jpg", "x");
  const DWORD share = FILE_SHARE_READ;
  HANDLE first =
      CreateFileW(Path("shared.jpg").c_str(), GENERIC_READ, share, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE second =
      CreateFileW(Path("shared.jpg").c_str(), GENERIC_READ, share, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  // A writer is refused: the readers do not share writing.
  EXPECT_EQ(CreateFileW(Path("shared.jpg").c_str(), GENERIC_WRITE, share,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(first);
  CloseHandle(second);
}

TEST_F(Files, WritingThroughAReadOnlyHandleIsDenied) {
  Write("read.jpg", "x");
  HANDLE file = CreateFileW(Path("read.jpg").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 7;
  EXPECT_FALSE(WriteFile(file, "y", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(written, 0u);
  CloseHandle(file);
  EXPECT_EQ(Read("read.jpg"), "x");
}

TEST_F(Files, ForwardSlashesAndNonAsciiNamesWork) {
  // "Fotoğraf_é.jpg", written as UTF-16 units.
  std::wstring path = Path("");
  path += L"Foto\x011Fraf_\x00E9.jpg";
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  HANDLE file = CreateForWriting(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(fs::exists(folder_ / fs::u8path("Foto\xC4\x9F"
                                              "raf_\xC3\xA9.jpg")));
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

// Only atomics pass between the threads: thread start and join may touch the
// last error themselves on Windows.
TEST(LastError, IsKeptPerThread) {
  std::atomic<int> step{0};
  DWORD worker_saw = 1;
  std::thread worker([&] {
    SetLastError(ERROR_DISK_FULL);
    step = 1;
    while (step != 2) {
    }
    worker_saw = GetLastError();
    step = 3;
  });
  while (step != 1) {
  }
  SetLastError(ERROR_ACCESS_DENIED);
  step = 2;
  while (step != 3) {
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  worker.join();
  EXPECT_EQ(worker_saw, static_cast<DWORD>(ERROR_DISK_FULL));
}

TEST(TickCount, NeverGoesBackAndFollowsSleep) {
  const ULONGLONG before = GetTickCount64();
  Sleep(100);
  const ULONGLONG after = GetTickCount64();
  // Windows's tick moves in steps of about 16 ms.
  EXPECT_GE(after, before + 60);
  EXPECT_LE(after, before + 5000);
}

}  // namespace
