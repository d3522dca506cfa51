// The values the interface gets from device records, and the argument rule.
// The interface reads every integer as a 64-bit integer and relies on the
// exact key sets, so those are what these tests pin down.

#include "channel/method_replies.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "channel/wpd_channel_handler.h"
#include "tests/channel/channel_test_util.h"

namespace snapferry {
namespace {

using channel_test::At;
using channel_test::KeysOf;
using channel_test::Str;
using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;
using Keys = std::vector<std::string>;

EncodableValue I64(int64_t value) { return EncodableValue(value); }

TEST(MethodRepliesTest, ObjectOpResultMapHasItsFourKeysAndStatusTexts) {
  ObjectOpResult result;
  result.status = ObjectOpStatus::kNotPermitted;
  result.bytesWritten = 0;
  result.hresult = static_cast<HRESULT>(0x80070005u);
  result.error = "Delete object failed (HRESULT 0x80070005)";
  const EncodableValue value = ObjectOpResultToValue(result);
  EXPECT_EQ(
      value,
      EncodableValue(ValueMap{
          {Str("status"), Str("notPermitted")},
          {Str("bytesWritten"), I64(0)},
          {Str("hresult"), I64(-2147024891LL)},
          {Str("error"), Str("Delete object failed (HRESULT 0x80070005)")},
      }));

  const struct {
    ObjectOpStatus status;
    const char* text;
  } statuses[] = {
      {ObjectOpStatus::kOk, "ok"},
      {ObjectOpStatus::kCancelled, "cancelled"},
      {ObjectOpStatus::kNotPermitted, "notPermitted"},
      {ObjectOpStatus::kError, "error"},
      {static_cast<ObjectOpStatus>(9), "error"},
  };
  for (const auto& c : statuses) {
    ObjectOpResult r;
    r.status = c.status;
    r.bytesWritten = 5000000000LL;
    const EncodableValue v = ObjectOpResultToValue(r);
    EXPECT_EQ(At(v, "status"), Str(c.text));
    EXPECT_EQ(At(v, "bytesWritten"), I64(5000000000LL));
    EXPECT_EQ(At(v, "hresult"), I64(0));  // int64 even when 0
    EXPECT_EQ(At(v, "error"), Str(""));
  }

  // A copy that read the object's size tells it, a size of 0 included;
  // one that could not, and every deletion, have no such key.
  for (const uint64_t size : {uint64_t{0}, uint64_t{5000000000ULL}}) {
    ObjectOpResult copy;
    copy.objectSize = size;
    EXPECT_EQ(At(ObjectOpResultToValue(copy), "objectSize"),
              I64(static_cast<int64_t>(size)));
  }
  EXPECT_EQ(std::get<ValueMap>(value).count(Str("objectSize")), 0u);
}

TEST(MethodRepliesTest, ScanMapHasElevenKeysWithSixtyFourBitCounts) {
  ScanResult scan;
  scan.status = ScanStatus::kAccessDenied;
  scan.hresult = static_cast<int32_t>(0x80070005u);
  scan.dcimFound = true;
  scan.storageChildren = {"DCIM", "Downloads"};
  scan.counts.photos = 1;
  scan.counts.videos = 2;
  scan.counts.screenshots = 3;
  scan.counts.sidecars = 4;
  scan.counts.others = 5;
  scan.counts.totalBytes = 6000000000ULL;
  const EncodableValue value = ScanResultToValue(scan);
  EXPECT_EQ(value,
            EncodableValue(ValueMap{
                {Str("status"), Str("accessDenied")},
                {Str("error"), Str("")},
                {Str("hresult"), I64(-2147024891LL)},
                {Str("dcimFound"), EncodableValue(true)},
                {Str("storageChildren"),
                 EncodableValue(ValueList{Str("DCIM"), Str("Downloads")})},
                {Str("photos"), I64(1)},
                {Str("videos"), I64(2)},
                {Str("screenshots"), I64(3)},
                {Str("sidecars"), I64(4)},
                {Str("others"), I64(5)},
                {Str("totalBytes"), I64(6000000000LL)},
            }));
}

TEST(MethodRepliesTest, DeviceAndEntryListsCarryExactlyTheirFiveKeys) {
  DeviceInfo apple{"\\\\?\\usb#vid_05ac", "Anna", "Apple Inc.", "iPhone", true};
  DeviceInfo unnamed;  // texts the manager could not give
  const EncodableValue devices = DeviceListToValue({apple, unnamed});
  const auto& list = std::get<ValueList>(devices);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(KeysOf(list[0]),
            (Keys{"friendlyName", "id", "isApple", "manufacturer", "model"}));
  EXPECT_EQ(At(list[0], "id"), Str("\\\\?\\usb#vid_05ac"));
  EXPECT_EQ(At(list[0], "isApple"), EncodableValue(true));
  EXPECT_EQ(At(list[1], "friendlyName"), Str(""));  // empty, not null
  EXPECT_EQ(At(list[1], "isApple"), EncodableValue(false));
  EXPECT_EQ(DeviceListToValue({}), EncodableValue(ValueList{}));

  // The persistent id is kept for deletes, never sent.
  MediaEntry entry{"o7", "IMG_0001.HEIC", "100APPLE", 5000000000ULL,
                   "2024-05-01T10:00:00", "{0A1B}"};
  const EncodableValue entries = MediaEntriesToValue({entry});
  const auto& items = std::get<ValueList>(entries);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], EncodableValue(ValueMap{
                          {Str("objectId"), Str("o7")},
                          {Str("name"), Str("IMG_0001.HEIC")},
                          {Str("parentPath"), Str("100APPLE")},
                          {Str("size"), I64(5000000000LL)},
                          {Str("date"), Str("2024-05-01T10:00:00")},
                      }));
}

TEST(MethodRepliesTest, CanDeleteIsNullWithoutAnAnswer) {
  EXPECT_EQ(CanDeleteAnswerToValue(-1), EncodableValue());
  EXPECT_EQ(CanDeleteAnswerToValue(1), EncodableValue(true));
  EXPECT_EQ(CanDeleteAnswerToValue(0), EncodableValue(false));
}

TEST(GetStringArgumentTest, OnlyAStringUnderAStringKeyInAMapCounts) {
  EXPECT_EQ(GetStringArgument(nullptr, "id"), "");
  const EncodableValue null_value;
  EXPECT_EQ(GetStringArgument(&null_value, "id"), "");
  const EncodableValue list(ValueList{Str("id"), Str("dev")});
  EXPECT_EQ(GetStringArgument(&list, "id"), "");

  const EncodableValue map(ValueMap{
      {Str("id"), Str("dev")},
      {Str("objectId"), EncodableValue(int32_t{7})},
      {Str("tempPath"), EncodableValue()},
      {EncodableValue(int32_t{1}), Str("one")},
      {Str("Id"), Str("other case")},
      {Str("extra"), Str("ignored")},
  });
  EXPECT_EQ(GetStringArgument(&map, "id"), "dev");
  EXPECT_EQ(GetStringArgument(&map, "objectId"), "");  // integer
  EXPECT_EQ(GetStringArgument(&map, "tempPath"), "");  // null
  EXPECT_EQ(GetStringArgument(&map, "missing"), "");
  EXPECT_EQ(GetStringArgument(&map, "1"), "");  // the key 1 is no string
}

}  // namespace
}  // namespace snapferry
