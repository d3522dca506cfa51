// What the copy makes of the staging path, and the times it gives the file.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/object_copy_test_util.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace snapferry {
namespace {

namespace fs = std::filesystem;
using test::Contents;
using test::Copy;
using test::CopyRun;
using test::Describe;
using test::Exists;
using test::kPhone;
using test::Pattern;
using test::StagingFolder;
using wpd_sim::ContentType;
using wpd_sim::DateProperty;

const HRESULT kInvalidName = static_cast<HRESULT>(0x8007007B);

class ObjectCopyStagingTest : public ::testing::Test {
 protected:
  static wpd_sim::Fixture PhoneFixture() {
    wpd_sim::Fixture fixture;
    auto& phone = fixture.AddDevice(kPhone).OptimalTransferSize(4096);
    phone.AddStorage(L"s1", L"Internal Storage");
    phone.AddPatternFile(L"one", L"s1", L"IMG_0001.JPG", ContentType::kImage,
                         1000);
    // Taken in summer, edited in winter: two different daylight-saving
    // offsets in zones that have them.
    phone
        .AddPatternFile(L"dated", L"s1", L"IMG_0002.JPG", ContentType::kImage,
                        1000)
        .Created(DateProperty::At(2021, 7, 4, 9, 30, 15))
        .Modified(DateProperty::At(2022, 1, 2, 3, 4, 5));
    phone
        .AddPatternFile(L"oddly_dated", L"s1", L"IMG_0003.JPG",
                        ContentType::kImage, 1000)
        .Modified(DateProperty::String(L"2022:01:02 03:04:05"));
    return fixture;
  }

  ObjectCopyStagingTest() : sim_(PhoneFixture()) {}
  void SetUp() override { ASSERT_TRUE(sim_.ok()) << sim_.error(); }
  void TearDown() override { test::ExpectCopiesLeftNothing(sim_); }

  wpd_sim::Simulator sim_;
  StagingFolder folder_;
};

std::string WithBackslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TEST_F(ObjectCopyStagingTest, OnlyPathsOfOrdinaryFilesAreWritten) {
  // Longer than MAX_PATH (260) once the folder is added.
  const std::string long_folder =
      folder_.File(std::string(120, 'd').c_str()) + "/" + std::string(120, 'e');
  fs::create_directories(fs::u8path(long_folder));
  fs::create_directories(fs::u8path(folder_.File("sub")));
  struct Case {
    const char* what;
    std::string path;
    std::string lands_at;  // empty: the copy is refused
  };
  const std::string plain = folder_.File("plain.jpg");
  const Case cases[] = {
      {"alternate data stream", folder_.File("photo.jpg:x"), ""},
      {"reserved device name", folder_.File("NUL"), ""},
      {"reserved name with an extension", folder_.File("com1.jpg"), ""},
      {"reserved name in lower case", folder_.File("con"), ""},
      {"device namespace", "\\\\.\\NUL", ""},
      {"long path", long_folder + "/" + std::string(60, 'f') + ".jpg",
       long_folder + "/" + std::string(60, 'f') + ".jpg"},
      {"already in long form", "\\\\?\\" + WithBackslashes(plain), plain},
      {"mixed separators", WithBackslashes(folder_.File("sub")) + "/mixed.jpg",
       folder_.File("sub") + "/mixed.jpg"},
      {"dot segments", folder_.File("sub") + "/../dots.jpg",
       folder_.File("dots.jpg")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CopyRun run = Copy("one", c.path);
    if (c.lands_at.empty()) {
      EXPECT_EQ(Describe(run.result),
                Describe(ObjectOpStatus::kError, 0, kInvalidName,
                         "Create staging file failed (HRESULT 0x8007007B)"));
      EXPECT_TRUE(run.reports.empty());
    } else {
      EXPECT_EQ(run.result.status, ObjectOpStatus::kOk) << run.result.error;
      EXPECT_TRUE(Contents(c.lands_at) == Pattern(1000));
      fs::remove(fs::u8path(c.lands_at));
    }
  }
  // Nothing but the folders made above is left.
  EXPECT_EQ(folder_.Entries(), 2u);
}

#ifndef _WIN32
// A pipe or device that already holds the name would take the bytes and
// keep none; it is refused, and not removed: it is not the copy's.
TEST_F(ObjectCopyStagingTest, RefusesAndKeepsANameThatIsNotADiskFile) {
  const std::string path = folder_.File("fifo.jpg");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  CopyRun run = Copy("one", path);
  close(reader);
  EXPECT_EQ(Describe(run.result),
            Describe(ObjectOpStatus::kError, 0, kInvalidName,
                     "Create staging file failed (HRESULT 0x8007007B)"));
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// The process's zone for one test; the stand-in reads it from TZ.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};
#endif

FILETIME LastWriteTime(const std::string& path) {
  FILETIME written = {};
  HANDLE file =
      CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  if (file != INVALID_HANDLE_VALUE) {
    EXPECT_TRUE(GetFileTime(file, nullptr, nullptr, &written));
    CloseHandle(file);
  }
  return written;
}

std::string Text(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u",
                unsigned{t.wYear}, unsigned{t.wMonth}, unsigned{t.wDay},
                unsigned{t.wHour}, unsigned{t.wMinute}, unsigned{t.wSecond});
  return text;
}

// The phone's clock has no zone: its 03:04:05 is this PC's local 03:04:05,
// stored in UTC.
TEST_F(ObjectCopyStagingTest, FileTakesThePhonesModificationDateAsLocalTime) {
#ifndef _WIN32
  ScopedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");  // UTC+1, summer UTC+2
#endif
  const std::string path = folder_.File("dated.jpg");
  CopyRun run = Copy("dated", path);
  ASSERT_EQ(Describe(run.result),
            Describe(ObjectOpStatus::kOk, 1000, S_OK, ""));
  SYSTEMTIME utc = {};
  const FILETIME written = LastWriteTime(path);
  ASSERT_TRUE(FileTimeToSystemTime(&written, &utc));
#ifdef _WIN32
  // Back to local time by the system's own rules, whatever the zone is.
  SYSTEMTIME local = {};
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
  EXPECT_EQ(Text(local), "2022-01-02 03:04:05") << "UTC " << Text(utc);
#else
  EXPECT_EQ(Text(utc), "2022-01-02 02:04:05");
#endif
}

// Without a readable date the file keeps the time it was written, and the
// copy is as good as any.
TEST_F(ObjectCopyStagingTest, FileWithoutAUsableDateKeepsItsWriteTime) {
  for (const char* object : {"one", "oddly_dated"}) {
    SCOPED_TRACE(object);
    const std::string path = folder_.File(object);
    const auto before = fs::file_time_type::clock::now();
    CopyRun run = Copy(object, path);
    EXPECT_EQ(Describe(run.result),
              Describe(ObjectOpStatus::kOk, 1000, S_OK, ""));
    const auto written = fs::last_write_time(fs::u8path(path));
    EXPECT_GE(written, before - std::chrono::seconds(5));
  }
}

}  // namespace
}  // namespace snapferry
