// The simulated devices driven through the WPD interfaces exactly as a WPD
// client drives them, on the Linux stand-in and on Windows (under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "tests/platform/wpd/wpd_test_util.h"

namespace {

using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::DateProperty;
using wpd_sim::Fault;
using wpd_sim::Fixture;
using wpd_sim::Simulator;
using wpd_test::Create;
using wpd_test::InMta;
using wpd_test::OpenDevice;
using wpd_test::Ref;
using wpd_test::Take;

constexpr DWORD kRead = 0x80000000;       // GENERIC_READ
constexpr DWORD kReadWrite = 0xC0000000;  // GENERIC_READ | GENERIC_WRITE
const HRESULT kNotFound = static_cast<HRESULT>(0x80070490);
const HRESULT kTypeMismatch = static_cast<HRESULT>(0x80020005);
const HRESULT kInvalidData = static_cast<HRESULT>(0x8007000D);
const HRESULT kInsufficientBuffer = static_cast<HRESULT>(0x8007007A);
const HRESULT kDirNotEmpty = static_cast<HRESULT>(0x80070091);
const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

const std::wstring kPhone =
    L"\\\\?\\usb#vid_05ac&pid_12a8#0001#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";

Fixture PhoneFixture() {
  Fixture fixture;
  auto& phone = fixture.AddDevice(kPhone)
                    .FriendlyName(L"Anna's phone")
                    .Manufacturer(L"Apple Inc.")
                    .Description(L"Apple iPhone");
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"d1", L"s1", L"DCIM");
  phone
      .AddPatternFile(L"f1", L"d1", L"IMG_0001.HEIC", ContentType::kImage,
                      300000)
      .Created(DateProperty::At(2023, 7, 14, 9, 5, 3))
      .Modified(DateProperty::At(2023, 7, 15, 10, 0, 0))
      .CanDelete(true);
  phone
      .AddFile(L"f2", L"d1", L"IMG_0002.MOV", ContentType::kVideo,
               std::string(1000, 'm'))
      .CanDelete(true);
  return fixture;
}

std::string Pattern(uint64_t offset, size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>((offset + i) % 251);
  }
  return bytes;
}

// What a client walk saw, and the first call that failed.
struct Walk {
  std::string failed;
  HRESULT hr = S_OK;
  std::vector<std::wstring> ids;
  std::vector<std::wstring> texts;  // friendly name, manufacturer, description
  std::vector<std::wstring> names;
  std::string data;
};

// Records the first failure; a walk goes on past failures of one object.
bool Failed(Walk* walk, const char* call, HRESULT hr) {
  if (SUCCEEDED(hr)) return false;
  if (walk->failed.empty()) {
    walk->failed = call;
    walk->hr = hr;
  }
  return true;
}

HRESULT ReadText(IPortableDeviceManager* manager, int which,
                 const std::wstring& id, std::wstring* text) {
  auto query = [&](WCHAR* buffer, DWORD* length) {
    switch (which) {
      case 0:
        return manager->GetDeviceFriendlyName(id.c_str(), buffer, length);
      case 1:
        return manager->GetDeviceManufacturer(id.c_str(), buffer, length);
      default:
        return manager->GetDeviceDescription(id.c_str(), buffer, length);
    }
  };
  DWORD length = 0;
  HRESULT hr = query(nullptr, &length);
  if (FAILED(hr)) return hr;
  std::wstring buffer(length, L'\0');
  hr = query(&buffer[0], &length);
  if (SUCCEEDED(hr)) *text = buffer.c_str();
  return hr;
}

// Lists the devices, reads their texts, opens kPhone with client
// information, walks its tree with a key collection reading every property
// the device layer reads, streams `file`, deletes `doomed` and closes.
Walk WalkAsClient(const std::wstring& file, const std::wstring& doomed) {
  Walk walk;
  Ref<IPortableDeviceManager> manager;
  if (Failed(&walk, "CreateManager",
             Create(CLSID_PortableDeviceManager, IID_IPortableDeviceManager,
                    &manager))) {
    return walk;
  }
  manager->RefreshDeviceList();
  DWORD count = 0;
  if (Failed(&walk, "GetDevices", manager->GetDevices(nullptr, &count))) {
    return walk;
  }
  std::vector<LPWSTR> ids(count, nullptr);
  HRESULT hr = manager->GetDevices(ids.data(), &count);
  for (DWORD i = 0; i < count && SUCCEEDED(hr); ++i) {
    walk.ids.push_back(Take(ids[i]));
  }
  if (Failed(&walk, "GetDevices", hr)) return walk;
  const char* text_calls[] = {"GetDeviceFriendlyName", "GetDeviceManufacturer",
                              "GetDeviceDescription"};
  for (int which = 0; which < 3; ++which) {
    std::wstring text;
    if (Failed(&walk, text_calls[which],
               ReadText(manager.get(), which, kPhone, &text))) {
      return walk;
    }
    walk.texts.push_back(text);
  }

  Ref<IPortableDeviceValues> client;
  if (Failed(&walk, "CreateValues",
             wpd_test::MakeClientInfo(kReadWrite, &client))) {
    return walk;
  }
  Ref<IPortableDevice> device;
  if (Failed(&walk, "CreateDevice",
             Create(CLSID_PortableDeviceFTM, IID_IPortableDevice, &device))) {
    return walk;
  }
  if (Failed(&walk, "Open", device->Open(kPhone.c_str(), client.get()))) {
    return walk;
  }
  // From here on the device is closed on every path.
  struct Closer {
    IPortableDevice* device;
    ~Closer() { device->Close(); }
  } closer{device.get()};

  Ref<IPortableDeviceContent> content;
  Ref<IPortableDeviceProperties> properties;
  Ref<IPortableDeviceKeyCollection> keys;
  if (Failed(&walk, "Content", device->Content(content.Out())) ||
      Failed(&walk, "Properties", content->Properties(properties.Out())) ||
      Failed(&walk, "CreateKeyCollection",
             Create(CLSID_PortableDeviceKeyCollection,
                    IID_IPortableDeviceKeyCollection, &keys))) {
    return walk;
  }
  for (const PROPERTYKEY* key :
       {&WPD_OBJECT_NAME, &WPD_OBJECT_ORIGINAL_FILE_NAME,
        &WPD_OBJECT_CONTENT_TYPE, &WPD_OBJECT_SIZE, &WPD_OBJECT_DATE_CREATED,
        &WPD_OBJECT_CAN_DELETE}) {
    keys->Add(*key);
  }

  std::vector<std::wstring> pending{WPD_DEVICE_OBJECT_ID};
  while (!pending.empty()) {
    std::wstring parent = pending.back();
    pending.pop_back();
    Ref<IEnumPortableDeviceObjectIDs> children;
    if (Failed(
            &walk, "EnumObjects",
            content->EnumObjects(0, parent.c_str(), nullptr, children.Out()))) {
      return walk;
    }
    LPWSTR batch[64] = {};
    ULONG fetched = 0;
    while (true) {
      hr = children->Next(64, batch, &fetched);
      if (Failed(&walk, "Next", hr) || fetched == 0) break;
      for (ULONG i = 0; i < fetched; ++i) {
        std::wstring id = Take(std::exchange(batch[i], nullptr));
        Ref<IPortableDeviceValues> values;
        if (Failed(
                &walk, "GetValues",
                properties->GetValues(id.c_str(), keys.get(), values.Out()))) {
          continue;
        }
        GUID type = GUID_NULL;
        LPWSTR name = nullptr;
        if (Failed(&walk, "GetGuidValue",
                   values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type)) ||
            Failed(&walk, "GetStringValue",
                   values->GetStringValue(WPD_OBJECT_NAME, &name))) {
          continue;
        }
        walk.names.push_back(Take(name));
        if (IsEqualGUID(type, WPD_CONTENT_TYPE_FOLDER) ||
            IsEqualGUID(type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT)) {
          pending.push_back(id);
          continue;
        }
        ULONGLONG size = 0;
        BOOL can_delete = FALSE;
        PROPVARIANT date;
        PropVariantInit(&date);
        Failed(&walk, "GetUnsignedLargeIntegerValue",
               values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size));
        Failed(&walk, "GetBoolValue",
               values->GetBoolValue(WPD_OBJECT_CAN_DELETE, &can_delete));
        Failed(&walk, "GetValue",
               values->GetValue(WPD_OBJECT_DATE_CREATED, &date));
        PropVariantClear(&date);
      }
      if (hr != S_OK) break;
    }
    for (LPWSTR& id : batch) CoTaskMemFree(std::exchange(id, nullptr));
  }
  if (!walk.failed.empty()) return walk;

  Ref<IPortableDeviceResources> resources;
  Ref<IStream> stream;
  DWORD optimal = 0;
  if (Failed(&walk, "Transfer", content->Transfer(resources.Out())) ||
      Failed(&walk, "GetStream",
             resources->GetStream(file.c_str(), WPD_RESOURCE_DEFAULT, STGM_READ,
                                  &optimal, stream.Out()))) {
    return walk;
  }
  std::string buffer(optimal, '\0');
  while (true) {
    ULONG read = 0;
    hr = stream->Read(&buffer[0], static_cast<ULONG>(buffer.size()), &read);
    if (Failed(&walk, "Read", hr)) return walk;
    if (read == 0) break;
    walk.data.append(buffer, 0, read);
  }

  Ref<IPortableDevicePropVariantCollection> doomed_ids;
  if (Failed(&walk, "CreatePropVariantCollection",
             Create(CLSID_PortableDevicePropVariantCollection,
                    IID_IPortableDevicePropVariantCollection, &doomed_ids))) {
    return walk;
  }
  PROPVARIANT id;
  PropVariantInit(&id);
  id.vt = VT_LPWSTR;
  id.pwszVal = const_cast<LPWSTR>(doomed.c_str());
  doomed_ids->Add(&id);  // the collection keeps its own copy
  Failed(&walk, "Delete",
         content->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, doomed_ids.get(),
                         nullptr));
  return walk;
}

TEST(WpdSimulatorClient, WalkListsOpensEnumeratesStreamsDeletesAndReleasesAll) {
  Simulator sim(PhoneFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  Walk walk;
  InMta([&] { walk = WalkAsClient(L"f1", L"f2"); });

  EXPECT_EQ(walk.failed, "") << std::hex << walk.hr;
  EXPECT_EQ(walk.ids, std::vector<std::wstring>{kPhone});
  EXPECT_EQ(walk.texts, (std::vector<std::wstring>{
                            L"Anna's phone", L"Apple Inc.", L"Apple iPhone"}));
  EXPECT_EQ(walk.names,
            (std::vector<std::wstring>{L"Internal Storage", L"DCIM",
                                       L"IMG_0001.HEIC", L"IMG_0002.MOV"}));
  EXPECT_EQ(walk.data, Pattern(0, 300000));
  EXPECT_FALSE(sim.HasObject(kPhone, L"f2"));
  EXPECT_TRUE(sim.HasObject(kPhone, L"f1"));
  EXPECT_EQ(sim.Children(kPhone, L"d1"), std::vector<std::wstring>{L"f1"});

  std::optional<wpd_sim::ClientInfo> client = sim.LastClientInfo(kPhone);
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(client->name, std::wstring(L"Snapferry"));
  EXPECT_EQ(client->minor_version, 2u);
  EXPECT_EQ(client->desired_access, kReadWrite);
  ASSERT_EQ(client->keys.size(), 6u);
  EXPECT_TRUE(IsEqualPropertyKey(client->keys[4], WPD_CLIENT_DESIRED_ACCESS));

  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
  EXPECT_EQ(sim.OpenSessions(kPhone), 0);
}

TEST(WpdSimulatorClient, EveryCallFailsWithTheInjectedHresult) {
  for (int i = 0; i < wpd_sim::kCallCount; ++i) {
    Call call = static_cast<Call>(i);
    if (call == Call::kCoInitializeEx) continue;  // the COM runtime's
    // Not made by this walk: bulk_properties_test.cpp fails them.
    if (call == Call::kCreateValuesCollection ||
        call == Call::kQueueGetValuesByObjectList || call == Call::kStart ||
        call == Call::kBulkValues) {
      continue;
    }
    SCOPED_TRACE(wpd_sim::CallName(call));
    Simulator sim(PhoneFixture());
    ASSERT_TRUE(sim.ok()) << sim.error();
    const auto hr = static_cast<HRESULT>(0x80040200 + i);
    bool set = wpd_sim::ScopeOf(call) == wpd_sim::CallScope::kProcess
                   ? sim.SetProcessFault(call, Fault{hr, 0})
                   : sim.SetDeviceFault(kPhone, call, Fault{hr, 0});
    ASSERT_TRUE(set);
    Walk walk;
    InMta([&] { walk = WalkAsClient(L"f1", L"f2"); });
    EXPECT_EQ(walk.failed, wpd_sim::CallName(call));
    EXPECT_EQ(walk.hr, hr);
    EXPECT_GE(sim.Calls(call), 1u);
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
    EXPECT_EQ(sim.OpenWithoutClose(), 0);
  }
}

TEST(WpdSimulatorClient, ObjectFaultsHitOnlyThatObjectAndCountUnitsFirst) {
  Fixture fixture = PhoneFixture();
  fixture.devices[0].objects[2].Fail(Call::kRead, E_ABORT, 70000);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    // Exactly the bytes before the fault come through.
    Walk walk = WalkAsClient(L"f1", L"f2");
    EXPECT_EQ(walk.failed, "Read");
    EXPECT_EQ(walk.hr, E_ABORT);
    EXPECT_EQ(walk.data, Pattern(0, 70000));
  });
  sim.ClearFaults();
  ASSERT_TRUE(sim.SetObjectFault(kPhone, L"f1", Call::kGetValues,
                                 Fault{E_ACCESSDENIED, 0}));
  InMta([&] {
    // f1's properties fail; the walk reads the others.
    Walk walk = WalkAsClient(L"f1", L"f2");
    EXPECT_EQ(walk.failed, "GetValues");
    EXPECT_EQ(walk.hr, E_ACCESSDENIED);
    EXPECT_EQ(walk.names, (std::vector<std::wstring>{
                              L"Internal Storage", L"DCIM", L"IMG_0002.MOV"}));
  });
  // A call-counted fault lets the first calls through: GetDevices' count
  // query works and the fill fails.
  sim.ClearFaults();
  ASSERT_TRUE(sim.SetProcessFault(Call::kGetDevices, Fault{E_OUTOFMEMORY, 1}));
  uint64_t before = sim.Calls(Call::kGetDevices);
  InMta([&] {
    Walk walk = WalkAsClient(L"f1", L"f2");
    EXPECT_EQ(walk.failed, "GetDevices");
    EXPECT_EQ(walk.hr, E_OUTOFMEMORY);
  });
  EXPECT_EQ(sim.Calls(Call::kGetDevices) - before, 2u);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

// Random faults set through the control come after the fixture's own
// faults and end with ClearFaults.
TEST(WpdSimulatorClient, RandomFaultsYieldToFixtureFaultsAndEndWhenCleared) {
  Simulator sim(PhoneFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  const auto busy = static_cast<HRESULT>(0x800700AA);
  sim.SetRandomFaults({1, 5, {busy}});
  Walk walk;
  InMta([&] { walk = WalkAsClient(L"f1", L"f2"); });
  EXPECT_EQ(walk.failed, "GetDevices");  // the class creations never fail
  EXPECT_EQ(walk.hr, busy);
  ASSERT_TRUE(sim.SetProcessFault(Call::kGetDevices, Fault{E_OUTOFMEMORY, 0}));
  InMta([&] { walk = WalkAsClient(L"f1", L"f2"); });
  EXPECT_EQ(walk.hr, E_OUTOFMEMORY);
  EXPECT_EQ(sim.RandomFaultsInjected(), 1u);
  sim.ClearFaults();
  InMta([&] { walk = WalkAsClient(L"f1", L"f2"); });
  EXPECT_EQ(walk.failed, "");
  EXPECT_EQ(sim.RandomFaultsInjected(), 1u);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, ManagerCountsThenFillsAndFailsAbsentTexts) {
  Fixture fixture;
  fixture.AddDevice(L"dev-a").FriendlyName(L"Camera");
  fixture.AddDevice(L"dev-b").FriendlyName(L"");
  fixture.AddDevice(L"dev-c");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDeviceManager> manager;
    ASSERT_EQ(Create(CLSID_PortableDeviceManager, IID_IPortableDeviceManager,
                     &manager),
              S_OK);
    DWORD count = 0;
    ASSERT_EQ(manager->GetDevices(nullptr, &count), S_OK);
    EXPECT_EQ(count, 3u);
    // Too small an array: S_FALSE with as many as fit.
    LPWSTR ids[3] = {};
    count = 2;
    EXPECT_EQ(manager->GetDevices(ids, &count), S_FALSE);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(Take(ids[0]), L"dev-a");
    EXPECT_EQ(Take(ids[1]), L"dev-b");
    EXPECT_EQ(ids[2], nullptr);
    EXPECT_EQ(manager->GetDevices(ids, nullptr), E_POINTER);

    // The length counts the terminator; a buffer one short is refused.
    DWORD length = 0;
    ASSERT_EQ(manager->GetDeviceFriendlyName(L"dev-a", nullptr, &length), S_OK);
    EXPECT_EQ(length, 7u);
    WCHAR text[7];
    length = 6;
    EXPECT_EQ(manager->GetDeviceFriendlyName(L"dev-a", text, &length),
              kInsufficientBuffer);
    length = 7;
    ASSERT_EQ(manager->GetDeviceFriendlyName(L"dev-a", text, &length), S_OK);
    EXPECT_EQ(std::wstring(text), L"Camera");
    length = 0;
    EXPECT_EQ(manager->GetDeviceFriendlyName(L"dev-b", nullptr, &length), S_OK);
    EXPECT_EQ(length, 1u);
    // An absent text fails; so does a device the manager does not list.
    EXPECT_EQ(manager->GetDeviceManufacturer(L"dev-a", nullptr, &length),
              kInvalidData);
    EXPECT_EQ(manager->GetDeviceDescription(L"dev-c", nullptr, &length),
              kInvalidData);
    EXPECT_EQ(manager->GetDeviceFriendlyName(L"dev-x", nullptr, &length),
              kNotFound);

    // The list is the one of the manager's creation until refreshed.
    sim.RemoveDevice(L"dev-c");
    ASSERT_EQ(manager->GetDevices(nullptr, &count), S_OK);
    EXPECT_EQ(count, 3u);
    manager->RefreshDeviceList();
    ASSERT_EQ(manager->GetDevices(nullptr, &count), S_OK);
    EXPECT_EQ(count, 2u);
  });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, NextGivesFullBatchesThenSFalseWithTheRest) {
  Fixture fixture;
  auto& device = fixture.AddDevice(L"dev");
  device.AddStorage(L"s", L"Storage");
  for (int i = 0; i < 130; ++i) {
    device.Add(L"o" + std::to_wstring(i), L"s", ContentType::kImage);
  }
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDevice> phone;
    ASSERT_EQ(OpenDevice(L"dev", kRead, &phone), S_OK);
    Ref<IPortableDeviceContent> content;
    ASSERT_EQ(phone->Content(content.Out()), S_OK);
    Ref<IEnumPortableDeviceObjectIDs> children;
    ASSERT_EQ(content->EnumObjects(0, L"s", nullptr, children.Out()), S_OK);
    LPWSTR batch[64] = {};
    ULONG fetched = 99;
    std::vector<std::pair<HRESULT, ULONG>> calls;
    std::vector<std::wstring> ids;
    do {
      HRESULT hr = children->Next(64, batch, &fetched);
      calls.emplace_back(hr, fetched);
      for (ULONG i = 0; i < fetched; ++i) ids.push_back(Take(batch[i]));
    } while (fetched > 0);
    EXPECT_EQ(calls, (std::vector<std::pair<HRESULT, ULONG>>{
                         {S_OK, 64}, {S_OK, 64}, {S_FALSE, 2}, {S_FALSE, 0}}));
    ASSERT_EQ(ids.size(), 130u);
    EXPECT_EQ(ids[0], L"o0");
    EXPECT_EQ(ids[129], L"o129");

    // The root is "DEVICE" or ""; an unknown parent fails.
    Ref<IEnumPortableDeviceObjectIDs> roots;
    ASSERT_EQ(content->EnumObjects(0, L"", nullptr, roots.Out()), S_OK);
    ASSERT_EQ(roots->Next(64, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(Take(batch[0]), L"s");
    EXPECT_EQ(content->EnumObjects(0, L"nope", nullptr, roots.Out()),
              kNotFound);

    // A Next fault counted in ids strikes once that many were given.
    ASSERT_TRUE(
        sim.SetObjectFault(L"dev", L"s", Call::kNext, Fault{E_UNEXPECTED, 64}));
    ASSERT_EQ(content->EnumObjects(0, L"s", nullptr, children.Out()), S_OK);
    EXPECT_EQ(children->Next(64, batch, &fetched), S_OK);
    for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(batch[i]);
    EXPECT_EQ(children->Next(64, batch, &fetched), E_UNEXPECTED);
    EXPECT_EQ(fetched, 0u);
    phone->Close();
  });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, PropertyReadsFailForMissingKeysAndWrongTypes) {
  Fixture fixture;
  auto& device = fixture.AddDevice(L"dev");
  device.Add(L"bare", L"DEVICE", ContentType::kNone);
  device.Add(L"odd", L"DEVICE", ContentType::kImage)
      .Name(L"odd.jpg")
      .Created(DateProperty::String(L"2023-07-14T09:05:03"))
      .Modified(DateProperty::Uint(1689325503))
      .CanDeleteValue(2);
  device.Add(L"good", L"DEVICE", ContentType::kImage)
      .Created(DateProperty::At(1999, 12, 31, 23, 59, 59))
      .CanDelete(true)
      .Size(5);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDevice> phone;
    ASSERT_EQ(OpenDevice(L"dev", kRead, &phone), S_OK);
    Ref<IPortableDeviceContent> content;
    Ref<IPortableDeviceProperties> properties;
    Ref<IPortableDeviceKeyCollection> keys;
    ASSERT_EQ(phone->Content(content.Out()), S_OK);
    ASSERT_EQ(content->Properties(properties.Out()), S_OK);
    ASSERT_EQ(Create(CLSID_PortableDeviceKeyCollection,
                     IID_IPortableDeviceKeyCollection, &keys),
              S_OK);
    for (const PROPERTYKEY* key :
         {&WPD_OBJECT_NAME, &WPD_OBJECT_CONTENT_TYPE, &WPD_OBJECT_SIZE,
          &WPD_OBJECT_DATE_CREATED, &WPD_OBJECT_DATE_MODIFIED,
          &WPD_OBJECT_CAN_DELETE}) {
      keys->Add(*key);
    }

    // Keys the object lacks are there as VT_ERROR, and GetValues says so.
    Ref<IPortableDeviceValues> values;
    ASSERT_EQ(properties->GetValues(L"bare", keys.get(), values.Out()),
              S_FALSE);
    DWORD count = 0;
    values->GetCount(&count);
    EXPECT_EQ(count, 6u);
    LPWSTR text = nullptr;
    GUID type;
    ULONGLONG size;
    BOOL flag;
    EXPECT_EQ(values->GetStringValue(WPD_OBJECT_NAME, &text), kNotFound);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type), kNotFound);
    EXPECT_EQ(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size),
              kNotFound);
    EXPECT_EQ(values->GetBoolValue(WPD_OBJECT_CAN_DELETE, &flag), kNotFound);
    // A key never asked for is simply absent.
    EXPECT_EQ(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &text),
              kNotFound);

    ASSERT_EQ(properties->GetValues(L"odd", keys.get(), values.Out()), S_FALSE);
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(values->GetValue(WPD_OBJECT_DATE_CREATED, &value), S_OK);
    EXPECT_EQ(value.vt, VT_LPWSTR);
    PropVariantClear(&value);
    ASSERT_EQ(values->GetValue(WPD_OBJECT_DATE_MODIFIED, &value), S_OK);
    EXPECT_EQ(value.vt, VT_UI8);
    PropVariantClear(&value);
    EXPECT_EQ(
        values->GetUnsignedLargeIntegerValue(WPD_OBJECT_DATE_CREATED, &size),
        kTypeMismatch);
    EXPECT_EQ(values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, &text),
              kTypeMismatch);
    ASSERT_EQ(values->GetBoolValue(WPD_OBJECT_CAN_DELETE, &flag), S_OK);
    EXPECT_EQ(flag, 2);  // the device's own non-zero value

    ASSERT_EQ(properties->GetValues(L"good", keys.get(), values.Out()),
              S_FALSE);
    ASSERT_EQ(values->GetValue(WPD_OBJECT_DATE_CREATED, &value), S_OK);
    ASSERT_EQ(value.vt, VT_DATE);
    SYSTEMTIME time;
    ASSERT_NE(VariantTimeToSystemTime(value.date, &time), 0);
    EXPECT_EQ(time.wYear, 1999);
    EXPECT_EQ(time.wMonth, 12);
    EXPECT_EQ(time.wDay, 31);
    EXPECT_EQ(time.wHour, 23);
    EXPECT_EQ(time.wMinute, 59);
    EXPECT_EQ(time.wSecond, 59);
    PropVariantClear(&value);
    ASSERT_EQ(values->GetBoolValue(WPD_OBJECT_CAN_DELETE, &flag), S_OK);
    EXPECT_NE(flag, 0);
    ASSERT_EQ(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size),
              S_OK);
    EXPECT_EQ(size, 5u);

    // All properties when no keys are given; an unknown object fails.
    ASSERT_EQ(properties->GetValues(L"good", nullptr, values.Out()), S_OK);
    ASSERT_EQ(values->GetStringValue(WPD_OBJECT_PARENT_ID, &text), S_OK);
    EXPECT_EQ(Take(text), L"DEVICE");
    EXPECT_EQ(properties->GetValues(L"gone", keys.get(), values.Out()),
              kNotFound);
    EXPECT_FALSE(values);
    phone->Close();
  });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, StreamsEndWithZeroBytesAndGenerateLargeObjectsLazily) {
  Fixture fixture;
  auto& device = fixture.AddDevice(L"dev").OptimalTransferSize(4096);
  device.Add(L"empty", L"DEVICE", ContentType::kImage);
  device.Add(L"huge", L"DEVICE", ContentType::kVideo).Pattern(1ull << 30);
  device.AddFolder(L"folder", L"DEVICE", L"DCIM");
  device.AddFile(L"text", L"DEVICE", L"a.txt", ContentType::kGeneric, "hello");
  device.max_read_size = 3;
  device.short_read_is_s_false = true;
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDevice> phone;
    ASSERT_EQ(OpenDevice(L"dev", kRead, &phone), S_OK);
    Ref<IPortableDeviceContent> content;
    Ref<IPortableDeviceResources> resources;
    ASSERT_EQ(phone->Content(content.Out()), S_OK);
    ASSERT_EQ(content->Transfer(resources.Out()), S_OK);
    Ref<IStream> stream;
    DWORD optimal = 0;
    ASSERT_EQ(resources->GetStream(L"empty", WPD_RESOURCE_DEFAULT, STGM_READ,
                                   &optimal, stream.Out()),
              S_OK);
    EXPECT_EQ(optimal, 4096u);
    char buffer[16];
    ULONG read = 99;
    EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &read), S_FALSE);
    EXPECT_EQ(read, 0u);

    // Pieces of at most max_read_size, S_FALSE when short, 0 at the end.
    ASSERT_EQ(resources->GetStream(L"text", WPD_RESOURCE_DEFAULT, STGM_READ,
                                   nullptr, stream.Out()),
              S_OK);
    std::string text;
    HRESULT hr;
    do {
      hr = stream->Read(buffer, sizeof(buffer), &read);
      text.append(buffer, read);
    } while (SUCCEEDED(hr) && read > 0);
    EXPECT_EQ(text, "hello");

    // A 1 GiB object: seek near its end and read the generated pattern.
    ASSERT_EQ(resources->GetStream(L"huge", WPD_RESOURCE_DEFAULT, STGM_READ,
                                   nullptr, stream.Out()),
              S_OK);
    STATSTG stat;
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 1ull << 30);
    LARGE_INTEGER offset;
    offset.QuadPart = (1ll << 30) - 2;
    ASSERT_EQ(stream->Seek(offset, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &read), S_FALSE);
    ASSERT_EQ(read, 2u);
    EXPECT_EQ(std::string(buffer, 2), Pattern((1ull << 30) - 2, 2));

    // A folder has no data; only the default resource exists.
    EXPECT_EQ(resources->GetStream(L"folder", WPD_RESOURCE_DEFAULT, STGM_READ,
                                   nullptr, stream.Out()),
              static_cast<HRESULT>(0x80070032));
    EXPECT_FALSE(stream);
    EXPECT_EQ(resources->GetStream(L"text", WPD_OBJECT_NAME, STGM_READ, nullptr,
                                   stream.Out()),
              static_cast<HRESULT>(0x80070032));
    EXPECT_EQ(resources->GetStream(L"gone", WPD_RESOURCE_DEFAULT, STGM_READ,
                                   nullptr, stream.Out()),
              kNotFound);

    // Once the device is closed, what was obtained from it stops working.
    ASSERT_EQ(resources->GetStream(L"text", WPD_RESOURCE_DEFAULT, STGM_READ,
                                   nullptr, stream.Out()),
              S_OK);
    phone->Close();
    EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &read),
              E_WPD_DEVICE_NOT_OPEN);
    Ref<IPortableDeviceContent> late;
    EXPECT_EQ(phone->Content(late.Out()), E_WPD_DEVICE_NOT_OPEN);
  });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

HRESULT DeleteOne(IPortableDeviceContent* content, const wchar_t* id,
                  DWORD options = PORTABLE_DEVICE_DELETE_NO_RECURSION) {
  Ref<IPortableDevicePropVariantCollection> ids;
  HRESULT hr = Create(CLSID_PortableDevicePropVariantCollection,
                      IID_IPortableDevicePropVariantCollection, &ids);
  if (FAILED(hr)) return hr;
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_LPWSTR;
  value.pwszVal = const_cast<LPWSTR>(id);
  ids->Add(&value);
  return content->Delete(options, ids.get(), nullptr);
}

TEST(WpdSimulatorClient, DeleteRemovesOneObjectAndRefusesWhatWpdRefuses) {
  Fixture fixture;
  auto& device = fixture.AddDevice(L"dev");
  device.AddFolder(L"folder", L"DEVICE", L"DCIM");
  device.Add(L"a", L"folder", ContentType::kImage);
  device.Add(L"locked", L"folder", ContentType::kImage).CanDelete(false);
  // Answered as done, or as S_FALSE, with the object left in place; and an
  // S_FALSE that did delete.
  device.Add(L"kept", L"DEVICE", ContentType::kImage).DeleteAnswer(S_OK, true);
  device.Add(L"kept1", L"DEVICE", ContentType::kImage)
      .DeleteAnswer(S_FALSE, true);
  device.Add(L"gone1", L"DEVICE", ContentType::kImage).DeleteAnswer(S_FALSE);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDevice> reader;
    ASSERT_EQ(OpenDevice(L"dev", kRead, &reader), S_OK);
    Ref<IPortableDeviceContent> content;
    ASSERT_EQ(reader->Content(content.Out()), S_OK);
    EXPECT_EQ(DeleteOne(content.get(), L"a"), E_ACCESSDENIED);  // read-only

    Ref<IPortableDevice> writer;
    ASSERT_EQ(OpenDevice(L"dev", kReadWrite, &writer), S_OK);
    EXPECT_EQ(sim.OpenSessions(L"dev"), 2);
    ASSERT_EQ(writer->Content(content.Out()), S_OK);
    EXPECT_EQ(DeleteOne(content.get(), L"folder"), kDirNotEmpty);
    EXPECT_EQ(DeleteOne(content.get(), L"locked"), E_ACCESSDENIED);
    EXPECT_EQ(DeleteOne(content.get(), L"nope"), kNotFound);
    EXPECT_EQ(DeleteOne(content.get(), L"DEVICE"), E_ACCESSDENIED);
    EXPECT_EQ(DeleteOne(content.get(), L"a"), S_OK);
    EXPECT_EQ(DeleteOne(content.get(), L"a"), kNotFound);
    EXPECT_EQ(sim.Children(L"dev", L"folder"),
              std::vector<std::wstring>{L"locked"});
    EXPECT_EQ(DeleteOne(content.get(), L"kept"), S_OK);
    EXPECT_EQ(DeleteOne(content.get(), L"kept1"), S_FALSE);
    EXPECT_EQ(DeleteOne(content.get(), L"gone1"), S_FALSE);
    EXPECT_TRUE(sim.HasObject(L"dev", L"kept"));
    EXPECT_TRUE(sim.HasObject(L"dev", L"kept1"));
    EXPECT_FALSE(sim.HasObject(L"dev", L"gone1"));

    // Several at once: S_FALSE when some fail, with a result per object.
    Ref<IPortableDevicePropVariantCollection> ids;
    ASSERT_EQ(Create(CLSID_PortableDevicePropVariantCollection,
                     IID_IPortableDevicePropVariantCollection, &ids),
              S_OK);
    for (const wchar_t* id : {L"locked", L"folder"}) {
      PROPVARIANT value;
      PropVariantInit(&value);
      value.vt = VT_LPWSTR;
      value.pwszVal = const_cast<LPWSTR>(id);
      ids->Add(&value);
    }
    Ref<IPortableDevicePropVariantCollection> results;
    ASSERT_EQ(content->Delete(PORTABLE_DEVICE_DELETE_WITH_RECURSION, ids.get(),
                              results.Out()),
              S_FALSE);
    PROPVARIANT result;
    ASSERT_EQ(results->GetAt(0, &result), S_OK);
    EXPECT_EQ(result.vt, VT_ERROR);
    EXPECT_EQ(result.scode, E_ACCESSDENIED);
    ASSERT_EQ(results->GetAt(1, &result), S_OK);
    EXPECT_EQ(result.scode, S_OK);
    EXPECT_FALSE(sim.HasObject(L"dev", L"folder"));
    EXPECT_FALSE(sim.HasObject(L"dev", L"locked"));  // gone with its folder
    writer->Close();
  });
  // The reader was released without Close: the accounting tells.
  EXPECT_EQ(sim.OpenWithoutClose(), 1);
  EXPECT_EQ(sim.OpenSessions(L"dev"), 0);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, OpenAnswersTheModelsResultAndRefusesASecondOpen) {
  Fixture fixture;
  fixture.AddDevice(L"locked-phone").OpenResult(E_ACCESSDENIED);
  fixture.AddDevice(L"dev");
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDevice> device;
    EXPECT_EQ(OpenDevice(L"locked-phone", kRead, &device), E_ACCESSDENIED);
    // The client information is recorded even for a refused open.
    ASSERT_TRUE(sim.LastClientInfo(L"locked-phone").has_value());
    EXPECT_EQ(sim.LastClientInfo(L"locked-phone")->desired_access, kRead);
    EXPECT_EQ(OpenDevice(L"", kRead, &device), kFileNotFound);
    ASSERT_EQ(OpenDevice(L"dev", kRead, &device), S_OK);
    Ref<IPortableDeviceValues> client;
    ASSERT_EQ(wpd_test::MakeClientInfo(kRead, &client), S_OK);
    EXPECT_EQ(device->Open(L"dev", client.get()), E_WPD_DEVICE_ALREADY_OPENED);
    LPWSTR id = nullptr;
    ASSERT_EQ(device->GetPnPDeviceID(&id), S_OK);
    EXPECT_EQ(Take(id), L"dev");
    EXPECT_EQ(device->Close(), S_OK);
    // Closed, the object may be opened again.
    EXPECT_EQ(device->Open(L"dev", client.get()), S_OK);
    device->Close();
  });
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, ManyThreadsUseOneDeviceAtOnce) {
  Fixture fixture;
  auto& device = fixture.AddDevice(L"dev");
  device.AddStorage(L"s", L"Storage");
  for (int i = 0; i < 40; ++i) {
    device.AddPatternFile(L"o" + std::to_wstring(i), L"s",
                          L"IMG_" + std::to_wstring(i) + L".JPG",
                          ContentType::kImage, 10000 + i);
  }
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      InMta([&] {
        Ref<IPortableDevice> phone;
        if (OpenDevice(L"dev", kReadWrite, &phone) != S_OK) return void(++bad);
        Ref<IPortableDeviceContent> content;
        Ref<IPortableDeviceResources> resources;
        phone->Content(content.Out());
        content->Transfer(resources.Out());
        // Each thread deletes its own objects while the others list and read.
        for (int i = t; i < 40; i += 6) {
          std::wstring id = L"o" + std::to_wstring(i);
          Ref<IStream> stream;
          if (resources->GetStream(id.c_str(), WPD_RESOURCE_DEFAULT, STGM_READ,
                                   nullptr, stream.Out()) != S_OK) {
            ++bad;
            continue;
          }
          char buffer[4096];
          ULONG read = 0;
          uint64_t total = 0;
          while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &read)) &&
                 read > 0) {
            total += read;
          }
          if (total != 10000u + i) ++bad;
          if (i % 2 == 0 && DeleteOne(content.get(), id.c_str()) != S_OK) ++bad;
        }
        Ref<IEnumPortableDeviceObjectIDs> children;
        content->EnumObjects(0, L"s", nullptr, children.Out());
        LPWSTR batch[64] = {};
        ULONG fetched = 0;
        while (SUCCEEDED(children->Next(64, batch, &fetched)) && fetched > 0) {
          for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(batch[i]);
        }
        phone->Close();
      });
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(sim.Children(L"dev", L"s").size(), 20u);
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, SingleThreadedApartmentsNeedARegistrationOfTheirOwn) {
  Simulator sim(PhoneFixture());
  ASSERT_TRUE(sim.ok()) << sim.error();
  std::thread worker([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      Ref<IPortableDeviceManager> manager;
      EXPECT_EQ(Create(CLSID_PortableDeviceManager, IID_IPortableDeviceManager,
                       &manager),
                REGDB_E_CLASSNOTREG);
      auto registration = sim.RegisterInCurrentApartment();
      ASSERT_EQ(registration->result(), S_OK);
      Walk walk = WalkAsClient(L"f1", L"f2");
      EXPECT_EQ(walk.failed, "") << std::hex << walk.hr;
      EXPECT_EQ(walk.data.size(), 300000u);
    }
    CoUninitialize();
  });
  worker.join();
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

TEST(WpdSimulatorClient, FixtureFileDrivesWhatTheClientSees) {
  Fixture fixture;
  std::string error;
  ASSERT_TRUE(wpd_sim::ParseFixtureJson(R"({"devices": [ {
      "id": "cam", "friendlyName": "Camera", "optimalTransferSize": 65536,
      "fail": {"GetDeviceDescription": -2147467259},
      "objects": [
        {"id": "s", "contentType": "functional", "name": "SD"},
        {"id": "a", "parent": "s", "contentType": "none", "name": "A.JPG",
         "dateCreated": {"string": "today"}, "canDelete": 2,
         "data": {"hex": "FFD8FFE0"}, "fail": {"Read": {"hresult": 2147500036, "afterBytes": 3}}}
      ] } ] })",
                                        &fixture, &error))
      << error;
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDeviceManager> manager;
    ASSERT_EQ(Create(CLSID_PortableDeviceManager, IID_IPortableDeviceManager,
                     &manager),
              S_OK);
    DWORD length = 0;
    EXPECT_EQ(manager->GetDeviceDescription(L"cam", nullptr, &length), E_FAIL);
    EXPECT_EQ(manager->GetDeviceManufacturer(L"cam", nullptr, &length),
              kInvalidData);

    Ref<IPortableDevice> camera;
    ASSERT_EQ(OpenDevice(L"cam", kRead, &camera), S_OK);
    Ref<IPortableDeviceContent> content;
    Ref<IPortableDeviceProperties> properties;
    Ref<IPortableDeviceResources> resources;
    ASSERT_EQ(camera->Content(content.Out()), S_OK);
    ASSERT_EQ(content->Properties(properties.Out()), S_OK);
    ASSERT_EQ(content->Transfer(resources.Out()), S_OK);
    Ref<IPortableDeviceValues> values;
    ASSERT_EQ(properties->GetValues(L"a", nullptr, values.Out()), S_OK);
    GUID type;
    EXPECT_EQ(values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type), kNotFound);
    PROPVARIANT date;
    PropVariantInit(&date);
    ASSERT_EQ(values->GetValue(WPD_OBJECT_DATE_CREATED, &date), S_OK);
    EXPECT_EQ(date.vt, VT_LPWSTR);
    PropVariantClear(&date);
    BOOL flag = 0;
    ASSERT_EQ(values->GetBoolValue(WPD_OBJECT_CAN_DELETE, &flag), S_OK);
    EXPECT_EQ(flag, 2);

    Ref<IStream> stream;
    DWORD optimal = 0;
    ASSERT_EQ(resources->GetStream(L"a", WPD_RESOURCE_DEFAULT, STGM_READ,
                                   &optimal, stream.Out()),
              S_OK);
    EXPECT_EQ(optimal, 65536u);
    unsigned char buffer[8];
    ULONG read = 0;
    ASSERT_EQ(stream->Read(buffer, sizeof(buffer), &read), S_OK);
    ASSERT_EQ(read, 3u);
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(buffer[2], 0xFF);
    EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &read), E_ABORT);
    camera->Close();
  });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdSimulatorClient, CoInitializeFaultsNeedTheStandIn) {
  Fixture fixture;
  fixture.Fail(Call::kCoInitializeEx, E_OUTOFMEMORY);
  testing::internal::CaptureStderr();
  auto sim = std::make_unique<Simulator>(std::move(fixture));
  std::string said = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(sim->ok()) << sim->error();
  HRESULT joined = S_OK;
  std::thread([&] {
    joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(joined)) CoUninitialize();
  }).join();
#ifdef _WIN32
  // The system's CoInitializeEx cannot be made to fail; the fixture is told.
  EXPECT_EQ(joined, S_OK);
  EXPECT_NE(said.find("\"CoInitializeEx\" failures can only be injected on "
                      "the Linux stand-in"),
            std::string::npos);
#else
  EXPECT_EQ(joined, E_OUTOFMEMORY);
  EXPECT_EQ(said, "");
#endif
  sim.reset();  // and the fault goes with the Simulator
  std::thread([&] {
    joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(joined)) CoUninitialize();
  }).join();
  EXPECT_EQ(joined, S_OK);
}

}  // namespace

namespace {

// Waits up to ten seconds for `done`; false if it never came.
template <class Done>
bool AwaitTrue(Done done) {
  for (int i = 0; i < 1000 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace

TEST(WpdSimulatorClient, HungReadWaitsForCancelCloseUnplugOrTheSimulatorsEnd) {
  enum class Wake {
    kCancelFirst,
    kCancel,
    kStreamCancel,
    kClose,
    kUnplug,
    kEnd
  };
  const HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
  const struct {
    Wake wake;
    HRESULT answer;
  } cases[] = {
      {Wake::kCancelFirst, wpd_sim::kCancelledHresult},
      {Wake::kCancel, wpd_sim::kCancelledHresult},
      {Wake::kStreamCancel, wpd_sim::kCancelledHresult},
      {Wake::kClose, E_WPD_DEVICE_NOT_OPEN},
      {Wake::kUnplug, kGenFailure},
      {Wake::kEnd, wpd_sim::kCancelledHresult},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.wake));
    Fixture fixture;
    fixture.AddDevice(L"dev")
        .GoneResult(kGenFailure)
        .AddPatternFile(L"f", L"DEVICE", L"IMG_0001.MOV", ContentType::kVideo,
                        1000)
        .Fail(Call::kRead, Fault::Hang(100));
    auto sim = std::make_unique<Simulator>(std::move(fixture));
    ASSERT_TRUE(sim->ok()) << sim->error();
    std::atomic<IPortableDevice*> opened{nullptr};
    std::atomic<IStream*> reading{nullptr};
    ULONG first = 0;
    HRESULT second = S_OK;
    std::thread reader([&] {
      InMta([&] {
        Ref<IPortableDevice> phone;
        Ref<IPortableDeviceContent> content;
        Ref<IPortableDeviceResources> resources;
        Ref<IStream> stream;
        if (OpenDevice(L"dev", kRead, &phone) != S_OK ||
            phone->Content(content.Out()) != S_OK ||
            content->Transfer(resources.Out()) != S_OK ||
            resources->GetStream(L"f", WPD_RESOURCE_DEFAULT, STGM_READ, nullptr,
                                 stream.Out()) != S_OK) {
          second = E_UNEXPECTED;
          return;
        }
        char buffer[4096];
        stream->Read(buffer, sizeof(buffer), &first);
        // A Cancel before the hang begins is not lost.
        if (c.wake == Wake::kCancelFirst) phone->Cancel();
        opened = phone.get();
        reading = stream.get();
        ULONG read = 0;
        second = stream->Read(buffer, sizeof(buffer), &read);
        phone->Close();
      });
    });
    if (c.wake != Wake::kCancelFirst) {
      EXPECT_TRUE(AwaitTrue([&] { return sim->BlockedReads() == 1; }));
      // The hung Read holds no lock of the model.
      EXPECT_TRUE(sim->HasObject(L"dev", L"f"));
      switch (c.wake) {
        case Wake::kCancel:
          opened.load()->Cancel();
          break;
        case Wake::kStreamCancel: {
          Ref<IPortableDeviceDataStream> data;
          ASSERT_EQ(reading.load()->QueryInterface(
                        IID_IPortableDeviceDataStream, data.OutVoid()),
                    S_OK);
          data->Cancel();
          break;
        }
        case Wake::kClose:
          opened.load()->Close();
          break;
        case Wake::kUnplug:
          sim->Unplug(L"dev");
          break;
        default:
          sim.reset();
      }
    }
    reader.join();
    EXPECT_EQ(first, 100u);
    EXPECT_EQ(second, c.answer);
    if (sim != nullptr) {
      EXPECT_EQ(sim->BlockedReads(), 0);
      EXPECT_EQ(sim->LiveObjects(), 0) << sim->LiveObjectsText();
    }
  }
}

namespace {

// The ids a fresh device manager lists.
std::vector<std::wstring> ListedDevices() {
  std::vector<std::wstring> listed;
  Ref<IPortableDeviceManager> manager;
  DWORD count = 0;
  if (Create(CLSID_PortableDeviceManager, IID_IPortableDeviceManager,
             &manager) != S_OK ||
      manager->GetDevices(nullptr, &count) != S_OK) {
    return listed;
  }
  std::vector<LPWSTR> ids(count, nullptr);
  if (SUCCEEDED(manager->GetDevices(ids.data(), &count))) {
    for (DWORD i = 0; i < count; ++i) listed.push_back(Take(ids[i]));
  }
  return listed;
}

// The children of `parent`, each as "id puid".
HRESULT ListChildren(IPortableDeviceContent* content,
                     const std::wstring& parent,
                     std::vector<std::wstring>* out) {
  Ref<IEnumPortableDeviceObjectIDs> children;
  Ref<IPortableDeviceProperties> properties;
  HRESULT hr = content->EnumObjects(0, parent.c_str(), nullptr, children.Out());
  if (FAILED(hr)) return hr;
  hr = content->Properties(properties.Out());
  if (FAILED(hr)) return hr;
  LPWSTR batch[8] = {};
  ULONG fetched = 0;
  while (SUCCEEDED(hr = children->Next(8, batch, &fetched)) && fetched > 0) {
    for (ULONG i = 0; i < fetched; ++i) {
      std::wstring id = Take(batch[i]);
      Ref<IPortableDeviceValues> values;
      LPWSTR puid = nullptr;
      if (SUCCEEDED(properties->GetValues(id.c_str(), nullptr, values.Out()))) {
        values->GetStringValue(WPD_OBJECT_PERSISTENT_UNIQUE_ID, &puid);
      }
      out->push_back(id + L" " + Take(puid));
    }
  }
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace

TEST(WpdSimulatorClient, ConnectionModelDecidesListingIdsAndContent) {
  Fixture fixture;
  auto& phone = fixture.AddDevice(kPhone).Manufacturer(L"Apple Inc.");
  phone.AddPhoneStorage(L"s", L"Internal Storage");
  phone.AddPhoneFolder(L"m", L"s", L"202610_a");
  phone.AddPhoneFile(L"f", L"m", L"IMG_1234.HEIC", ContentType::kImage, 10,
                     DateProperty::At(2026, 10, 3, 7, 5, 3));
  // A delay in the fixture unlocks a device by itself.
  auto& later = fixture.AddDevice(L"later").Locked(300);
  later.AddStorage(L"s", L"Internal Storage");
  later.Add(L"f", L"s", ContentType::kImage);
  auto plugged_in = std::chrono::steady_clock::now();
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();

  // Each step, then what a new session sees: listed or not, and the
  // storage's child as "id puid"; ids and persistent ids stay for a
  // connection and change with the next one (the storage's own too).
  const struct {
    const char* step;
    bool (Simulator::*act)(const std::wstring&);
    bool listed;
    const wchar_t* suffix;  // of the ids of this connection
    size_t children;
  } steps[] = {
      {"plugged in", nullptr, true, L"", 1},
      {"another session", nullptr, true, L"", 1},
      {"locked", &Simulator::Lock, true, L"", 0},
      {"unlocked", &Simulator::Unlock, true, L"", 1},
      {"reset", &Simulator::Reset, true, L"", 0},
      {"unplugged", &Simulator::Unplug, false, L"", 0},
      {"plugged again", &Simulator::Plug, true, L"~2", 1},
      {"locked again", &Simulator::Lock, true, L"~2", 0},
      {"replugged locked", &Simulator::Replug, true, L"~3", 0},
      {"unlocked again", &Simulator::Unlock, true, L"~3", 1},
  };
  std::wstring first_puid;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    if (s.act != nullptr) {
      ASSERT_TRUE((sim.*s.act)(kPhone));
    }
    EXPECT_EQ(sim.IsPlugged(kPhone), s.listed);
    InMta([&] {
      std::vector<std::wstring> listed = ListedDevices();
      EXPECT_EQ(std::count(listed.begin(), listed.end(), kPhone),
                s.listed ? 1 : 0);
      Ref<IPortableDevice> device;
      HRESULT opened = OpenDevice(kPhone, kRead, &device);
      if (!s.listed) {
        EXPECT_EQ(opened, kFileNotFound);
        return;
      }
      ASSERT_EQ(opened, S_OK);
      Ref<IPortableDeviceContent> content;
      ASSERT_EQ(device->Content(content.Out()), S_OK);
      std::vector<std::wstring> roots;
      ASSERT_EQ(ListChildren(content.get(), WPD_DEVICE_OBJECT_ID, &roots),
                S_OK);
      ASSERT_EQ(roots.size(), 1u);
      const std::wstring storage = std::wstring(L"s") + s.suffix;
      EXPECT_EQ(roots[0].substr(0, roots[0].find(L' ')), storage);
      std::vector<std::wstring> children;
      ASSERT_EQ(ListChildren(content.get(), storage, &children), S_OK);
      ASSERT_EQ(children.size(), s.children);
      if (s.children > 0) {
        size_t space = children[0].find(L' ');
        EXPECT_EQ(children[0].substr(0, space), std::wstring(L"m") + s.suffix);
        std::wstring puid = children[0].substr(space + 1);
        if (first_puid.empty()) first_puid = puid;
        EXPECT_EQ(puid, first_puid + s.suffix);
      }
      device->Close();
    });
  }
  EXPECT_FALSE(first_puid.empty());
  EXPECT_EQ(sim.Connections(kPhone), 3u);
  EXPECT_EQ(sim.ObjectId(kPhone, L"f"), L"f~3");
  EXPECT_FALSE(sim.Plug(kPhone));  // already plugged in

  InMta([&] {
    auto children = [] {
      std::vector<std::wstring> seen;
      Ref<IPortableDevice> device;
      Ref<IPortableDeviceContent> content;
      if (OpenDevice(L"later", kRead, &device) == S_OK &&
          device->Content(content.Out()) == S_OK) {
        ListChildren(content.get(), L"s", &seen);
        device->Close();
      }
      return seen.size();
    };
    size_t before = children();
    if (std::chrono::steady_clock::now() - plugged_in <
        std::chrono::milliseconds(300)) {
      EXPECT_EQ(before, 0u);
    }
    EXPECT_TRUE(AwaitTrue([&] { return children() == 1; }));
  });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

TEST(WpdSimulatorClient, UnpluggedDeviceObjectsAnswerTheGoneCodeUntilReleased) {
  for (HRESULT gone : wpd_sim::kDeviceGoneHresults) {
    SCOPED_TRACE(std::to_string(static_cast<uint32_t>(gone)));
    Fixture fixture;
    auto& phone = fixture.AddDevice(kPhone).FriendlyName(L"iPhone");
    phone.GoneResult(gone).AddStorage(L"s", L"Internal Storage");
    phone.AddFile(L"f", L"s", L"IMG_1.JPG", ContentType::kImage, "jpeg");
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    InMta([&] {
      Ref<IPortableDeviceManager> manager;
      ASSERT_EQ(Create(CLSID_PortableDeviceManager, IID_IPortableDeviceManager,
                       &manager),
                S_OK);
      Ref<IPortableDevice> device;
      Ref<IPortableDeviceContent> content;
      Ref<IPortableDeviceProperties> properties;
      Ref<IPortableDeviceResources> resources;
      Ref<IEnumPortableDeviceObjectIDs> children;
      Ref<IStream> stream;
      ASSERT_EQ(OpenDevice(kPhone, kReadWrite, &device), S_OK);
      ASSERT_EQ(device->Content(content.Out()), S_OK);
      ASSERT_EQ(content->Properties(properties.Out()), S_OK);
      ASSERT_EQ(content->Transfer(resources.Out()), S_OK);
      ASSERT_EQ(content->EnumObjects(0, L"s", nullptr, children.Out()), S_OK);
      ASSERT_EQ(resources->GetStream(L"f", WPD_RESOURCE_DEFAULT, STGM_READ,
                                     nullptr, stream.Out()),
                S_OK);

      // Every call answers the gone code, also after the device is back:
      // these objects belong to the connection that ended.
      for (bool back : {false, true}) {
        SCOPED_TRACE(back ? "plugged in again" : "unplugged");
        ASSERT_TRUE(back ? sim.Plug(kPhone) : sim.Unplug(kPhone));
        DWORD length = 0;
        EXPECT_EQ(
            manager->GetDeviceFriendlyName(kPhone.c_str(), nullptr, &length),
            back ? S_OK : gone);
        Ref<IPortableDeviceContent> late;
        EXPECT_EQ(device->Content(late.Out()), gone);
        Ref<IEnumPortableDeviceObjectIDs> listing;
        EXPECT_EQ(content->EnumObjects(0, L"s", nullptr, listing.Out()), gone);
        LPWSTR ids[4] = {};
        ULONG fetched = 9;
        EXPECT_EQ(children->Next(4, ids, &fetched), gone);
        EXPECT_EQ(fetched, 0u);
        Ref<IPortableDeviceValues> values;
        EXPECT_EQ(properties->GetValues(L"f", nullptr, values.Out()), gone);
        Ref<IStream> other;
        EXPECT_EQ(resources->GetStream(L"f", WPD_RESOURCE_DEFAULT, STGM_READ,
                                       nullptr, other.Out()),
                  gone);
        char buffer[8];
        ULONG read = 9;
        EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &read), gone);
        EXPECT_EQ(read, 0u);
        EXPECT_EQ(DeleteOne(content.get(), L"f"), gone);
      }
      // Closed, the object opens again, on the new connection.
      EXPECT_EQ(device->Close(), S_OK);
      char buffer[8];
      ULONG read = 0;
      EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &read),
                E_WPD_DEVICE_NOT_OPEN);
      Ref<IPortableDeviceValues> client;
      ASSERT_EQ(wpd_test::MakeClientInfo(kRead, &client), S_OK);
      ASSERT_EQ(device->Open(kPhone.c_str(), client.get()), S_OK);
      ASSERT_EQ(device->Content(content.Out()), S_OK);
      std::vector<std::wstring> listed;
      EXPECT_EQ(ListChildren(content.get(), L"s~2", &listed), S_OK);
      EXPECT_EQ(listed, std::vector<std::wstring>{L"f~2 "});
      device->Close();
    });
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
    EXPECT_EQ(sim.OpenWithoutClose(), 0);
    EXPECT_EQ(sim.OpenSessions(kPhone), 0);
  }
}

TEST(WpdSimulatorClient, StreamsEndEarlyFailOrUnplugAtAChosenByte) {
  const HRESULT kReadFault = static_cast<HRESULT>(0x8007001E);
  const HRESULT kIncomplete = static_cast<HRESULT>(0x80042007);
  const struct {
    const char* what;
    Fault fault;
    uint64_t bytes;  // served before the end or the failure
    HRESULT last;    // the answer of the last Read
    bool plugged;    // afterwards
  } cases[] = {
      {"ends early", Fault::EndAfter(12), 12, S_OK, true},
      {"ends early with S_FALSE", Fault{S_FALSE, 12}, 12, S_FALSE, true},
      {"read fault", Fault{kReadFault, 70000}, 70000, kReadFault, true},
      {"incomplete transfer", Fault{kIncomplete, 0}, 0, kIncomplete, true},
      {"unplugged", Fault::Unplug(100000), 100000, wpd_sim::kDeviceNotConnected,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture fixture;
    fixture.AddDevice(L"dev")
        .AddPatternFile(L"p", L"DEVICE", L"IMG_1234.HEIC", ContentType::kImage,
                        222033)
        .Fail(Call::kRead, c.fault);
    Simulator sim(std::move(fixture));
    ASSERT_TRUE(sim.ok()) << sim.error();
    InMta([&] {
      Ref<IPortableDevice> device;
      Ref<IPortableDeviceContent> content;
      Ref<IPortableDeviceProperties> properties;
      Ref<IPortableDeviceResources> resources;
      Ref<IPortableDeviceValues> values;
      Ref<IStream> stream;
      ASSERT_EQ(OpenDevice(L"dev", kRead, &device), S_OK);
      ASSERT_EQ(device->Content(content.Out()), S_OK);
      ASSERT_EQ(content->Properties(properties.Out()), S_OK);
      ASSERT_EQ(content->Transfer(resources.Out()), S_OK);
      // The listed size stays the full one.
      ASSERT_EQ(properties->GetValues(L"p", nullptr, values.Out()), S_OK);
      ULONGLONG size = 0;
      EXPECT_EQ(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size),
                S_OK);
      EXPECT_EQ(size, 222033u);
      ASSERT_EQ(resources->GetStream(L"p", WPD_RESOURCE_DEFAULT, STGM_READ,
                                     nullptr, stream.Out()),
                S_OK);
      std::string data;
      std::string buffer(4096, '\0');
      HRESULT hr;
      ULONG read = 0;
      do {
        hr = stream->Read(&buffer[0], 4096, &read);
        data.append(buffer, 0, read);
      } while (SUCCEEDED(hr) && read > 0);
      EXPECT_EQ(hr, c.last);
      EXPECT_EQ(data, Pattern(0, c.bytes));
      device->Close();
    });
    EXPECT_EQ(sim.IsPlugged(L"dev"), c.plugged);
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  }
}
