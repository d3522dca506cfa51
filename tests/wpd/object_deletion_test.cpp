// The delete check and the deletion of one object, against simulated devices.
#include "wpd/object_deletion.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/object_op_test_util.h"
#include "wpd/device_connection.h"

namespace snapferry {
namespace {

using test::Describe;
using test::OnWorker;
using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::Fixture;
using wpd_sim::Simulator;

constexpr ObjectOpStatus kOk = ObjectOpStatus::kOk;
constexpr ObjectOpStatus kNotPermitted = ObjectOpStatus::kNotPermitted;
constexpr ObjectOpStatus kError = ObjectOpStatus::kError;

const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#delete";
const std::string kPhoneUtf8 = WideToUtf8(kPhone);
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericReadWrite = 0xC0000000;

Fixture PhoneFixture() {
  Fixture fixture;
  auto& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"dcim", L"s1", L"DCIM");
  phone.AddFolder(L"apple", L"dcim", L"100APPLE");
  phone.AddFile(L"yes", L"apple", L"IMG_0001.JPG", ContentType::kImage, "y")
      .CanDelete(true);
  phone.AddFile(L"no", L"apple", L"IMG_0002.JPG", ContentType::kImage, "n")
      .CanDelete(false);
  phone.AddFile(L"odd", L"apple", L"IMG_0003.JPG", ContentType::kImage, "o")
      .CanDeleteValue(5);
  phone.AddFile(L"unsaid", L"apple", L"IMG_0004.JPG", ContentType::kImage, "u");
  return fixture;
}

int32_t CanDelete(const std::string& device_id, const std::string& object_id) {
  int32_t answer = 0;
  OnWorker([&] { answer = CanDeleteObject(device_id, object_id); });
  return answer;
}

ObjectOpResult Delete(const std::string& device_id,
                      const std::string& object_id) {
  ObjectOpResult result;
  OnWorker([&] { result = DeleteObject(device_id, object_id); });
  return result;
}

class ObjectDeletionTest : public ::testing::Test {
 protected:
  ObjectDeletionTest() : sim_(PhoneFixture()) {}
  void SetUp() override { ASSERT_TRUE(sim_.ok()) << sim_.error(); }
  void TearDown() override {
    EXPECT_EQ(sim_.LiveObjects(), 0) << sim_.LiveObjectsText();
    EXPECT_EQ(sim_.OpenWithoutClose(), 0);
  }
  bool Has(const wchar_t* object) const {
    return sim_.HasObject(kPhone, object);
  }

  Simulator sim_;
};

TEST_F(ObjectDeletionTest, CanDeleteAnswersWhatTheDeviceSays) {
  EXPECT_EQ(CanDelete(kPhoneUtf8, "yes"), 1);
  EXPECT_EQ(CanDelete(kPhoneUtf8, "no"), 0);
  EXPECT_EQ(CanDelete(kPhoneUtf8, "odd"), 1);  // any non-zero value is yes
  ASSERT_TRUE(sim_.LastClientInfo(kPhone).has_value());
  EXPECT_EQ(sim_.LastClientInfo(kPhone)->desired_access, kGenericRead);
}

TEST_F(ObjectDeletionTest, CanDeleteHasNoAnswerWhenThePropertyCannotBeRead) {
  const std::function<void()> no_fault = [] {};
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string device;
    std::string object;
  };
  const Case cases[] = {
      {"property missing", no_fault, kPhoneUtf8, "unsaid"},
      {"unknown object", no_fault, kPhoneUtf8, "gone"},
      {"unknown device", no_fault, "no such device", "yes"},
      {"empty ids", no_fault, "", ""},
      {"device refuses", [&] { sim_.SetOpenResult(kPhone, E_ACCESSDENIED); },
       kPhoneUtf8, "yes"},
      {"no content",
       [&] {
         sim_.SetDeviceFault(kPhone, Call::kContent, {E_FAIL, 0});
       },
       kPhoneUtf8, "yes"},
      {"no properties",
       [&] {
         sim_.SetDeviceFault(kPhone, Call::kProperties, {E_FAIL, 0});
       },
       kPhoneUtf8, "yes"},
      {"no key collection",
       [&] {
         sim_.SetProcessFault(Call::kCreateKeyCollection, {E_OUTOFMEMORY, 0});
       },
       kPhoneUtf8, "yes"},
      {"values fail",
       [&] {
         sim_.SetObjectFault(kPhone, L"yes", Call::kGetValues, {E_FAIL, 0});
       },
       kPhoneUtf8, "yes"},
      {"bool read fails",
       [&] {
         sim_.SetObjectFault(kPhone, L"yes", Call::kGetBoolValue, {E_FAIL, 0});
       },
       kPhoneUtf8, "yes"},
      // Cut at the NUL this would ask about "yes".
      {"embedded NUL", no_fault, kPhoneUtf8, std::string("yes\0x", 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    EXPECT_EQ(CanDelete(c.device, c.object), -1);
    sim_.ClearFaults();
    sim_.SetOpenResult(kPhone, S_OK);
    EXPECT_EQ(sim_.LiveObjects(), 0) << sim_.LiveObjectsText();
    EXPECT_EQ(sim_.OpenWithoutClose(), 0);
  }
}

TEST_F(ObjectDeletionTest, DeletesExactlyTheObjectNamed) {
  EXPECT_EQ(Describe(Delete(kPhoneUtf8, "yes")), Describe(kOk, 0, S_OK, ""));
  EXPECT_FALSE(Has(L"yes"));
  EXPECT_TRUE(Has(L"odd"));
  EXPECT_TRUE(Has(L"apple"));
  ASSERT_TRUE(sim_.LastClientInfo(kPhone).has_value());
  EXPECT_EQ(sim_.LastClientInfo(kPhone)->desired_access, kGenericReadWrite);
}

// Every property the listing held must read the same; one that differs, or
// an object that cannot be read, is neither answered for nor deleted.
TEST_F(ObjectDeletionTest, ActsOnAListedIdOnlyWhileItReadsAsListed) {
  const ListedObject same{"IMG_0001.JPG", 1, DateText(), ""};
  ListedObject renamed = same, resized = same, redated = same, other = same;
  renamed.name = "IMG_0009.JPG";
  resized.size = 2;
  redated.date = "2026-10-01T09:00:00";
  other.persistent_id = "{0A1B}";
  const std::string refused =
      Describe(kError, 0, kNotTheListedObject, kNotTheListedObjectText);
  const auto expect_refused = [&](const ListedObject& listed) {
    int32_t answer = 0;
    ObjectOpResult result;
    OnWorker([&] {
      answer = CanDeleteObject(kPhoneUtf8, "yes", nullptr, &listed);
      result = DeleteObject(kPhoneUtf8, "yes", nullptr, &listed);
    });
    EXPECT_EQ(answer, kCanDeleteUnknown);
    EXPECT_EQ(Describe(result), refused);
    EXPECT_TRUE(Has(L"yes"));
  };
  for (const ListedObject* listed : {&renamed, &resized, &redated, &other}) {
    expect_refused(*listed);
  }
  ASSERT_TRUE(sim_.SetObjectFault(kPhone, L"yes", Call::kGetValues,
                                  wpd_sim::Fault{E_FAIL, 0}));
  expect_refused(same);
  sim_.ClearFaults();

  OnWorker([&] {
    EXPECT_EQ(CanDeleteObject(kPhoneUtf8, "yes", nullptr, &same), kCanDelete);
    EXPECT_EQ(Describe(DeleteObject(kPhoneUtf8, "yes", nullptr, &same)),
              Describe(kOk, 0, S_OK, ""));
  });
  EXPECT_FALSE(Has(L"yes"));
}

TEST_F(ObjectDeletionTest, NeverDeletesAFolderWithItsChildren) {
  const HRESULT kDirNotEmpty = static_cast<HRESULT>(0x80070091);
  EXPECT_EQ(Describe(Delete(kPhoneUtf8, "apple")),
            Describe(kError, 0, kDirNotEmpty,
                     "Delete object failed (HRESULT 0x80070091)"));
  EXPECT_TRUE(Has(L"apple"));
  EXPECT_TRUE(Has(L"yes"));
}

TEST_F(ObjectDeletionTest, RefusalsAreNotPermittedAndOtherFailuresErrors) {
  const HRESULT kNotSupported = static_cast<HRESULT>(0x80070032);
  const HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
  const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
  const HRESULT kNotFound = static_cast<HRESULT>(0x80070490);
  const std::function<void()> no_fault = [] {};
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string device;
    std::string object;
    ObjectOpStatus status;
    HRESULT hresult;
    const char* error;
  };
  const Case cases[] = {
      {"device says no", no_fault, kPhoneUtf8, "no", kNotPermitted,
       E_ACCESSDENIED, "Delete object failed (HRESULT 0x80070005)"},
      {"not implemented",
       [&] {
         sim_.SetObjectFault(kPhone, L"yes", Call::kDelete, {E_NOTIMPL, 0});
       },
       kPhoneUtf8, "yes", kNotPermitted, E_NOTIMPL,
       "Delete object failed (HRESULT 0x80004001)"},
      {"not supported",
       [&] {
         sim_.SetObjectFault(kPhone, L"yes", Call::kDelete, {kNotSupported, 0});
       },
       kPhoneUtf8, "yes", kNotPermitted, kNotSupported,
       "Delete object failed (HRESULT 0x80070032)"},
      {"device fails",
       [&] {
         sim_.SetObjectFault(kPhone, L"yes", Call::kDelete, {kGenFailure, 0});
       },
       kPhoneUtf8, "yes", kError, kGenFailure,
       "Delete object failed (HRESULT 0x8007001F)"},
      {"unknown object", no_fault, kPhoneUtf8, "gone", kError, kNotFound,
       "Delete object failed (HRESULT 0x80070490)"},
      // Failures before the deletion are told under the same step name and
      // classified by the same three codes.
      {"open refused", [&] { sim_.SetOpenResult(kPhone, E_ACCESSDENIED); },
       kPhoneUtf8, "yes", kNotPermitted, E_ACCESSDENIED,
       "Delete object failed (HRESULT 0x80070005)"},
      {"unknown device", no_fault, "no such device", "yes", kError,
       kFileNotFound, "Delete object failed (HRESULT 0x80070002)"},
      {"empty ids", no_fault, "", "", kError, kFileNotFound,
       "Delete object failed (HRESULT 0x80070002)"},
      {"no client values",
       [&] {
         sim_.SetProcessFault(Call::kCreateValues, {E_OUTOFMEMORY, 0});
       },
       kPhoneUtf8, "yes", kError, E_OUTOFMEMORY,
       "Delete object failed (HRESULT 0x8007000E)"},
      {"no content",
       [&] {
         sim_.SetDeviceFault(kPhone, Call::kContent, {E_NOTIMPL, 0});
       },
       kPhoneUtf8, "yes", kNotPermitted, E_NOTIMPL,
       "Delete object failed (HRESULT 0x80004001)"},
      {"no collection",
       [&] {
         sim_.SetProcessFault(Call::kCreatePropVariantCollection,
                              {E_OUTOFMEMORY, 0});
       },
       kPhoneUtf8, "yes", kError, E_OUTOFMEMORY,
       "Delete object failed (HRESULT 0x8007000E)"},
      // Cut at the NUL this would delete "yes".
      {"embedded NUL", no_fault, kPhoneUtf8, std::string("yes\0x", 5), kError,
       E_INVALIDARG, "Delete object failed (HRESULT 0x80070057)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    const uint64_t deletes = sim_.Calls(Call::kDelete);
    ObjectOpResult result = Delete(c.device, c.object);
    const bool reached_delete = sim_.Calls(Call::kDelete) != deletes;
    sim_.ClearFaults();
    sim_.SetOpenResult(kPhone, S_OK);
    EXPECT_EQ(Describe(result), Describe(c.status, 0, c.hresult, c.error));
    EXPECT_TRUE(Has(L"yes"));
    if (std::string(c.what) == "embedded NUL") {
      EXPECT_FALSE(reached_delete);
    }
    EXPECT_EQ(sim_.LiveObjects(), 0) << sim_.LiveObjectsText();
    EXPECT_EQ(sim_.OpenWithoutClose(), 0);
  }
}

TEST_F(ObjectDeletionTest, WorkerThatCannotJoinComGetsNoAnswer) {
  if (!sim_.SetProcessFault(Call::kCoInitializeEx, {E_OUTOFMEMORY, 0})) {
    GTEST_SKIP() << "CoInitializeEx cannot be made to fail on this platform";
  }
  EXPECT_EQ(CanDelete(kPhoneUtf8, "yes"), -1);
  EXPECT_EQ(Describe(Delete(kPhoneUtf8, "yes")),
            Describe(kError, 0, S_OK, "COM initialisation failed"));
  sim_.ClearFaults();
  EXPECT_TRUE(Has(L"yes"));
  EXPECT_EQ(sim_.Calls(Call::kOpen), 0u);
}

// Some deletes are answered as done and do nothing, and a Delete answered
// S_FALSE may or may not have deleted: the object is read again, and only
// its absence is "ok".
TEST(ObjectDeletionCheckTest, ADeleteAnsweredDoneIsCheckedByReadingAgain) {
  const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
  const HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
  const HRESULT kGone = static_cast<HRESULT>(0x8007048F);
  const std::string kStillThere =
      "Delete object failed: the object is still on the device";
  using wpd_sim::Fault;
  struct Case {
    const char* what;
    HRESULT answer;     // what the device's Delete answers
    bool keeps_object;  // and whether it leaves the object in place
    Call faulted;       // a device fault on the check's calls, if any
    Fault fault;
    std::string outcome;
  };
  const Call kNone = Call::kOpen;  // never faulted here
  const Case cases[] = {
      {"answered done, did nothing",
       S_OK,
       true,
       kNone,
       {},
       Describe(kError, 0, E_FAIL, kStillThere)},
      {"answered S_FALSE, did nothing",
       S_FALSE,
       true,
       kNone,
       {},
       Describe(kError, 0, E_FAIL, kStillThere)},
      {"answered S_FALSE, did it",
       S_FALSE,
       false,
       kNone,
       {},
       Describe(kOk, 0, S_FALSE, "")},
      {"the read says file not found",
       S_OK,
       false,
       Call::kGetValues,
       {kFileNotFound, 0},
       Describe(kOk, 0, S_OK, "")},
      {"the read fails otherwise",
       S_OK,
       false,
       Call::kGetValues,
       {kGenFailure, 0},
       Describe(kError, 0, kGenFailure,
                "Delete object could not be confirmed (HRESULT 0x8007001F)")},
      {"no properties to read with",
       S_FALSE,
       false,
       Call::kProperties,
       {E_FAIL, 0},
       Describe(kError, 0, E_FAIL,
                "Delete object could not be confirmed (HRESULT 0x80004005)")},
      {"the phone goes before the check", S_OK, true, Call::kGetValues,
       Fault::Unplug(0),
       Describe(kError, 0, kGone,
                "Delete object could not be confirmed (HRESULT 0x8007048F)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture fixture = PhoneFixture();
    for (wpd_sim::ObjectSpec& object : fixture.devices[0].objects) {
      if (object.id == L"yes") object.DeleteAnswer(c.answer, c.keeps_object);
    }
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    if (c.faulted != kNone) sim.SetDeviceFault(kPhone, c.faulted, c.fault);
    EXPECT_EQ(Describe(Delete(kPhoneUtf8, "yes")), c.outcome);
    if (sim.IsPlugged(kPhone)) {
      EXPECT_EQ(sim.HasObject(kPhone, L"yes"), c.keeps_object);
    }
    EXPECT_EQ(sim.Calls(Call::kDelete), 1u);
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
    EXPECT_EQ(sim.OpenWithoutClose(), 0);
  }
}

}  // namespace
}  // namespace snapferry
