// The copy of one object into a staging file, against simulated devices and
// the real (or stand-in) file system.
#include "wpd/object_copy.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/object_copy_test_util.h"
#include "tests/wpd/object_op_test_util.h"
#include "wpd/device_connection.h"

#ifndef _WIN32
#include "win32_standin/control.h"
#endif

namespace snapferry {
namespace {

namespace fs = std::filesystem;
using test::Contents;
using test::Copy;
using test::CopyRun;
using test::Describe;
using test::Exists;
using test::kMiB;
using test::kPhone;
using test::kPhoneUtf8;
using test::OnWorker;
using test::Pattern;
using test::Report;
using test::StagingFolder;
using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::Fixture;
using wpd_sim::Simulator;

const std::wstring kCabledPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#cabled";

constexpr ObjectOpStatus kOk = ObjectOpStatus::kOk;
constexpr ObjectOpStatus kCancelled = ObjectOpStatus::kCancelled;
constexpr ObjectOpStatus kError = ObjectOpStatus::kError;

class ObjectCopyTest : public ::testing::Test {
 protected:
  // A phone whose device reports a 4 KiB optimal size (so copies use 64 KiB
  // chunks), with objects named after what they test.
  static Fixture PhoneFixture() {
    Fixture fixture;
    auto& phone = fixture.AddDevice(kPhone).OptimalTransferSize(4096);
    phone.AddStorage(L"s1", L"Internal Storage");
    phone.AddFolder(L"dcim", L"s1", L"DCIM");
    phone.AddFile(L"empty", L"dcim", L"IMG_0000.JPG", ContentType::kImage, "");
    phone.AddPatternFile(L"one", L"dcim", L"IMG_0001.JPG", ContentType::kImage,
                         1000);
    phone.AddPatternFile(L"many", L"dcim", L"IMG_0002.MOV", ContentType::kVideo,
                         kMiB + 4321);
    phone
        .AddPatternFile(L"more", L"dcim", L"IMG_0003.HEIC", ContentType::kImage,
                        300000)
        .Size(1000);
    phone
        .AddPatternFile(L"fewer", L"dcim", L"IMG_0004.HEIC",
                        ContentType::kImage, 1000)
        .Size(300000);
    phone.Add(L"nosize", L"dcim", ContentType::kImage)
        .Name(L"IMG_0005.PNG")
        .Pattern(5000);
    // A long video behind a cable slower than the disk (64 KiB
    // chunks in about 1.3 ms), so the copy flushes it as it goes.
    wpd_sim::LinkSpec cable;
    cable.megabytes_per_second = 50;
    auto& cabled = fixture.AddDevice(kCabledPhone).OptimalTransferSize(4096);
    cabled.Link(cable);
    cabled.AddStorage(L"s1", L"Internal Storage");
    cabled.AddFolder(L"dcim", L"s1", L"DCIM");
    cabled.AddPatternFile(L"long", L"dcim", L"IMG_0006.MOV",
                          ContentType::kVideo, 5 * kMiB + 1234);
    return fixture;
  }

  explicit ObjectCopyTest(Fixture fixture = PhoneFixture())
      : sim_(std::move(fixture)) {}

  void SetUp() override { ASSERT_TRUE(sim_.ok()) << sim_.error(); }

  // Every copy releases what it created and closes what it opened, on every
  // path.
  void TearDown() override { test::ExpectCopiesLeftNothing(sim_); }

  Simulator sim_;
  StagingFolder folder_;
};

TEST_F(ObjectCopyTest, StagingFileHoldsExactlyTheObjectsBytes) {
  struct Case {
    const char* object;
    uint64_t data_size;
    int64_t reported_total;
    std::wstring device = kPhone;
  };
  const Case cases[] = {
      {"empty", 0, 0},                     // the first read is the end
      {"one", 1000, 1000},                 // one short chunk
      {"many", kMiB + 4321, kMiB + 4321},  // 17 chunks, the last one short
      {"more", 300000, 1000},              // the size property understates
      {"fewer", 1000, 300000},             // the size property overstates
      {"nosize", 5000, 0},                 // no size property at all
      // flushed on the way as well as at the end
      {"long", 5 * kMiB + 1234, 5 * kMiB + 1234, kCabledPhone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object);
    const std::string path = folder_.File(c.object);
    std::atomic<bool> cancel{false};
    CopyRun run = Copy(c.object, path, cancel, {}, WideToUtf8(c.device));
    EXPECT_EQ(Describe(run.result),
              Describe(kOk, static_cast<int64_t>(c.data_size), S_OK, ""));
    EXPECT_TRUE(Contents(path) == Pattern(c.data_size));
    // The last report is the final one, made however soon it comes.
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(run.reports.back().bytes, static_cast<int64_t>(c.data_size));
    for (const Report& report : run.reports) {
      EXPECT_EQ(report.total, c.reported_total);
    }
  }
}

TEST_F(ObjectCopyTest, EmptyObjectGivesOneReportAndAnEmptyFile) {
  const std::string path = folder_.File("empty.jpg");
  CopyRun run = Copy("empty", path);
  EXPECT_EQ(Describe(run.result), Describe(kOk, 0, S_OK, ""));
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(run.reports[0].bytes, 0);
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ(Contents(path), "");
}

TEST_F(ObjectCopyTest, ReplacesAnExistingStagingFile) {
  const std::string path = folder_.File("staging.jpg");
  {
    std::ofstream old(fs::u8path(path), std::ios::binary);
    old << std::string(2 * kMiB, 'x');
  }
  CopyRun run = Copy("one", path);
  EXPECT_EQ(run.result.status, kOk);
  EXPECT_TRUE(Contents(path) == Pattern(1000));
}

TEST_F(ObjectCopyTest, KeepsOtherOpenersOutWhileTheCopyRuns) {
  const std::string path = folder_.File("busy.mov");
  const std::wstring wide_path = Utf8ToWide(path);
  std::atomic<bool> cancel{false};
  std::vector<DWORD> errors;
  CopyRun run = Copy("many", path, cancel, [&](const Report&) {
    if (errors.size() == 1) return;  // the final report comes after close
    HANDLE other =
        CreateFileW(wide_path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    errors.push_back(other == INVALID_HANDLE_VALUE ? GetLastError() : 0);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  });
  EXPECT_EQ(run.result.status, kOk);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Once complete, the file is anybody's.
  HANDLE after =
      CreateFileW(wide_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(after, INVALID_HANDLE_VALUE);
  if (after != INVALID_HANDLE_VALUE) CloseHandle(after);
}

TEST_F(ObjectCopyTest, LeavesAFileItCouldNotOpenUntouched) {
  const std::string path = folder_.File("held.jpg");
  {
    std::ofstream old(fs::u8path(path), std::ios::binary);
    old << "someone else's";
  }
  HANDLE holder =
      CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, 0, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  CopyRun run = Copy("one", path);
  CloseHandle(holder);
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 0, static_cast<HRESULT>(0x80070020),
                     "Create staging file failed (HRESULT 0x80070020)"));
  EXPECT_EQ(Contents(path), "someone else's");
}

TEST_F(ObjectCopyTest, CancelSeenBeforeTheFirstReadLeavesNoFile) {
  const std::string path = folder_.File("cancelled.jpg");
  std::atomic<bool> cancel{true};
  const uint64_t reads = sim_.Calls(Call::kRead);
  CopyRun run = Copy("many", path, cancel);
  EXPECT_EQ(Describe(run.result), Describe(kCancelled, 0, S_OK, "Cancelled"));
  EXPECT_EQ(sim_.Calls(Call::kRead), reads);
  EXPECT_TRUE(run.reports.empty());
  EXPECT_FALSE(Exists(path));
}

TEST_F(ObjectCopyTest, CancelBetweenChunksDeletesThePartialFile) {
  const std::string path = folder_.File("cancelled.mov");
  std::atomic<bool> cancel{false};
  CopyRun run = Copy("many", path, cancel, [&](const Report&) {
    cancel = true;  // after the first chunk, which is always reported
  });
  // The chunk read before the flag was seen is written and counted.
  EXPECT_EQ(Describe(run.result),
            Describe(kCancelled, 65536, S_OK, "Cancelled"));
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(folder_.Entries(), 0u);
  // No final report after a cancelled copy.
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(run.reports[0].bytes, 65536);
}

// The flag is only seen between reads; a read that hangs in the device is
// reached through the device itself, and whatever the aborted read answers,
// the copy was cancelled.
TEST_F(ObjectCopyTest, CancelReachesAReadThatHangs) {
  ASSERT_TRUE(sim_.SetObjectFault(kPhone, L"many", Call::kRead,
                                  wpd_sim::Fault::Hang(65536)));
  const std::string path = folder_.File("stuck.mov");
  std::atomic<bool> cancel{false};
  PendingCopies pending;
  CopyRun run;
  std::thread copy(
      [&] { run = Copy("many", path, cancel, {}, kPhoneUtf8, &pending); });
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (sim_.BlockedReads() == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(sim_.BlockedReads(), 1);
  const auto cancelled_at = std::chrono::steady_clock::now();
  cancel = true;
  pending.CancelAll();
  copy.join();
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled_at,
            std::chrono::seconds(5));
  EXPECT_EQ(Describe(run.result),
            Describe(kCancelled, 65536, S_OK, "Cancelled"));
  EXPECT_EQ(folder_.Entries(), 0u);
  ASSERT_EQ(run.reports.size(), 1u);  // the first chunk; no final report
  // A cancel with no copy running reaches nothing.
  pending.CancelAll();
}

TEST_F(ObjectCopyTest, ReadFailureAfterSomeBytesDeletesThePartialFile) {
  const HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
  ASSERT_TRUE(
      sim_.SetObjectFault(kPhone, L"many", Call::kRead, {kGenFailure, 100000}));
  const std::string path = folder_.File("broken.mov");
  CopyRun run = Copy("many", path);
  // 65536 + 34464 bytes arrive before the stream fails.
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 100000, kGenFailure,
                     "Read from device failed (HRESULT 0x8007001F)"));
  EXPECT_FALSE(Exists(path));
}

TEST_F(ObjectCopyTest, FailedReadMakesNoFinalReport) {
  // The first chunk is always reported; the read after it fails, so any
  // second report would be a final one.
  ASSERT_TRUE(
      sim_.SetObjectFault(kPhone, L"many", Call::kRead, {E_FAIL, 65536}));
  CopyRun run = Copy("many", folder_.File("broken.mov"));
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 65536, E_FAIL,
                     "Read from device failed (HRESULT 0x80004005)"));
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(run.reports[0].bytes, 65536);
}

TEST_F(ObjectCopyTest, StagingFolderThatDoesNotExistIsAFailureToCreate) {
  const std::string missing = folder_.File("missing");
  const std::string path = (fs::u8path(missing) / "IMG_0001.JPG").u8string();
  const uint64_t reads = sim_.Calls(Call::kRead);
  CopyRun run = Copy("one", path);
  // HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), sent as a negative number.
  EXPECT_EQ(run.result.hresult, -2147024893);
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 0, static_cast<HRESULT>(0x80070003),
                     "Create staging file failed (HRESULT 0x80070003)"));
  EXPECT_FALSE(Exists(missing));  // no folder is created
  EXPECT_EQ(sim_.Calls(Call::kRead), reads);
  EXPECT_TRUE(run.reports.empty());
}

TEST_F(ObjectCopyTest, EachFailingDeviceStepIsReportedUnderItsName) {
  const HRESULT kNotSupported = static_cast<HRESULT>(0x80070032);
  const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
  const HRESULT kDeviceGone = static_cast<HRESULT>(0x8007048F);
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string device;
    const char* object;
    HRESULT hresult;
    const char* error;
  };
  const Case cases[] = {
      {"device refuses", [&] { sim_.SetOpenResult(kPhone, E_ACCESSDENIED); },
       kPhoneUtf8, "one", E_ACCESSDENIED,
       "Open device failed (HRESULT 0x80070005)"},
      {"unknown device", [] {}, "no such device", "one", kFileNotFound,
       "Open device failed (HRESULT 0x80070002)"},
      {"no client values",
       [&] {
         sim_.SetProcessFault(Call::kCreateValues, {E_OUTOFMEMORY, 0});
       },
       kPhoneUtf8, "one", E_OUTOFMEMORY,
       "Open device failed (HRESULT 0x8007000E)"},
      {"no content",
       [&] {
         sim_.SetDeviceFault(kPhone, Call::kContent, {kDeviceGone, 0});
       },
       kPhoneUtf8, "one", kDeviceGone,
       "Open transfer failed (HRESULT 0x8007048F)"},
      {"no resources",
       [&] {
         sim_.SetDeviceFault(kPhone, Call::kTransfer, {E_UNEXPECTED, 0});
       },
       kPhoneUtf8, "one", E_UNEXPECTED,
       "Open transfer failed (HRESULT 0x8000FFFF)"},
      {"stream refused",
       [&] {
         sim_.SetObjectFault(kPhone, L"one", Call::kGetStream,
                             {E_ACCESSDENIED, 0});
       },
       kPhoneUtf8, "one", E_ACCESSDENIED,
       "Open object stream failed (HRESULT 0x80070005)"},
      {"folder has no data", [] {}, kPhoneUtf8, "dcim", kNotSupported,
       "Open object stream failed (HRESULT 0x80070032)"},
      {"first read fails",
       [&] {
         sim_.SetObjectFault(kPhone, L"one", Call::kRead, {E_FAIL, 0});
       },
       kPhoneUtf8, "one", E_FAIL,
       "Read from device failed (HRESULT 0x80004005)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    const std::string path = folder_.File("failed.jpg");
    std::atomic<bool> cancel{false};
    CopyRun run = Copy(c.object, path, cancel, {}, c.device);
    sim_.ClearFaults();
    sim_.SetOpenResult(kPhone, S_OK);
    EXPECT_EQ(Describe(run.result), Describe(kError, 0, c.hresult, c.error));
    EXPECT_TRUE(run.reports.empty());
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(sim_.LiveObjects(), 0) << sim_.LiveObjectsText();
    EXPECT_EQ(sim_.OpenWithoutClose(), 0);
  }
}

TEST_F(ObjectCopyTest, SizeThatCannotBeReadIsReportedAsZero) {
  const std::function<void()> faults[] = {
      [&] {
        sim_.SetDeviceFault(kPhone, Call::kProperties, {E_FAIL, 0});
      },
      [&] {
        sim_.SetProcessFault(Call::kCreateKeyCollection, {E_OUTOFMEMORY, 0});
      },
      [&] {
        sim_.SetObjectFault(kPhone, L"one", Call::kGetValues, {E_FAIL, 0});
      },
      [&] {
        sim_.SetObjectFault(kPhone, L"one", Call::kGetUnsignedLargeIntegerValue,
                            {E_FAIL, 0});
      },
  };
  int n = 0;
  for (const auto& fault : faults) {
    SCOPED_TRACE(n++);
    fault();
    const std::string path = folder_.File("nosize.jpg");
    CopyRun run = Copy("one", path);
    sim_.ClearFaults();
    EXPECT_EQ(Describe(run.result), Describe(kOk, 1000, S_OK, ""));
    ASSERT_FALSE(run.reports.empty());
    for (const Report& report : run.reports) EXPECT_EQ(report.total, 0);
    EXPECT_TRUE(Contents(path) == Pattern(1000));
  }
}

TEST_F(ObjectCopyTest, NeverActsOnATruncatedName) {
  // Cut at the NUL, these would name the object "one" and the file "a.jpg".
  const std::string object_with_nul("one\0x", 5);
  CopyRun by_object = Copy(object_with_nul, folder_.File("n1.jpg"));
  EXPECT_EQ(Describe(by_object.result),
            Describe(kError, 0, E_INVALIDARG,
                     "Open object stream failed (HRESULT 0x80070057)"));
  const std::string path_with_nul =
      folder_.File("a.jpg") + std::string("\0b", 2);
  CopyRun by_path = Copy("one", path_with_nul);
  EXPECT_EQ(Describe(by_path.result),
            Describe(kError, 0, static_cast<HRESULT>(0x8007007B),
                     "Create staging file failed (HRESULT 0x8007007B)"));
  EXPECT_EQ(folder_.Entries(), 0u);
}

TEST_F(ObjectCopyTest, ProgressIsThrottledToTenReportsASecond) {
  // 512 chunks of 64 KiB: unthrottled, nearly every chunk would be reported.
  const std::string path = folder_.File("throttled.mov");
  std::atomic<bool> cancel{false};
  sim_.AddDevice([] {
    wpd_sim::DeviceSpec device;
    device.id = L"big";
    device.OptimalTransferSize(65536);
    device.AddStorage(L"s1", L"Internal Storage");
    device.AddPatternFile(L"video", L"s1", L"IMG_0100.MOV", ContentType::kVideo,
                          32 * kMiB);
    return device;
  }());
  const ULONGLONG start = GetTickCount64();
  CopyRun run = Copy("video", path, cancel, {}, "big");
  const ULONGLONG elapsed = GetTickCount64() - start;
  ASSERT_EQ(run.result.status, kOk);
  // The first chunk, one report per full 100 ms at most, and the final one.
  EXPECT_LE(run.reports.size(), 2u + elapsed / 100) << elapsed << " ms";
  EXPECT_EQ(run.reports.front().bytes, 65536);
  EXPECT_EQ(run.reports.back().bytes, static_cast<int64_t>(32 * kMiB));
  // Each timed report follows new bytes; the final one may repeat the last
  // timed one when the last chunk was reported by the clock.
  for (size_t i = 1; i + 1 < run.reports.size(); ++i) {
    EXPECT_GT(run.reports[i].bytes, run.reports[i - 1].bytes);
  }
}

TEST_F(ObjectCopyTest, BufferFollowsTheDevicesOptimalSizeWithinBounds) {
  struct Case {
    DWORD optimal;
    uint64_t reads;  // 8 MiB in chunks of the buffer size, plus the end
  };
  const Case cases[] = {
      {4096, 128 + 1},     // raised to 64 KiB
      {65536, 128 + 1},    // the lower bound itself
      {kMiB, 8 + 1},       // taken as it is
      {4 * kMiB, 2 + 1},   // the upper bound itself
      {16 * kMiB, 2 + 1},  // lowered to 4 MiB
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.optimal);
    wpd_sim::DeviceSpec device;
    device.id = L"sized" + std::to_wstring(n++);
    device.OptimalTransferSize(c.optimal);
    device.AddStorage(L"s1", L"Internal Storage");
    device.AddPatternFile(L"video", L"s1", L"IMG_0100.MOV", ContentType::kVideo,
                          8 * kMiB);
    const std::string device_id = WideToUtf8(device.id);
    ASSERT_TRUE(sim_.AddDevice(std::move(device)));
    const std::string path = folder_.File("sized.mov");
    std::atomic<bool> cancel{false};
    const uint64_t reads = sim_.Calls(Call::kRead);
    CopyRun run = Copy("video", path, cancel, {}, device_id);
    EXPECT_EQ(run.result.status, kOk);
    EXPECT_EQ(sim_.Calls(Call::kRead) - reads, c.reads);
    EXPECT_EQ(fs::file_size(fs::u8path(path)), 8 * kMiB);
  }
}

// A worker already in a single-threaded apartment keeps it: the copy runs
// there and does not leave the apartment it did not join.
TEST_F(ObjectCopyTest, RunsInAnExistingSingleThreadedApartment) {
  const std::string path = folder_.File("sta.jpg");
  ObjectOpResult result;
  HRESULT after = S_OK;
  OnWorker([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      auto registration = sim_.RegisterInCurrentApartment();
      ASSERT_TRUE(registration && SUCCEEDED(registration->result()));
      std::atomic<bool> cancel{false};
      result = CopyObjectToFile(
          kPhoneUtf8, "one", path, [](int64_t, int64_t) {}, cancel);
      after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }
    CoUninitialize();
  });
  EXPECT_EQ(after, RPC_E_CHANGED_MODE);
  EXPECT_EQ(Describe(result), Describe(kOk, 1000, S_OK, ""));
  EXPECT_TRUE(Contents(path) == Pattern(1000));
}

TEST_F(ObjectCopyTest, WorkerThatCannotJoinComFailsWithEFail) {
  if (!sim_.SetProcessFault(Call::kCoInitializeEx, {E_OUTOFMEMORY, 0})) {
    GTEST_SKIP() << "CoInitializeEx cannot be made to fail on this platform";
  }
  const std::string path = folder_.File("nocom.jpg");
  CopyRun run = Copy("one", path);
  sim_.ClearFaults();
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 0, E_FAIL,
                     "COM initialisation failed (HRESULT 0x80004005)"));
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(sim_.Calls(Call::kOpen), 0u);
}

#ifndef _WIN32
// Failures only the stand-in can arrange, and its frozen tick count.

// "ok" lets the user delete the phone's only copy, so bytes that may not
// have reached the disk are a failed write, not a success: the flush that
// ends a copy, and the ones a long copy makes as it goes, which run beside
// the next reads and must not be lost on the way.
TEST_F(ObjectCopyTest, FailedFlushIsAFailedWriteAndLeavesNoFile) {
  const struct {
    std::wstring device;
    const char* object;
    int64_t least_written;
    int64_t most_written;
    size_t most_reports;
  } rows[] = {
      // The final flush: everything was written.
      {kPhone, "one", 1000, 1000, 1},
      // The first flush on the way, due after 2 MiB in 64 KiB chunks; it is
      // made once the copy is not waiting for the disk, and seen with a
      // later chunk.
      {kCabledPhone, "long", 2 * kMiB - 65536, 5 * kMiB, 80},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.object);
    const std::string path = folder_.File("unflushed");
    win32_standin::FailFlushFileBuffers(ERROR_GEN_FAILURE, 1);
    std::atomic<bool> cancel{false};
    CopyRun run = Copy(row.object, path, cancel, {}, WideToUtf8(row.device));
    EXPECT_EQ(run.result.status, kError);
    EXPECT_EQ(run.result.hresult, static_cast<HRESULT>(0x8007001F));
    EXPECT_EQ(run.result.error,
              "Write staging file failed (HRESULT 0x8007001F)");
    EXPECT_GE(run.result.bytesWritten, row.least_written);
    EXPECT_LE(run.result.bytesWritten, row.most_written);
    EXPECT_FALSE(Exists(path));
    // Reports of chunks written, none final.
    ASSERT_FALSE(run.reports.empty());
    EXPECT_LE(run.reports.size(), row.most_reports);
    EXPECT_LE(run.reports.back().bytes, run.result.bytesWritten);
  }
}

TEST_F(ObjectCopyTest, FailedWriteBetweenChunksDeletesThePartialFile) {
  const std::string path = folder_.File("full.mov");
  std::atomic<bool> cancel{false};
  CopyRun run = Copy("many", path, cancel, [](const Report&) {
    win32_standin::FailWriteFile(ERROR_DISK_FULL, 1);
  });
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 65536, static_cast<HRESULT>(0x80070070),
                     "Write staging file failed (HRESULT 0x80070070)"));
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(run.reports.size(), 1u);
}

TEST_F(ObjectCopyTest, FailedWriteIsNeverReportedWithASuccessCode) {
  win32_standin::FailWriteFile(ERROR_SUCCESS, 1);
  const std::string path = folder_.File("odd.jpg");
  CopyRun run = Copy("one", path);
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 0, E_FAIL,
                     "Write staging file failed (HRESULT 0x80004005)"));
  EXPECT_FALSE(Exists(path));
}

TEST_F(ObjectCopyTest, CreationFailureCarriesTheSystemsCode) {
  win32_standin::FailCreateFileW(ERROR_ACCESS_DENIED, 1);
  CopyRun run = Copy("one", folder_.File("denied.jpg"));
  EXPECT_EQ(Describe(run.result),
            Describe(kError, 0, E_ACCESSDENIED,
                     "Create staging file failed (HRESULT 0x80070005)"));
}

// With the tick count frozen, the test decides how much time each reported
// chunk takes; unreported chunks take none.
TEST_F(ObjectCopyTest, ReportsOnlyOnceAHundredTicksHavePassed) {
  struct Case {
    ULONGLONG advance;  // per report
    size_t reports;     // for "many": 17 chunks
  };
  const Case cases[] = {
      {0, 2},         // the first chunk and the final report
      {99, 2},        // not quite the interval
      {100, 17 + 1},  // every chunk, and the final report as well
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.advance);
    win32_standin::FreezeTickCount(500000);
    std::atomic<bool> cancel{false};
    CopyRun run = Copy(
        "many", folder_.File("ticks.mov"), cancel,
        [&](const Report&) { win32_standin::AdvanceTickCount(c.advance); });
    EXPECT_EQ(run.result.status, kOk);
    ASSERT_EQ(run.reports.size(), c.reports);
    EXPECT_EQ(run.reports.front().bytes, 65536);
    EXPECT_EQ(run.reports.back().bytes, static_cast<int64_t>(kMiB + 4321));
  }
}
#endif  // !_WIN32

}  // namespace
}  // namespace snapferry
