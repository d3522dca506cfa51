// Reading an object's thumbnail, against simulated devices: what counts as
// none, what is a failure and under which step, the 1 MiB bound, and what
// one costs on an iPhone's link.
#include "wpd/object_thumbnail.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_outcome.h"
#include "tests/wpd/device_test_util.h"
#include "wpd/device_connection.h"

namespace snapferry {
namespace {

using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::Fault;
using wpd_sim::Simulator;

const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#thumbs";
const std::string kPhoneUtf8 = WideToUtf8(kPhone);
constexpr uint64_t kMiB = uint64_t{1} << 20;

// A photo (objects[2]) without a thumbnail until a case gives it one, and a
// video.
wpd_sim::Fixture PhoneFixture() {
  wpd_sim::Fixture fixture;
  wpd_sim::DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddPhoneStorage(L"s1", L"Internal Storage");
  phone.AddPhoneFolder(L"f1", L"s1", L"202610_a");
  const auto taken = wpd_sim::DateProperty::At(2026, 10, 2, 18, 30, 5);
  phone.AddPhoneFile(L"photo", L"f1", L"IMG_0001.HEIC", ContentType::kImage,
                     2000000, taken);
  phone.AddPhoneFile(L"video", L"f1", L"IMG_0002.MOV", ContentType::kVideo,
                     9000000, taken);
  return fixture;
}

std::string Read(const std::string& device, const std::string& object) {
  return testing_util::OnWorker(
      [&] { return test::Outcome(ReadThumbnail(device, object)); });
}

TEST(ObjectThumbnailTest, NoneFailureOrTheBytesAsTheDeviceAnswers) {
  const HRESULT kNotFound = static_cast<HRESULT>(0x80070490);
  const HRESULT kNotSupported = static_cast<HRESULT>(0x80070032);
  const HRESULT kReadFault = static_cast<HRESULT>(0x8007001E);
  using Spec = std::function<void(wpd_sim::DeviceSpec&)>;
  using Run = std::function<void(Simulator&)>;
  const Spec as_listed = [](wpd_sim::DeviceSpec&) {};
  const Run nothing = [](Simulator&) {};
  const auto photo = [](std::function<void(wpd_sim::ObjectSpec&)> set) {
    return [set](wpd_sim::DeviceSpec& phone) { set(phone.objects[2]); };
  };
  const auto get_stream_answers = [](HRESULT hr) {
    return [hr](Simulator& sim) {
      sim.SetObjectFault(kPhone, L"photo", Call::kGetStream, {hr, 0});
    };
  };
  struct Case {
    const char* what;
    Spec spec;
    Run run;
    std::string object;
    std::string outcome;
    uint64_t max_bytes_read;  // of the whole case; 0: not checked
  };
  const Case cases[] = {
      {"a photo's", photo([](auto& o) { o.ThumbnailPattern(9000); }), nothing,
       "photo", "thumbnail 9000", 9000},
      {"served in short reads answered S_FALSE",
       [](wpd_sim::DeviceSpec& phone) {
         phone.objects[2].ThumbnailPattern(9000);
         phone.max_read_size = 1000;
         phone.short_read_is_s_false = true;
       },
       nothing, "photo", "thumbnail 9000", 0},
      {"exactly the largest taken",
       photo([](auto& o) { o.ThumbnailPattern(kMiB); }), nothing, "photo",
       "thumbnail 1048576", 0},
      // Too large: read no further than one byte past the limit.
      {"one byte too large",
       photo([](auto& o) { o.ThumbnailPattern(kMiB + 1); }), nothing, "photo",
       "none", kMiB + 1},
      {"a gigabyte", photo([](auto& o) { o.ThumbnailPattern(1024 * kMiB); }),
       nothing, "photo", "none", kMiB + 1},
      {"empty", photo([](auto& o) { o.Thumbnail(""); }), nothing, "photo",
       "none", 0},
      {"a video without one", as_listed, nothing, "video", "none", 0},
      {"no such object", as_listed, nothing, "gone", "none", 0},
      // Cut at the NUL this would name "photo", which has one.
      {"an id with a NUL", photo([](auto& o) { o.ThumbnailPattern(9000); }),
       nothing, std::string("photo\0x", 7), "none", 0},
      {"GetStream: not found", as_listed, get_stream_answers(kNotFound),
       "photo", "none", 0},
      {"GetStream: not implemented", as_listed, get_stream_answers(E_NOTIMPL),
       "photo", "none", 0},
      {"GetStream: not supported", as_listed, get_stream_answers(kNotSupported),
       "photo", "none", 0},
      {"GetStream: invalid argument", as_listed,
       get_stream_answers(E_INVALIDARG), "photo", "none", 0},
      {"GetStream: access denied", as_listed,
       get_stream_answers(E_ACCESSDENIED), "photo",
       "error 0x80070005 \"Open thumbnail stream failed (HRESULT "
       "0x80070005)\"",
       0},
      {"a read fails midway", photo([](auto& o) {
         o.ThumbnailPattern(9000).Fail(Call::kRead, kReadFault, 4096);
       }),
       nothing, "photo",
       "error 0x8007001E \"Read from device failed (HRESULT 0x8007001E)\"", 0},
      {"unplugged midway", photo([](auto& o) {
         o.ThumbnailPattern(9000).Fail(Call::kRead, Fault::Unplug(4096));
       }),
       nothing, "photo",
       "error 0x8007048F \"Read from device failed (HRESULT 0x8007048F)\"", 0},
      {"the device refuses to open",
       [](wpd_sim::DeviceSpec& phone) { phone.OpenResult(E_ACCESSDENIED); },
       nothing, "photo",
       "error 0x80070005 \"Open device failed (HRESULT 0x80070005)\"", 0},
      {"no transfer",
       [](wpd_sim::DeviceSpec& phone) {
         phone.Fail(Call::kTransfer, E_OUTOFMEMORY);
       },
       nothing, "photo",
       "error 0x8007000E \"Open transfer failed (HRESULT 0x8007000E)\"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    wpd_sim::Fixture fixture = PhoneFixture();
    c.spec(fixture.devices[0]);
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    c.run(sim);
    EXPECT_EQ(Read(kPhoneUtf8, c.object), c.outcome);
    if (c.max_bytes_read != 0) {
      EXPECT_EQ(sim.LinkUse(kPhone).bytes_read, c.max_bytes_read);
    }
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
    EXPECT_EQ(sim.OpenWithoutClose(), 0);
  }
}

TEST(ObjectThumbnailTest, WorkerThatCannotJoinComIsTold) {
  Simulator sim(PhoneFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  if (!testing_util::CanFailCoInitialize(sim, E_OUTOFMEMORY)) {
    GTEST_SKIP() << "CoInitializeEx cannot be made to fail on this platform";
  }
  EXPECT_EQ(Read(kPhoneUtf8, "photo"),
            "error 0x00000000 \"COM initialisation failed\"");
  sim.ClearFaults();
  EXPECT_EQ(sim.Calls(Call::kOpen), 0u);
}

// An iPhone made a thumbnail in 25 ms (median): so does the simulated one
// behind the usb2 link, besides opening and closing the device.
TEST(ObjectThumbnailTest, CostsWhatAnIphonesDoesOnItsLink) {
  wpd_sim::Fixture fixture = PhoneFixture();
  fixture.devices[0].Link(wpd_sim::LinkSpec::Usb2());
  fixture.devices[0].objects[2].ThumbnailPattern(10000);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Read(kPhoneUtf8, "photo"), "thumbnail 10000");
  const double elapsed_ms = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - start)
                                .count();
  const wpd_sim::LinkCounts use = sim.LinkUse(kPhone);
  EXPECT_EQ(use.thumbnails, 1u);
  const wpd_sim::LinkSpec usb2 = wpd_sim::LinkSpec::Usb2();
  const double thumbnail_ms =
      use.modelled_ms - usb2.open_ms - usb2.round_trip_ms;  // the Close
  EXPECT_GE(thumbnail_ms, 24.5);
  EXPECT_LE(thumbnail_ms, 26.0);
  EXPECT_GE(elapsed_ms, use.modelled_ms - 1);
}

// The demo's photos carry real JPEGs of an iPhone's thumbnail sizes (a
// screenshot a portrait one); its videos have none.
TEST(ObjectThumbnailTest, DemoPhotosCarrySmallJpegs) {
  wpd_sim::Fixture demo = wpd_sim::DemoFixture();
  const std::wstring phone = demo.devices[0].id;
  Simulator sim(std::move(demo));
  ASSERT_TRUE(sim.ok()) << sim.error();
  struct Expected {
    const char* object;
    int width, height;  // 0: no thumbnail
  };
  for (const Expected& e : {Expected{"o10", 160, 120},
                            {"o12", 160, 120},
                            {"o13", 74, 160},
                            {"o1283", 0, 0},
                            {"o1204", 160, 120},
                            {"o11", 0, 0}}) {
    SCOPED_TRACE(e.object);
    ThumbnailResult thumbnail = testing_util::OnWorker(
        [&] { return ReadThumbnail(WideToUtf8(phone), e.object); });
    EXPECT_EQ(thumbnail.message, "");
    if (e.width == 0) {
      EXPECT_FALSE(thumbnail.present);
      continue;
    }
    ASSERT_TRUE(thumbnail.present);
    const std::vector<uint8_t>& jpeg = thumbnail.bytes;
    EXPECT_GE(jpeg.size(), 1000u);
    EXPECT_LE(jpeg.size(), 12000u);
    // Starts and ends as a JPEG; its baseline frame header gives the size.
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    int width = 0, height = 0;
    for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
      if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
        height = jpeg[i + 5] << 8 | jpeg[i + 6];
        width = jpeg[i + 7] << 8 | jpeg[i + 8];
        break;
      }
    }
    EXPECT_EQ(width, e.width);
    EXPECT_EQ(height, e.height);
  }
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

}  // namespace
}  // namespace snapferry
