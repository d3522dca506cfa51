// The memory a copy holds: a 1 GiB object goes through two buffers, never
// more, however long it is. Its own executable, since it counts every
// allocation the process makes through operator new.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "tests/wpd/object_copy_test_util.h"

namespace {

// Bytes allocated through operator new and not yet freed, and the most
// there were since the last ResetPeak.
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
constexpr size_t kHeader = alignof(std::max_align_t);

void* Allocate(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof(size));
  const int64_t live = g_live += static_cast<int64_t>(size);
  int64_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void Free(void* pointer) {
  if (pointer == nullptr) return;
  char* block = static_cast<char*>(pointer) - kHeader;
  size_t size;
  std::memcpy(&size, block, sizeof(size));
  g_live -= static_cast<int64_t>(size);
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* pointer) noexcept { Free(pointer); }
void operator delete[](void* pointer) noexcept { Free(pointer); }
void operator delete(void* pointer, size_t) noexcept { Free(pointer); }
void operator delete[](void* pointer, size_t) noexcept { Free(pointer); }

namespace snapferry {
namespace {

using test::kPhone;
using test::kPhoneUtf8;

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr int64_t kBuffer = 4 << 20;  // the largest a device gets

TEST(CopyMemoryTest, AGibibyteCopyHoldsTwoBuffersAndLandsByteExact) {
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(kPhone).OptimalTransferSize(16 << 20);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddPatternFile(L"big", L"s1", L"IMG_0001.MOV",
                       wpd_sim::ContentType::kVideo, kGiB);
  wpd_sim::Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  test::StagingFolder folder;
  const std::string path = folder.File("big.mov");
  // Room for every progress report, made before the count starts.
  std::vector<test::Report> reports;
  reports.reserve(100000);

  std::atomic<bool> cancel{false};
  ObjectOpResult result;
  std::thread worker([&] {
    ProgressCallback progress = [&](int64_t bytes, int64_t total) {
      if (reports.size() < reports.capacity()) {
        reports.push_back({bytes, total});
      }
    };
    const int64_t before = g_live.load();
    g_peak = before;
    result = CopyObjectToFile(kPhoneUtf8, "big", path, progress, cancel);
    // At least the buffer shows, so the count sees the copy's allocations.
    EXPECT_GE(g_peak.load() - before, kBuffer);
    EXPECT_LE(g_peak.load() - before, 2 * kBuffer + (1 << 20));
  });
  worker.join();
  ASSERT_EQ(result.status, ObjectOpStatus::kOk) << result.error;
  EXPECT_EQ(result.bytesWritten, static_cast<int64_t>(kGiB));
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().bytes, static_cast<int64_t>(kGiB));
  for (size_t i = 1; i < reports.size(); ++i) {
    EXPECT_LE(reports[i - 1].bytes, reports[i].bytes);
  }

  // Byte i of the object is i mod 251, read back in pieces.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  std::vector<unsigned char> piece(1 << 20);
  uint64_t offset = 0, mismatches = 0;
  for (size_t got; (got = std::fread(piece.data(), 1, piece.size(), file)) > 0;
       offset += got) {
    for (size_t i = 0; i < got; ++i) {
      if (piece[i] != (offset + i) % 251) ++mismatches;
    }
  }
  std::fclose(file);
  EXPECT_EQ(offset, kGiB);
  EXPECT_EQ(mismatches, 0u);
}

}  // namespace
}  // namespace snapferry
