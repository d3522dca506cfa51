// Properties read in bulk and read one by one must make the same listing:
// the same entries in the same order, the same counts and the same unread
// list, whatever part of a bulk request fails.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_test_util.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/property_reader.h"

namespace snapferry {
namespace {

using testing_util::kGenFailure;
using testing_util::OnWorker;
using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::DateProperty;
using wpd_sim::DeviceSpec;
using wpd_sim::Fault;

const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#bulk";
const std::string kPhoneUtf8 = "\\\\?\\usb#vid_05ac&pid_12a8#bulk";
constexpr int kInFirstMonth = 250;  // more than a Next or a bulk batch brings
constexpr int kInSecondMonth = 100;

std::wstring FileId(int n) { return L"o" + std::to_wstring(n); }

// Two month folders as an iPhone lists them, and what the walk cannot read
// on either path: a file whose GetValues fails, one that answers a
// went-away code while the phone stays, and a folder whose listing fails
// part-way.
wpd_sim::Fixture Roll(bool bulk, const std::function<void(DeviceSpec&)>& more) {
  wpd_sim::Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone).Bulk(bulk);
  phone.AddPhoneStorage(L"s", L"Internal Storage");
  phone.AddPhoneFolder(L"m1", L"s", L"202610_a");
  phone.AddPhoneFolder(L"m2", L"s", L"202609_a");
  const wchar_t* const kExtensions[] = {L".HEIC", L".MOV", L".JPG", L".PNG"};
  for (int n = 0; n < kInFirstMonth + kInSecondMonth; ++n) {
    const bool first = n < kInFirstMonth;
    phone.AddPhoneFile(FileId(n), first ? L"m1" : L"m2",
                       L"IMG_" + std::to_wstring(1000 + n) + kExtensions[n % 4],
                       n % 4 == 1 ? ContentType::kUnspecified
                                  : ContentType::kImage,
                       1000 + n,
                       DateProperty::At(2026, first ? 10 : 9, 1 + n % 28,
                                        n % 24, n % 60, 0));
  }
  phone.objects[3 + 7].Fail(Call::kGetValues, E_FAIL);
  phone.objects[3 + 130].Fail(Call::kGetValues, kGenFailure);
  phone.objects[2].Fail(Call::kNext, E_FAIL, 20);  // m2: 64 listed, then fails
  if (more) more(phone);
  return fixture;
}

std::string Text(const std::vector<UnreadItem>& unread) {
  std::string text;
  for (const UnreadItem& item : unread) {
    text += item.folder + " " + item.objectId + " " +
            std::to_string(item.hresult) + "\n";
  }
  return text;
}

std::string Text(const EnumerationResult& result) {
  std::string text = result.message + "\n";
  for (const MediaEntry& e : result.entries) {
    text += e.objectId + " " + e.name + " " + e.parentPath + " " +
            std::to_string(e.size) + " " + std::string(e.date.view()) + " " +
            e.persistentId + "\n";
  }
  return text + "unread:\n" + Text(result.unread);
}

std::string Text(const ScanResult& result) {
  const MediaCounters& c = result.counts;
  std::string text = std::string(ScanStatusText(result.status)) + " " +
                     result.error + " " + std::to_string(c.photos) + " " +
                     std::to_string(c.videos) + " " +
                     std::to_string(c.screenshots) + " " +
                     std::to_string(c.sidecars) + " " +
                     std::to_string(c.others) + " " +
                     std::to_string(c.totalBytes) + "\n";
  for (const std::string& child : result.storageChildren) text += child + ",";
  return text + "\nunread:\n" + Text(result.unread);
}

struct Listing {
  std::string enumeration;
  std::string scan;
  size_t entries = 0;
  uint64_t bulk_batches = 0;
  uint64_t round_trips = 0;  // bulk batches included
};

Listing ListRoll(bool bulk, const std::function<void(DeviceSpec&)>& more) {
  wpd_sim::Simulator sim(Roll(bulk, more));
  EXPECT_TRUE(sim.ok()) << sim.error();
  Listing listing;
  const EnumerationResult enumeration =
      OnWorker([] { return EnumerateMedia(kPhoneUtf8); });
  listing.enumeration = Text(enumeration);
  listing.entries = enumeration.entries.size();
  listing.scan = Text(OnWorker([] { return ScanMedia(kPhoneUtf8); }));
  const wpd_sim::LinkCounts used = sim.LinkUse(kPhone);
  listing.bulk_batches = used.bulk_batches;
  listing.round_trips = used.round_trips + used.bulk_batches;
  return listing;
}

TEST(BulkReadsTest, GiveTheListingOfOneByOneReadsWhateverPartOfThemFails) {
  SetBulkReadPatience(std::chrono::milliseconds(200));
  const struct {
    const char* name;
    std::function<void(DeviceSpec&)> bulk_fault;
    bool bulk_answers;  // whether any bulk batch comes
  } kCases[] = {
      {"every object answered", nullptr, true},
      {"the request cannot be queued",
       [](DeviceSpec& d) { d.Fail(Call::kQueueGetValuesByObjectList, E_FAIL); },
       false},
      {"the request cannot start",
       [](DeviceSpec& d) { d.Fail(Call::kStart, kGenFailure); }, false},
      {"objects left out of the results",
       [](DeviceSpec& d) {
         d.objects[3 + 5].Fail(Call::kBulkValues, E_FAIL);
         d.objects[3 + 99].Fail(Call::kBulkValues, E_FAIL);
         d.objects[3 + kInFirstMonth + 1].Fail(Call::kBulkValues, E_FAIL);
       },
       true},
      {"the request ends with a failure part-way",
       [](DeviceSpec& d) { d.Fail(Call::kBulkValues, E_FAIL, 150); }, true},
      {"the request goes silent",
       [](DeviceSpec& d) { d.Fail(Call::kBulkValues, Fault::Hang(120)); },
       true},
  };
  const Listing one_by_one = ListRoll(false, nullptr);
  // Of 350 files, the two unreadable ones and the 36 of m2 past its failing
  // Next are not listed.
  EXPECT_EQ(one_by_one.entries, 350u - 2 - 36);
  EXPECT_EQ(one_by_one.bulk_batches, 0u);
  EXPECT_NE(one_by_one.enumeration.find("\n202610_a o7 -2147467259\n"),
            std::string::npos)
      << one_by_one.enumeration;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Listing bulk = ListRoll(true, c.bulk_fault);
    EXPECT_EQ(bulk.enumeration, one_by_one.enumeration);
    EXPECT_EQ(bulk.scan, one_by_one.scan);
    EXPECT_EQ(bulk.bulk_batches > 0, c.bulk_answers);
    if (c.bulk_fault == nullptr) {
      // Answered in bulk, not read one by one again.
      EXPECT_LT(bulk.round_trips * 4, one_by_one.round_trips);
    }
  }
  SetBulkReadPatience(std::chrono::seconds(60));
}

}  // namespace
}  // namespace snapferry
