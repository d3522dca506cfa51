// A phone pulled out in the middle of each device operation: the operation
// fails the way its rules say, leaves nothing behind, the phone is no longer
// listed, and once plugged back in it is listed under the same id with new
// object ids.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_outcome.h"
#include "tests/wpd/device_test_util.h"
#include "tests/wpd/object_copy_test_util.h"
#include "wpd/device_discovery.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/object_copy.h"
#include "wpd/object_deletion.h"

namespace snapferry {
namespace {

using testing_util::kSmallPhone;
using wpd_sim::Call;
using wpd_sim::Fault;

enum class Op { kScan, kEnumerate, kCopy, kCanDelete, kDelete };

struct Pulled {
  const char* when;
  Op op;
  const wchar_t* object;  // the object whose call unplugs the phone
  Call call;
  uint64_t after;  // calls (Read: bytes) let through first
  HRESULT gone;    // what the phone answers once it is gone
  const char* outcome;
};

const Pulled kPulled[] = {
    {"scan, listing a folder", Op::kScan, L"f1", Call::kEnumObjects, 0,
     static_cast<HRESULT>(0x802A0002),
     "error 0x802A0002 \"Enumerate objects failed (HRESULT 0x802A0002)\" "
     "dcim=0 [] 0/0/0/0/0 0"},
    {"scan, reading a photo's properties", Op::kScan, L"o3", Call::kGetValues,
     0, static_cast<HRESULT>(0x800701B1),
     "error 0x800701B1 \"Enumerate objects failed (HRESULT 0x800701B1)\" "
     "dcim=0 [] 0/0/0/0/0 0"},
    {"enumeration, listing a folder", Op::kEnumerate, L"f1", Call::kEnumObjects,
     0, static_cast<HRESULT>(0x8007048F),
     "error 0x8007048F \"Enumerate objects failed (HRESULT 0x8007048F)\""},
    {"enumeration, fetching a folder's ids", Op::kEnumerate, L"f2", Call::kNext,
     0, static_cast<HRESULT>(0x8007001F),
     "error 0x8007001F \"Enumerate objects failed (HRESULT 0x8007001F)\""},
    {"enumeration, reading a photo's properties", Op::kEnumerate, L"o1",
     Call::kGetValues, 0, static_cast<HRESULT>(0x800701B1),
     "error 0x800701B1 \"Enumerate objects failed (HRESULT 0x800701B1)\""},
    {"copy, opening the stream", Op::kCopy, L"o1", Call::kGetStream, 0,
     static_cast<HRESULT>(0x8007048F),
     "status=3 bytesWritten=0 hresult=0x8007048F error=\"Open object stream "
     "failed (HRESULT 0x8007048F)\""},
    {"copy, before the first chunk", Op::kCopy, L"o1", Call::kRead, 0,
     static_cast<HRESULT>(0x8007048F),
     "status=3 bytesWritten=0 hresult=0x8007048F error=\"Read from device "
     "failed (HRESULT 0x8007048F)\""},
    {"copy, mid-object", Op::kCopy, L"o1", Call::kRead, 65536 + 100,
     static_cast<HRESULT>(0x800701B1),
     "status=3 bytesWritten=65636 hresult=0x800701B1 error=\"Read from device "
     "failed (HRESULT 0x800701B1)\""},
    {"copy, at the last chunk", Op::kCopy, L"o1", Call::kRead, 3 * 65536,
     static_cast<HRESULT>(0x8007001F),
     "status=3 bytesWritten=196608 hresult=0x8007001F error=\"Read from "
     "device failed (HRESULT 0x8007001F)\""},
    {"copy, all bytes read but not the end", Op::kCopy, L"o1", Call::kRead,
     3 * 65536 + 1000, static_cast<HRESULT>(0x8007048F),
     "status=3 bytesWritten=197608 hresult=0x8007048F error=\"Read from "
     "device failed (HRESULT 0x8007048F)\""},
    {"delete check", Op::kCanDelete, L"o3", Call::kGetValues, 0,
     static_cast<HRESULT>(0x8007048F), "canDelete=-1"},
    {"deletion", Op::kDelete, L"o3", Call::kDelete, 0,
     static_cast<HRESULT>(0x8007048F),
     "status=3 bytesWritten=0 hresult=0x8007048F error=\"Delete object failed "
     "(HRESULT 0x8007048F)\""},
};

std::string RunOperation(Op op, const std::string& staging) {
  const std::string phone = WideToUtf8(kSmallPhone);
  return testing_util::OnWorker([&]() -> std::string {
    switch (op) {
      case Op::kScan:
        return test::Outcome(ScanMedia(phone));
      case Op::kEnumerate:
        return test::Outcome(EnumerateMedia(phone));
      case Op::kCopy: {
        std::atomic<bool> cancel{false};
        return test::Outcome(CopyObjectToFile(
            phone, "o1", staging, [](int64_t, int64_t) {}, cancel));
      }
      case Op::kCanDelete:
        return test::Outcome(CanDeleteObject(phone, "o3"));
      case Op::kDelete:
        break;
    }
    return test::Outcome(DeleteObject(phone, "o3"));
  });
}

bool Listed(const std::string& phone) {
  DeviceList list = testing_util::OnWorker(ListDevices);
  EXPECT_EQ(list.message, "");
  for (const DeviceInfo& device : list.devices) {
    if (device.id == phone) return true;
  }
  return false;
}

TEST(UnpluggedPhoneTest, EachOperationFailsCleanlyAndThePhoneComesBackNew) {
  const std::string phone = WideToUtf8(kSmallPhone);
  for (const Pulled& row : kPulled) {
    SCOPED_TRACE(row.when);
    wpd_sim::Fixture fixture = testing_util::SmallPhone();
    fixture.devices[0].GoneResult(row.gone);
    wpd_sim::Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(sim.SetObjectFault(kSmallPhone, row.object, row.call,
                                   Fault::Unplug(row.after)));
    test::StagingFolder folder;
    const std::string staging = folder.File("IMG_0001.HEIC");

    EXPECT_EQ(RunOperation(row.op, staging), row.outcome);
    EXPECT_FALSE(sim.IsPlugged(kSmallPhone));
    EXPECT_EQ(folder.Entries(), 0u);
    test::ExpectCopiesLeftNothing(sim);
    EXPECT_FALSE(Listed(phone));

    sim.ClearFaults();
    ASSERT_TRUE(sim.Plug(kSmallPhone));
    EXPECT_TRUE(Listed(phone));
    EnumerationResult again =
        testing_util::OnWorker([&] { return EnumerateMedia(phone); });
    EXPECT_EQ(test::Outcome(again),
              "ok o3~2 IMG_0002.JPG 202610_a 2000 2026-10-02T18:30:05; "
              "o4~2 IMG_0003.PNG 202610_a 1000 2026-10-02T18:30:05; "
              "o1~2 IMG_0001.HEIC 202609_a 197608 2026-09-14T10:00:00; "
              "o2~2 IMG_0001.MOV 202609_a 3000 2026-09-14T10:00:00;");
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  }
}

}  // namespace
}  // namespace snapferry
