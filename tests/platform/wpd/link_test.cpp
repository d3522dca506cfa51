// The link model: calls that reach a device with a link wait out its costs,
// one device's calls one after the other. Only lower time bounds are
// checked; the machine may always be slower.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/platform/wpd/wpd_test_util.h"

namespace {

using wpd_sim::Fixture;
using wpd_sim::LinkCounts;
using wpd_sim::Simulator;
using wpd_test::InMta;
using wpd_test::OpenDevice;
using wpd_test::Ref;
using Clock = std::chrono::steady_clock;

constexpr DWORD kRead = 0x80000000;  // GENERIC_READ
constexpr int kFiles = 10;
constexpr ULONG kChunk = 100000;
constexpr uint64_t kFileSize = 4 * kChunk;

// A device "phone" with a storage "s" of kFiles pattern files; `link` is
// the device's "link" value in a fixture file, empty for none.
Fixture PhoneFixture(const std::string& link) {
  std::string json = R"({"devices": [{"id": "phone", )";
  if (!link.empty()) json += R"("link": )" + link + ", ";
  json += R"("objects": [{"id": "s", "contentType": "functional"})";
  for (int i = 0; i < kFiles; ++i) {
    json +=
        R"(, {"id": "f)" + std::to_string(i) +
        R"(", "parent": "s", "contentType": "image", "data": {"pattern": )" +
        std::to_string(kFileSize) + "}}";
  }
  json += "]}]}";
  Fixture fixture;
  std::string error;
  EXPECT_TRUE(wpd_sim::ParseFixtureJson(json, &fixture, &error)) << error;
  return fixture;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// Open; list the storage (one EnumObjects, one Next); every child's
// properties; one file read in four chunks and the empty Read at its end;
// Close. That is 1 open, 14 round trips, 5 reads and kFileSize bytes.
void WalkAndReadOne() {
  Ref<IPortableDevice> phone;
  ASSERT_EQ(OpenDevice(L"phone", kRead, &phone), S_OK);
  Ref<IPortableDeviceContent> content;
  Ref<IPortableDeviceProperties> properties;
  Ref<IPortableDeviceResources> resources;
  ASSERT_EQ(phone->Content(content.Out()), S_OK);
  ASSERT_EQ(content->Properties(properties.Out()), S_OK);
  ASSERT_EQ(content->Transfer(resources.Out()), S_OK);
  Ref<IEnumPortableDeviceObjectIDs> children;
  ASSERT_EQ(content->EnumObjects(0, L"s", nullptr, children.Out()), S_OK);
  LPWSTR ids[64] = {};
  ULONG fetched = 0;
  ASSERT_EQ(children->Next(64, ids, &fetched), S_FALSE);
  ASSERT_EQ(fetched, static_cast<ULONG>(kFiles));
  for (ULONG i = 0; i < fetched; ++i) {
    Ref<IPortableDeviceValues> values;
    EXPECT_EQ(properties->GetValues(ids[i], nullptr, values.Out()), S_OK);
    CoTaskMemFree(ids[i]);
  }
  Ref<IStream> stream;
  ASSERT_EQ(resources->GetStream(L"f0", WPD_RESOURCE_DEFAULT, STGM_READ,
                                 nullptr, stream.Out()),
            S_OK);
  std::vector<char> buffer(kChunk);
  ULONG read = 0;
  uint64_t total = 0;
  while (stream->Read(buffer.data(), kChunk, &read) == S_OK && read > 0) {
    total += read;
  }
  EXPECT_EQ(total, kFileSize);
  EXPECT_EQ(phone->Close(), S_OK);
}

TEST(WpdSimulatorLink, CallsWaitOutTheProfilesCostsAndAreCounted) {
  const struct {
    const char* link;
    double modelled_ms;  // open + 14 round trips + 5 reads + the bytes
  } cases[] = {
      {"", 0},
      {R"("usb2")", 20 + 14 * 0.4 + 5 * 0.05 + 400000 / 40e3},
      {R"("usbc")", 20 + 14 * 0.4 + 5 * 0.05 + 400000 / 365e3},
      // A profile overridden field by field.
      {R"({"profile": "usbc", "openMs": 5, "megabytesPerSecond": 4})",
       5 + 14 * 0.4 + 5 * 0.05 + 400000 / 4e3},
      // Only what is named costs anything.
      {R"({"roundTripMs": 3})", 14 * 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    Simulator sim(PhoneFixture(c.link));
    ASSERT_TRUE(sim.ok()) << sim.error();
    Clock::time_point start = Clock::now();
    InMta(WalkAndReadOne);
    double elapsed = MillisecondsSince(start);
    LinkCounts counts = sim.LinkUse(L"phone");
    EXPECT_EQ(counts.opens, 1u);
    EXPECT_EQ(counts.round_trips, 14u);
    EXPECT_EQ(counts.reads, 5u);
    EXPECT_EQ(counts.bytes_read, kFileSize);
    EXPECT_NEAR(counts.modelled_ms, c.modelled_ms, 1e-6);
    EXPECT_GE(elapsed, c.modelled_ms);
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  }
}

TEST(WpdSimulatorLink, OneDevicesCallsAreServedOneAfterTheOther) {
  // Two sessions on two threads share the one cable: together they take at
  // least the sum of their costs, not the longer of the two.
  Simulator sim(PhoneFixture(R"({"openMs": 10, "roundTripMs": 2})"));
  ASSERT_TRUE(sim.ok()) << sim.error();
  constexpr int kCallsEach = 20;
  Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([] {
      InMta([] {
        Ref<IPortableDevice> phone;
        ASSERT_EQ(OpenDevice(L"phone", kRead, &phone), S_OK);
        Ref<IPortableDeviceContent> content;
        Ref<IPortableDeviceProperties> properties;
        ASSERT_EQ(phone->Content(content.Out()), S_OK);
        ASSERT_EQ(content->Properties(properties.Out()), S_OK);
        for (int i = 0; i < kCallsEach; ++i) {
          Ref<IPortableDeviceValues> values;
          EXPECT_EQ(properties->GetValues(L"f1", nullptr, values.Out()), S_OK);
        }
        phone->Close();
      });
    });
  }
  for (std::thread& thread : threads) thread.join();
  double elapsed = MillisecondsSince(start);
  LinkCounts counts = sim.LinkUse(L"phone");
  EXPECT_EQ(counts.opens, 2u);
  EXPECT_EQ(counts.round_trips, 2u * (kCallsEach + 1));
  EXPECT_GE(elapsed, 2 * (10 + (kCallsEach + 1) * 2.0));
}

}  // namespace
