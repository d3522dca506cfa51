// Byte-exact copies at every chunk boundary, for each buffer size the copy
// picks and for devices that hand out data in smaller pieces than asked.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/object_copy_test_util.h"

namespace snapferry {
namespace {

using test::Contents;
using test::Copy;
using test::CopyRun;
using test::kMiB;
using test::Pattern;
using test::StagingFolder;
using wpd_sim::ContentType;

TEST(ObjectCopyBoundaries, EveryStagingFileMatchesItsObjectByteForByte) {
  struct Buffer {
    DWORD size;      // what the copy picks from the device's optimal size
    uint64_t times;  // k for the k*B-1, k*B and k*B+1 objects
  };
  const Buffer buffers[] = {{0x10000, 3}, {kMiB, 2}, {4 * kMiB, 2}};
  struct Reader {
    const char* what;
    DWORD max_read;  // 0: whatever is asked; B-1 when ~0u
    bool short_read_is_s_false;
  };
  const Reader readers[] = {
      {"whole reads", 0, false},
      {"odd short reads answering S_FALSE", 4093, true},
      {"one byte short of the buffer", ~0u, false},
  };

  wpd_sim::Fixture fixture;
  struct Row {
    std::string device, object, what;
    uint64_t size;
  };
  std::vector<Row> rows;
  // Each size of each buffer meets one of the readers in turn, so every
  // buffer size sees every reader.
  for (const Buffer& buffer : buffers) {
    const uint64_t b = buffer.size;
    const uint64_t k = buffer.times;
    const uint64_t sizes[] = {0,     1,         b - 1, b,
                              b + 1, k * b - 1, k * b, k * b + 1};
    for (size_t i = 0; i < std::size(sizes); ++i) {
      const Reader& reader = readers[i % std::size(readers)];
      const std::wstring device_id = L"d" + std::to_wstring(rows.size());
      auto& device =
          fixture.AddDevice(device_id).OptimalTransferSize(buffer.size);
      device.max_read_size =
          reader.max_read == ~0u ? buffer.size - 1 : reader.max_read;
      device.short_read_is_s_false = reader.short_read_is_s_false;
      device.AddStorage(L"s1", L"Internal Storage");
      device.AddPatternFile(L"o", L"s1", L"IMG_0001.MOV", ContentType::kVideo,
                            sizes[i]);
      rows.push_back({WideToUtf8(device_id), "o",
                      "buffer " + std::to_string(b) + ", " + reader.what +
                          ", " + std::to_string(sizes[i]) + " bytes",
                      sizes[i]});
    }
  }
  wpd_sim::Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  StagingFolder folder;

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path = folder.File("staged.mov");
    std::atomic<bool> cancel{false};
    CopyRun run = Copy(row.object, path, cancel, {}, row.device);
    ASSERT_EQ(run.result.status, ObjectOpStatus::kOk) << run.result.error;
    EXPECT_EQ(run.result.bytesWritten, static_cast<int64_t>(row.size));
    EXPECT_TRUE(Contents(path) == Pattern(row.size));
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(run.reports.back().bytes, static_cast<int64_t>(row.size));
  }
  test::ExpectCopiesLeftNothing(sim);
}

}  // namespace
}  // namespace snapferry
