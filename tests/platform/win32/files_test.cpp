#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
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

// A file marked for deletion is gone when its handle closes, however the
// process ends; meanwhile its share mode keeps others out, and clearing the
// mark keeps it. (What an opener that the share mode admits gets differs:
// see the stand-in's deviations.)
TEST_F(Files, DeleteMarkRemovesTheFileAtCloseUnlessCleared) {
  const DWORD kShareAll =
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  auto open_marked = [&](const std::string& name) {
    HANDLE file =
        CreateFileW(Path(name).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    FILE_DISPOSITION_INFO mark = {};
    mark.DeleteFile = TRUE;
    EXPECT_TRUE(SetFileInformationByHandle(file, FileDispositionInfo, &mark,
                                           sizeof(mark)));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "partial", 7, &written, nullptr));
    return file;
  };

  HANDLE dropped = open_marked("dropped.jpg");
  EXPECT_EQ(CreateFileW(Path("dropped.jpg").c_str(), GENERIC_READ, kShareAll,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(CreateForWriting(Path("dropped.jpg")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(Path("dropped.jpg").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseHandle(dropped));
  EXPECT_FALSE(fs::exists(folder_ / "dropped.jpg"));

  HANDLE kept = open_marked("kept.jpg");
  FILE_DISPOSITION_INFO clear = {};
  clear.DeleteFile = FALSE;
  EXPECT_TRUE(SetFileInformationByHandle(kept, FileDispositionInfo, &clear,
                                         sizeof(clear)));
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(kept, " copy", 5, &written, nullptr));
  EXPECT_TRUE(CloseHandle(kept));
  EXPECT_EQ(Read("kept.jpg"), "partial copy");

  // Marking needs DELETE access.
  HANDLE plain = CreateForWriting(Path("plain.jpg"));
  FILE_DISPOSITION_INFO mark = {};
  mark.DeleteFile = TRUE;
  EXPECT_FALSE(SetFileInformationByHandle(plain, FileDispositionInfo, &mark,
                                          sizeof(mark)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(plain);
  EXPECT_TRUE(fs::exists(folder_ / "plain.jpg"));
}

TEST_F(Files, FileTypeTellsDiskFilesFromDevices) {
  HANDLE file = CreateForWriting(Path("disk.jpg"));
  EXPECT_EQ(GetFileType(file), static_cast<DWORD>(FILE_TYPE_DISK));
  CloseHandle(file);
  HANDLE null_device =
      CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(null_device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(null_device), static_cast<DWORD>(FILE_TYPE_CHAR));
  CloseHandle(null_device);
}

TEST_F(Files, FullPathResolvesSegmentsAndDeviceNames) {
  wchar_t base[1024];
  const DWORD base_length = GetFullPathNameW(L".", 1024, base, nullptr);
  ASSERT_GT(base_length, 0u);
  const std::wstring here(base, base_length);
  struct Case {
    const wchar_t* path;
    std::wstring full;
    const wchar_t* file_part;  // null: none
  };
  const Case cases[] = {
      {L"a/b/../c.jpg", here + L"\\a\\c.jpg", L"c.jpg"},
      {L"a\\.\\c.jpg. .", here + L"\\a\\c.jpg", L"c.jpg"},
      {L"a\\b\\", here + L"\\a\\b\\", nullptr},
      // A device has no file part.
      {L"NUL", L"\\\\.\\NUL", nullptr},
      {L"a\\com1.txt", L"\\\\.\\com1", nullptr},
      {L"a\\con", L"\\\\.\\con", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path, c.path + wcslen(c.path)));
    wchar_t buffer[1024];
    wchar_t* file_part = nullptr;
    const DWORD length = GetFullPathNameW(c.path, 1024, buffer, &file_part);
    EXPECT_TRUE(std::wstring(buffer, length) == c.full);
    if (c.file_part == nullptr) {
      EXPECT_EQ(file_part, nullptr);
    } else {
      ASSERT_NE(file_part, nullptr);
      EXPECT_TRUE(std::wstring(file_part) == c.file_part);
    }
    // Too small a buffer: the size needed, with the NUL.
    EXPECT_EQ(GetFullPathNameW(c.path, length, buffer, nullptr), length + 1);
  }
}

TEST_F(Files, FileTimesAreHundredNanosecondsSince1601) {
  SYSTEMTIME epoch = {};
  epoch.wYear = 1970;
  epoch.wMonth = 1;
  epoch.wDay = 1;
  FILETIME time = {};
  ASSERT_TRUE(SystemTimeToFileTime(&epoch, &time));
  EXPECT_EQ((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime,
            116444736000000000ull);
  SYSTEMTIME leap = {2024, 2, 0, 29, 23, 59, 58, 999};
  ASSERT_TRUE(SystemTimeToFileTime(&leap, &time));
  SYSTEMTIME back = {};
  ASSERT_TRUE(FileTimeToSystemTime(&time, &back));
  EXPECT_EQ(back.wYear, 2024);
  EXPECT_EQ(back.wMonth, 2);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(back.wHour, 23);
  EXPECT_EQ(back.wSecond, 58);
  EXPECT_EQ(back.wMilliseconds, 999);
  SYSTEMTIME no_such_month = {2023, 13, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&no_such_month, &time));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // The last-write time set through a handle is the one read back.
  SYSTEMTIME taken = {2022, 1, 0, 2, 3, 4, 5, 0};
  FILETIME written = {};
  ASSERT_TRUE(SystemTimeToFileTime(&taken, &written));
  HANDLE file = CreateForWriting(Path("dated.jpg"));
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  FILETIME read_back = {};
  EXPECT_TRUE(GetFileTime(file, nullptr, nullptr, &read_back));
  CloseHandle(file);
  EXPECT_EQ(read_back.dwLowDateTime, written.dwLowDateTime);
  EXPECT_EQ(read_back.dwHighDateTime, written.dwHighDateTime);
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
