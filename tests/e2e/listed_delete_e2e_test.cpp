// Deletes of ids the interface listed before the phone was plugged in
// again, on a phone that hands its former ids out to other objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/e2e/e2e_test_util.h"
#include "wpd/device_connection.h"

namespace e2e {
namespace {

using channel_test::Args;
using channel_test::At;
using channel_test::Str;
using flutter::ValueMap;

constexpr wchar_t kPhoneW[] = L"\\\\?\\usb#vid_05ac&pid_12a8#again#{6ac27878}";
constexpr char kPhone[] = "\\\\?\\usb#vid_05ac&pid_12a8#again#{6ac27878}";

class ListedDeleteEndToEndTest : public EndToEndTest {
 protected:
  std::unique_ptr<EncodableValue> Ids(const std::string& object) {
    return Args({{Str("id"), Str(kPhone)}, {Str("objectId"), EncodableValue(object)}});
  }
  bool Listed() {
    return Call("enumerateMedia", Args({{Str("id"), Str(kPhone)}})).kind ==
           Reply::Kind::kSuccess;
  }
};

TEST_F(ListedDeleteEndToEndTest, AnIdThatNamesAnotherObjectSinceIsNotDeleted) {
  // Deletable photos as an iPhone lists them; after a replug object k gets
  // the id object k + 1 had, so "p2" names IMG_0001 then.
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(kPhoneW).ReusesIdsOnReplug();
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddPhoneFolder(L"f1", L"s1", L"202610_a");
  for (int i = 1; i <= 3; ++i) {
    phone
        .AddPhoneFile(L"p" + std::to_wstring(i), L"f1",
                      L"IMG_000" + std::to_wstring(i) + L".HEIC",
                      wpd_sim::ContentType::kImage, 1000,
                      wpd_sim::DateProperty::At(2026, 10, 1, 9, 0, i))
        .CanDelete(true);
  }
  StartDevices(std::move(fixture));

  ASSERT_TRUE(Listed());
  ASSERT_TRUE(devices_->Replug(kPhoneW));
  ASSERT_EQ(devices_->ObjectId(kPhoneW, L"p1"), L"p2");
  EXPECT_TRUE(Call("canDelete", Ids("p2")).value.IsNull());
  EXPECT_EQ(Call("deleteObject", Ids("p2")).value,
            EncodableValue(ValueMap{
                {Str("status"), Str("error")},
                {Str("bytesWritten"), EncodableValue(int64_t{0})},
                {Str("hresult"), EncodableValue(int64_t{-2147023728})},
                {Str("error"),
                 Str("The object is not the one listed: list the device "
                     "again")}}));
  for (const wchar_t* photo : {L"p1", L"p2", L"p3"}) {
    EXPECT_FALSE(devices_->ObjectId(kPhoneW, photo).empty()) << photo;
  }

  // Listed again, the same id is that photo and goes.
  ASSERT_TRUE(Listed());
  EXPECT_EQ(Call("canDelete", Ids("p2")).value, EncodableValue(true));
  EXPECT_EQ(At(Call("deleteObject", Ids("p2")).value, "status"), Str("ok"));
  EXPECT_TRUE(devices_->ObjectId(kPhoneW, L"p1").empty());
  EXPECT_FALSE(devices_->ObjectId(kPhoneW, L"p2").empty());
}

}  // namespace
}  // namespace e2e
