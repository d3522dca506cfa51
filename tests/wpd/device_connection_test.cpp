#include "wpd/device_connection.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <limits>
#include <string>
#include <thread>

#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_test_util.h"
#include "wpd/com_apartment_guard.h"

namespace snapferry {
namespace {

TEST(FormatHresultFailureTest, WritesStepAndEightUpperCaseHexDigits) {
  EXPECT_EQ(FormatHresultFailure("Open device", E_ACCESSDENIED),
            "Open device failed (HRESULT 0x80070005)");
  EXPECT_EQ(FormatHresultFailure("Read from device", HRESULT_FROM_WIN32(31)),
            "Read from device failed (HRESULT 0x8007001F)");
  EXPECT_EQ(FormatHresultFailure("Delete object", S_FALSE),
            "Delete object failed (HRESULT 0x00000001)");
}

TEST(FormatHresultFailureTest, TruncatesToNinetyFiveBytes) {
  std::string long_step(200, 'x');
  EXPECT_EQ(FormatHresultFailure(long_step.c_str(), E_FAIL),
            std::string(95, 'x'));
}

TEST(TextConversionTest, EmptyStaysEmpty) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(TextConversionTest, RoundTripsAstralCharactersAsSurrogatePairs) {
  const std::string utf8 = "IMG_\xF0\x9F\x93\xB7_\xC3\xA9t\xC3\xA9.HEIC";
  std::wstring wide = Utf8ToWide(utf8);
  ASSERT_EQ(wide.size(), 4u + 2u + 1u + 3u + 5u);
  EXPECT_EQ(static_cast<unsigned>(wide[4]), 0xD83Du);
  EXPECT_EQ(static_cast<unsigned>(wide[5]), 0xDCF7u);
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextConversionTest, ConvertsEmbeddedNulUnits) {
  const std::string utf8("a\0b", 3);
  std::wstring wide = Utf8ToWide(utf8);
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[1], L'\0');
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextConversionTest, ReplacesInvalidInputInsteadOfFailing) {
  // A lone continuation byte and an unpaired surrogate each become U+FFFD.
  std::wstring wide = Utf8ToWide("a\x80z");
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(static_cast<unsigned>(wide[1]), 0xFFFDu);
  std::wstring lone_surrogate = L"a?z";
  lone_surrogate[1] = static_cast<wchar_t>(0xD800);
  EXPECT_EQ(WideToUtf8(lone_surrogate), "a\xEF\xBF\xBDz");
}

TEST(LowerCaseUnitsTest, FoldsOnlyAsciiLetters) {
  std::wstring fullwidth = L"DCIM";
  fullwidth[0] = static_cast<wchar_t>(0xFF24);  // FULLWIDTH LATIN CAPITAL D
  std::wstring lowered = LowerCaseUnits(fullwidth);
  EXPECT_EQ(static_cast<unsigned>(lowered[0]), 0xFF24u);
  EXPECT_EQ(lowered.substr(1), L"cim");
  EXPECT_EQ(LowerCaseUnits(L"DcIm 100APPLE"), L"dcim 100apple");
}

TEST(ComApartmentGuardTest, JoinsAndLeavesTheMultithreadedApartment) {
  std::thread([] {
    {
      ComApartmentGuard guard;
      EXPECT_TRUE(guard.usable());
      EXPECT_EQ(guard.result(), S_OK);
      // Inside, the thread is in the MTA.
      HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      EXPECT_EQ(again, RPC_E_CHANGED_MODE);
    }
    // Left again: the thread can now join a single-threaded apartment.
    HRESULT after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(after, S_OK);
    if (SUCCEEDED(after)) CoUninitialize();
  }).join();
}

TEST(ComApartmentGuardTest, KeepsAnExistingSingleThreadedApartment) {
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      ComApartmentGuard guard;
      EXPECT_TRUE(guard.usable());
      EXPECT_EQ(guard.result(), RPC_E_CHANGED_MODE);
    }
    // The guard must not have left the apartment it did not join: the thread
    // is still single-threaded, so a multithreaded join is still refused.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED),
              RPC_E_CHANGED_MODE);
    CoUninitialize();
  }).join();
}

using testing_util::kAccessDenied;
using testing_util::kOutOfMemory;
using wpd_sim::Call;
using wpd_sim::ClientInfo;
using wpd_sim::Fault;
using wpd_sim::Fixture;
using wpd_sim::ObjectKind;
using wpd_sim::Simulator;

const std::wstring kPhone = L"\\\\?\\usb#vid_05ac&pid_12a8#00008110#{6ac27878}";
const std::string kPhoneUtf8 =
    "\\\\?\\usb#vid_05ac&pid_12a8#00008110#{6ac27878}";

Fixture OnePhone() {
  Fixture fixture;
  fixture.AddDevice(kPhone).FriendlyName(L"iPhone");
  return fixture;
}

// Runs `body` inside a ComApartmentGuard on a fresh worker thread.
template <class F>
void InApartment(F body) {
  std::thread([&] {
    ComApartmentGuard apartment;
    ASSERT_TRUE(apartment.usable());
    body();
  }).join();
}

TEST(OpenDeviceTest, OpensWithTheClientIdentityInItsOrder) {
  Simulator sim(OnePhone());
  ASSERT_TRUE(sim.ok()) << sim.error();
  InApartment([&] {
    ComPtr<IPortableDevice> device;
    ASSERT_EQ(OpenDevice(kPhoneUtf8, GENERIC_READ | GENERIC_WRITE, device),
              S_OK);
    EXPECT_EQ(sim.OpenSessions(kPhone), 1);
    // The client information was released once the device was open.
    EXPECT_EQ(sim.LiveObjects(ObjectKind::kValues), 0);
    device->Close();
  });
  std::optional<ClientInfo> client = sim.LastClientInfo(kPhone);
  ASSERT_TRUE(client.has_value());
  ASSERT_EQ(client->keys.size(), 6u);
  const PROPERTYKEY order[] = {
      WPD_CLIENT_NAME,           WPD_CLIENT_MAJOR_VERSION,
      WPD_CLIENT_MINOR_VERSION,  WPD_CLIENT_REVISION,
      WPD_CLIENT_DESIRED_ACCESS, WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_TRUE(IsEqualGUID(client->keys[i].fmtid, order[i].fmtid));
    EXPECT_EQ(client->keys[i].pid, order[i].pid) << i;
  }
  EXPECT_EQ(client->name, L"Snapferry");
  EXPECT_EQ(client->major_version, 0u);
  EXPECT_EQ(client->minor_version, 2u);
  EXPECT_EQ(client->revision, 0u);
  EXPECT_EQ(client->desired_access, 0xC0000000u);
  EXPECT_EQ(client->security_quality_of_service, 0u);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

TEST(OpenDeviceTest, AFailedOpenLeavesTheUnopenedDeviceToTheCaller) {
  Simulator sim(OnePhone());
  ASSERT_TRUE(sim.ok()) << sim.error();
  ASSERT_TRUE(sim.SetOpenResult(kPhone, kAccessDenied));
  InApartment([&] {
    ComPtr<IPortableDevice> device;
    EXPECT_EQ(OpenDevice(kPhoneUtf8, GENERIC_READ, device), kAccessDenied);
    EXPECT_TRUE(device);
    EXPECT_EQ(sim.LiveObjects(), 1) << sim.LiveObjectsText();
    // An empty id reaches Open as an empty text and fails there too; the
    // object the reference held before is released first.
    HRESULT empty = OpenDevice("", GENERIC_READ, device);
    EXPECT_TRUE(FAILED(empty));
    EXPECT_TRUE(device);
    EXPECT_EQ(sim.LiveObjects(ObjectKind::kDevice), 1);
  });
  EXPECT_EQ(sim.Calls(Call::kOpen), 2u);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

TEST(OpenDeviceTest, ReturnsTheFirstFailingCreation) {
  for (Call call : {Call::kCreateValues, Call::kCreateDevice}) {
    Simulator sim(OnePhone());
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(sim.SetProcessFault(call, Fault{kOutOfMemory, 0}));
    InApartment([&] {
      ComPtr<IPortableDevice> device;
      EXPECT_EQ(OpenDevice(kPhoneUtf8, GENERIC_READ, device), kOutOfMemory);
      EXPECT_FALSE(device);
    });
    EXPECT_EQ(sim.Calls(Call::kCreateDevice),
              call == Call::kCreateValues ? 0u : 1u);
    EXPECT_EQ(sim.Calls(Call::kOpen), 0u);
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  }
}

// A property set of the simulated components, filled by `fill`.
template <class Fill, class Check>
void WithValues(Fill fill, Check check) {
  InApartment([&] {
    ComPtr<IPortableDeviceValues> values;
    ASSERT_EQ(CoCreateInstance(CLSID_PortableDeviceValues, nullptr,
                               CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                               values.PutVoid()),
              S_OK);
    fill(values.get());
    check(values.get());
  });
}

void SetDate(IPortableDeviceValues* values, const PROPERTYKEY& key,
             double date) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_DATE;
  value.date = date;
  values->SetValue(key, &value);
}

TEST(ReadStringValueTest, GivesTheStringOrNothing) {
  Simulator sim(Fixture{});
  ASSERT_TRUE(sim.ok()) << sim.error();
  WithValues(
      [](IPortableDeviceValues* values) {
        values->SetStringValue(WPD_OBJECT_NAME, L"IMG_0001.HEIC");
        values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, L"");
        values->SetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, 5);
      },
      [](IPortableDeviceValues* values) {
        EXPECT_EQ(ReadStringValue(values, WPD_OBJECT_NAME), L"IMG_0001.HEIC");
        EXPECT_EQ(ReadStringValue(values, WPD_OBJECT_ORIGINAL_FILE_NAME), L"");
        EXPECT_EQ(ReadStringValue(values, WPD_OBJECT_SIZE), L"");  // a number
        EXPECT_EQ(ReadStringValue(values, WPD_OBJECT_DATE_CREATED), L"");
      });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(FormatPropertyDateTest, WritesTheDevicesClockTimeWithFixedWidths) {
  Simulator sim(Fixture{});
  ASSERT_TRUE(sim.ok()) << sim.error();
  WithValues(
      [](IPortableDeviceValues* values) {
        SetDate(values, WPD_OBJECT_DATE_CREATED,
                wpd_sim::ToOleDate(1999, 12, 31, 23, 59, 59));
        SetDate(values, WPD_OBJECT_DATE_MODIFIED,
                wpd_sim::ToOleDate(2023, 7, 14, 9, 5, 3));
        // Before 1899-12-30 the day counts down but the time of day still
        // counts up: -1.25 is 1899-12-29 06:00.
        SetDate(values, WPD_OBJECT_CAN_DELETE,
                wpd_sim::ToOleDate(100, 1, 2, 0, 0, 0) -
                    (3 * 3600 + 4 * 60 + 5) / 86400.0);
      },
      [](IPortableDeviceValues* values) {
        EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_DATE_CREATED),
                  "1999-12-31T23:59:59");
        EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_DATE_MODIFIED),
                  "2023-07-14T09:05:03");
        EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_CAN_DELETE),
                  "0100-01-02T03:04:05");
      });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(FormatPropertyDateTest, IsEmptyForAnythingButAConvertibleDate) {
  Simulator sim(Fixture{});
  ASSERT_TRUE(sim.ok()) << sim.error();
  WithValues(
      [](IPortableDeviceValues* values) {
        values->SetStringValue(WPD_OBJECT_DATE_CREATED, L"2023-07-14T09:05:03");
        values->SetUnsignedLargeIntegerValue(WPD_OBJECT_DATE_MODIFIED, 45121);
        // Far beyond the year 9999, which the system cannot convert.
        SetDate(values, WPD_OBJECT_CAN_DELETE, 1.0e9);
      },
      [](IPortableDeviceValues* values) {
        EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_DATE_CREATED), "");
        EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_DATE_MODIFIED), "");
        EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_CAN_DELETE), "");
        EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_NAME), "");  // missing
      });
  // The string read through GetValue was cleared again: nothing leaks under
  // the sanitizers either.
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

// The text of dates at the edges of what the converter takes: zero padding,
// times before 1970 and before 1899, fractions of a second (rounded to the
// nearest, half going up, carrying into the minute, the day and the year),
// the first and last convertible days, and values that are no date at all.
TEST(FormatPropertyDateTest, OddDatesKeepTheirText) {
  constexpr double kSecond = 1.0 / 86400.0;
  struct Case {
    double date;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "1899-12-30T00:00:00"},
      {-1.25, "1899-12-29T06:00:00"},
      {-2.75, "1899-12-28T18:00:00"},
      {25568.0 + 86399 * kSecond, "1969-12-31T23:59:59"},
      {36585.0, "2000-02-29T00:00:00"},
      {45000.0 + 10.4 * kSecond, "2023-03-15T00:00:10"},
      {45000.0 + 10.5 * kSecond, "2023-03-15T00:00:11"},
      {45000.0 + 59.7 * kSecond, "2023-03-15T00:01:00"},
      {36525.0 + 86399.7 * kSecond, "2000-01-01T00:00:00"},
      {-1.0 - 86399.7 * kSecond, "1899-12-30T00:00:00"},
      {-657434.0, "0100-01-01T00:00:00"},
      {-657434.5, "0100-01-01T12:00:00"},
      {2958465.0 + 86398.0 * kSecond, "9999-12-31T23:59:58"},
      // Rounding carries the last day into a year of five digits.
      {2958465.0 + 86399.7 * kSecond, ""},
      {2958466.0, ""},
      {-657435.0, ""},
      {std::numeric_limits<double>::infinity(), ""},
      // NaN is left out: what the system converter makes of it is not
      // documented, and Wine's answer differs from the stand-in's.
  };
  Simulator sim(Fixture{});
  ASSERT_TRUE(sim.ok()) << sim.error();
  for (const Case& c : cases) {
    WithValues(
        [&](IPortableDeviceValues* values) {
          SetDate(values, WPD_OBJECT_DATE_CREATED, c.date);
        },
        [&](IPortableDeviceValues* values) {
          EXPECT_EQ(FormatPropertyDate(values, WPD_OBJECT_DATE_CREATED), c.text)
              << "date " << c.date;
        });
  }
}

}  // namespace
}  // namespace snapferry
