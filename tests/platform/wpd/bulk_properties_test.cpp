// Bulk property reads on the simulated devices: IPortableDevicePropertiesBulk
// driven as a WPD client drives it, on the Linux stand-in and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/wpd/simulator/call_log.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/platform/wpd/wpd_test_util.h"

namespace {

using wpd_sim::Call;
using wpd_sim::ContentType;
using wpd_sim::Fault;
using wpd_sim::Fixture;
using wpd_sim::Simulator;
using wpd_test::BulkRecorder;
using wpd_test::Create;
using wpd_test::InMta;
using wpd_test::OpenDevice;
using wpd_test::Ref;

constexpr DWORD kRead = 0x80000000;  // GENERIC_READ
const HRESULT kNotFound = static_cast<HRESULT>(0x80070490);
const HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);
const std::wstring kPhone = L"phone";

// A phone whose storage "s" holds a month folder "m" of `files` photos
// f0, f1, ... (every third with a name, so the objects differ in what they
// carry).
Fixture BulkPhone(int files, bool bulk = true) {
  Fixture fixture;
  wpd_sim::DeviceSpec& phone = fixture.AddDevice(kPhone).Bulk(bulk);
  phone.AddPhoneStorage(L"s", L"Internal Storage");
  phone.AddPhoneFolder(L"m", L"s", L"202610_a");
  for (int i = 0; i < files; ++i) {
    const std::wstring id = L"f" + std::to_wstring(i);
    wpd_sim::ObjectSpec& file = phone.AddPhoneFile(
        id, L"m", L"IMG_" + std::to_wstring(1000 + i) + L".HEIC",
        ContentType::kImage, 1000 + i,
        wpd_sim::DateProperty::At(2026, 10, 2, 18, 30, i % 60));
    if (i % 3 == 0) file.Name(id);
  }
  return fixture;
}

std::vector<std::wstring> FileIds(int files) {
  std::vector<std::wstring> ids;
  for (int i = 0; i < files; ++i) ids.push_back(L"f" + std::to_wstring(i));
  return ids;
}

// The device opened, its properties object, and the bulk one.
struct Client {
  Ref<IPortableDevice> device;
  Ref<IPortableDeviceProperties> properties;
  Ref<IPortableDevicePropertiesBulk> bulk;

  HRESULT Open() {
    Ref<IPortableDeviceContent> content;
    HRESULT hr = OpenDevice(kPhone, kRead, &device);
    if (SUCCEEDED(hr)) hr = device->Content(content.Out());
    if (SUCCEEDED(hr)) hr = content->Properties(properties.Out());
    if (SUCCEEDED(hr)) {
      hr = properties->QueryInterface(IID_IPortableDevicePropertiesBulk,
                                      bulk.OutVoid());
    }
    return hr;
  }

  // Queues the ids with `keys` (none: every property) for `recorder`.
  HRESULT Queue(const std::vector<std::wstring>& ids,
                const std::vector<PROPERTYKEY>* keys, BulkRecorder* recorder,
                GUID* context) {
    Ref<IPortableDevicePropVariantCollection> list;
    Ref<IPortableDeviceKeyCollection> key_list;
    HRESULT hr = Create(CLSID_PortableDevicePropVariantCollection,
                        IID_IPortableDevicePropVariantCollection, &list);
    for (const std::wstring& id : ids) {
      if (FAILED(hr)) return hr;
      PROPVARIANT value;
      PropVariantInit(&value);
      value.vt = VT_LPWSTR;
      value.pwszVal = const_cast<LPWSTR>(id.c_str());
      hr = list->Add(&value);  // the collection copies it
    }
    if (SUCCEEDED(hr) && keys != nullptr) {
      hr = Create(CLSID_PortableDeviceKeyCollection,
                  IID_IPortableDeviceKeyCollection, &key_list);
      for (const PROPERTYKEY& key : *keys) {
        if (SUCCEEDED(hr)) hr = key_list->Add(key);
      }
    }
    if (FAILED(hr)) return hr;
    hr = bulk->QueueGetValuesByObjectList(list.get(), key_list.get(),
                                          recorder, context);
    if (SUCCEEDED(hr)) recorder->Expect(*context);
    return hr;
  }
};

// Every value as "key=type:value", comparable whole.
std::map<std::string, std::string> Dump(IPortableDeviceValues* values) {
  std::map<std::string, std::string> dump;
  DWORD count = 0;
  EXPECT_EQ(values->GetCount(&count), S_OK);
  for (DWORD i = 0; i < count; ++i) {
    PROPERTYKEY key;
    PROPVARIANT value;
    PropVariantInit(&value);
    EXPECT_EQ(values->GetAt(i, &key, &value), S_OK);
    char name[32];
    std::snprintf(name, sizeof(name), "%08x/%u",
                  static_cast<unsigned>(key.fmtid.Data1),
                  static_cast<unsigned>(key.pid));
    std::string text = std::to_string(value.vt) + ":";
    switch (value.vt) {
      case VT_LPWSTR:
        for (const wchar_t* c = value.pwszVal; *c != 0; ++c) text += char(*c);
        break;
      case VT_CLSID:
        text += std::to_string(value.puuid->Data1) + "-" +
                std::to_string(value.puuid->Data2);
        break;
      case VT_UI8:
        text += std::to_string(value.uhVal.QuadPart);
        break;
      case VT_DATE:
        text += std::to_string(value.date);
        break;
      case VT_ERROR:
        text += std::to_string(static_cast<unsigned>(value.scode));
        break;
      case VT_UI4:
        text += std::to_string(value.ulVal);
        break;
      case VT_BOOL:
        text += std::to_string(value.boolVal);
        break;
      default:
        text += "?";
    }
    dump[name] = text;
    PropVariantClear(&value);
  }
  return dump;
}

// Every property a simulated object can carry (the simulator's README).
const std::vector<PROPERTYKEY> kEveryKey = {
    WPD_OBJECT_PARENT_ID,
    WPD_OBJECT_NAME,
    WPD_OBJECT_PERSISTENT_UNIQUE_ID,
    WPD_OBJECT_FORMAT,
    WPD_OBJECT_CONTENT_TYPE,
    WPD_OBJECT_SIZE,
    WPD_OBJECT_ORIGINAL_FILE_NAME,
    WPD_OBJECT_DATE_CREATED,
    WPD_OBJECT_DATE_MODIFIED,
    WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID,
    WPD_OBJECT_CAN_DELETE,
    WPD_STORAGE_FILE_SYSTEM_TYPE,
    WPD_STORAGE_CAPACITY,
    WPD_STORAGE_FREE_SPACE_IN_BYTES,
    WPD_STORAGE_ACCESS_CAPABILITY,
    WPD_DEVICE_FIRMWARE_VERSION,
    WPD_DEVICE_POWER_LEVEL,
    WPD_DEVICE_POWER_SOURCE,
    WPD_DEVICE_PROTOCOL,
    WPD_DEVICE_MANUFACTURER,
    WPD_DEVICE_MODEL,
    WPD_DEVICE_SERIAL_NUMBER,
    WPD_DEVICE_SUPPORTS_NON_CONSUMABLE,
    WPD_DEVICE_FRIENDLY_NAME,
};

// What a bulk read must give for `id`: what GetValues gives, or its failure
// in every asked-for property; WPD_OBJECT_ID either way.
std::map<std::string, std::string> Expected(
    IPortableDeviceProperties* properties, const std::wstring& id,
    const std::vector<PROPERTYKEY>* keys) {
  Ref<IPortableDeviceKeyCollection> key_list;
  if (keys != nullptr) {
    EXPECT_EQ(Create(CLSID_PortableDeviceKeyCollection,
                     IID_IPortableDeviceKeyCollection, &key_list),
              S_OK);
    for (const PROPERTYKEY& key : *keys) key_list->Add(key);
  }
  Ref<IPortableDeviceValues> values;
  HRESULT hr = properties->GetValues(id.c_str(), key_list.get(), values.Out());
  if (FAILED(hr)) {
    EXPECT_EQ(Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues,
                     &values),
              S_OK);
    for (const PROPERTYKEY& key : keys != nullptr ? *keys : kEveryKey) {
      values->SetErrorValue(key, hr);
    }
  }
  values->SetStringValue(WPD_OBJECT_ID, id.c_str());
  return Dump(values.get());
}

TEST(WpdBulkProperties, OnlyADeviceThatSaysBulkAnswersForIt) {
  for (bool bulk : {false, true}) {
    SCOPED_TRACE(bulk ? "bulk" : "no bulk");
    Simulator sim(BulkPhone(1, bulk));
    ASSERT_TRUE(sim.ok()) << sim.error();
    InMta([&] {
      Client client;
      EXPECT_EQ(client.Open(), bulk ? S_OK : E_NOINTERFACE);
      EXPECT_EQ(client.bulk.get() != nullptr, bulk);
      client.device->Close();
      if (!bulk) return;
      // One COM object with the properties object it came from.
      Ref<IUnknown> from_bulk, from_properties;
      Ref<IPortableDeviceProperties> back;
      ASSERT_EQ(client.bulk->QueryInterface(IID_IUnknown, from_bulk.OutVoid()),
                S_OK);
      ASSERT_EQ(client.properties->QueryInterface(IID_IUnknown,
                                                  from_properties.OutVoid()),
                S_OK);
      EXPECT_EQ(from_bulk.get(), from_properties.get());
      EXPECT_EQ(client.bulk->QueryInterface(IID_IPortableDeviceProperties,
                                            back.OutVoid()),
                S_OK);
      EXPECT_EQ(back.get(), client.properties.get());
    });
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  }
}

TEST(WpdBulkProperties, RequestGivesWhatGetValuesGivesInBatchesOnItsOwnThread) {
  constexpr int kFiles = 230;
  Fixture fixture = BulkPhone(kFiles);
  // GetValues fails for f5: the bulk read shows the same code.
  fixture.devices[0].objects[7].Fail(Call::kGetValues, E_ACCESSDENIED);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  std::vector<std::wstring> ids = FileIds(kFiles);
  ids.insert(ids.begin(), {L"s", L"m"});
  ids.push_back(L"nope");  // unknown: GetValues answers kNotFound
  const std::vector<PROPERTYKEY> some = {
      WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_SIZE, WPD_OBJECT_NAME,
      WPD_OBJECT_DATE_CREATED, WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_ID};
  for (const std::vector<PROPERTYKEY>* keys : {&some, static_cast<const std::vector<PROPERTYKEY>*>(nullptr)}) {
    SCOPED_TRACE(keys != nullptr ? "some keys" : "every property");
    InMta([&] {
      Client client;
      BulkRecorder recorder;
      GUID context;
      ASSERT_EQ(client.Open(), S_OK);
      ASSERT_EQ(client.Queue(ids, keys, &recorder, &context), S_OK);
      ASSERT_EQ(client.bulk->Start(context), S_OK);
      ASSERT_TRUE(recorder.WaitForEnd());
      EXPECT_EQ(recorder.order(), "SPPPE");
      EXPECT_EQ(recorder.status(), S_OK);
      EXPECT_TRUE(recorder.contexts_ok());
      // All on one thread, not the caller's.
      for (std::thread::id thread : recorder.threads()) {
        EXPECT_EQ(thread, recorder.threads()[0]);
      }
      EXPECT_NE(recorder.threads()[0], std::this_thread::get_id());
      std::vector<size_t> sizes;
      size_t i = 0;
      for (const BulkRecorder::Batch& batch : recorder.batches()) {
        sizes.push_back(batch.values.size());
        for (IPortableDeviceValues* values : batch.values) {
          ASSERT_LT(i, ids.size());
          SCOPED_TRACE(std::string(ids[i].begin(), ids[i].end()));
          EXPECT_EQ(Dump(values), Expected(client.properties.get(), ids[i], keys));
          ++i;
        }
      }
      EXPECT_EQ(sizes, (std::vector<size_t>{100, 100, 33}));
      client.device->Close();
    });
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  }
  EXPECT_EQ(sim.Calls(Call::kBulkValues), 2u * ids.size());
}

TEST(WpdBulkProperties, FaultsFailTheCallsLeaveObjectsOutOrEndTheRequest) {
  constexpr int kFiles = 230;
  const struct {
    const char* name;
    std::function<bool(Simulator&)> fault;
    HRESULT queue, start;
    size_t objects;            // how many came
    const wchar_t* left_out;   // one that must not have come
    HRESULT end;
    bool plugged;
  } cases[] = {
      {"queue fails",
       [](Simulator& sim) {
         return sim.SetDeviceFault(kPhone, Call::kQueueGetValuesByObjectList,
                                   Fault{E_ACCESSDENIED, 0});
       },
       E_ACCESSDENIED, S_OK, 0, nullptr, S_OK, true},
      {"start fails on its second call",
       [](Simulator& sim) {
         return sim.SetDeviceFault(kPhone, Call::kStart, Fault{kGenFailure, 1});
       },
       S_OK, kGenFailure, 0, nullptr, S_OK, true},
      {"start unplugs",
       [](Simulator& sim) {
         return sim.SetDeviceFault(kPhone, Call::kStart, Fault::Unplug(1));
       },
       S_OK, wpd_sim::kDeviceNotConnected, 0, nullptr, S_OK, false},
      {"an object is left out",
       [](Simulator& sim) {
         return sim.SetObjectFault(kPhone, L"f150", Call::kBulkValues,
                                   Fault{E_FAIL, 0});
       },
       S_OK, S_OK, kFiles - 1, L"f150", S_OK, true},
      {"the request fails after 150 objects",
       [](Simulator& sim) {
         return sim.SetDeviceFault(kPhone, Call::kBulkValues,
                                   Fault{kGenFailure, 150});
       },
       S_OK, S_OK, 150, L"f150", kGenFailure, true},
      {"the device is unplugged after 10 objects",
       [](Simulator& sim) {
         return sim.SetDeviceFault(kPhone, Call::kBulkValues, Fault::Unplug(10));
       },
       S_OK, S_OK, 10, L"f10", wpd_sim::kDeviceNotConnected, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Simulator sim(BulkPhone(kFiles));
    ASSERT_TRUE(sim.ok()) << sim.error();
    InMta([&] {
      Client client;
      BulkRecorder recorder;
      GUID context;
      ASSERT_EQ(client.Open(), S_OK);
      if (c.start != S_OK) {
        // A request let through first, so that "after" is seen to count.
        BulkRecorder first;
        GUID earlier;
        ASSERT_EQ(client.Queue({L"f0"}, nullptr, &first, &earlier), S_OK);
        ASSERT_TRUE(c.fault(sim));
        ASSERT_EQ(client.bulk->Start(earlier), S_OK);
        ASSERT_TRUE(first.WaitForEnd());
        EXPECT_EQ(first.objects(), 1u);
      } else {
        ASSERT_TRUE(c.fault(sim));
      }
      ASSERT_EQ(client.Queue(FileIds(kFiles), nullptr, &recorder, &context),
                c.queue);
      if (c.queue == S_OK) {
        EXPECT_EQ(client.bulk->Start(context), c.start);
      }
      if (c.queue == S_OK && c.start == S_OK) {
        ASSERT_TRUE(recorder.WaitForEnd());
        EXPECT_EQ(recorder.status(), c.end);
      } else {
        // Nothing told; the request is dropped with the bulk object.
        EXPECT_EQ(recorder.order(), "");
        client.bulk.Reset();
        client.properties.Reset();
        EXPECT_EQ(recorder.refs(), 1u);
      }
      EXPECT_EQ(recorder.objects(), c.objects);
      for (const BulkRecorder::Batch& batch : recorder.batches()) {
        for (IPortableDeviceValues* values : batch.values) {
          LPWSTR id = nullptr;
          ASSERT_EQ(values->GetStringValue(WPD_OBJECT_ID, &id), S_OK);
          const std::wstring text = wpd_test::Take(id);
          if (c.left_out != nullptr) {
            EXPECT_NE(text, c.left_out);
          }
        }
      }
      client.device->Close();
    });
    EXPECT_EQ(sim.IsPlugged(kPhone), c.plugged);
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  }
}

TEST(WpdBulkProperties, HungRequestEndsOnCancelCloseUnplugOrTheSimulatorsEnd) {
  enum class Wake { kCancel, kCancelMidway, kClose, kUnplug, kEnd };
  const struct {
    Wake wake;
    size_t objects;
    HRESULT end;
  } cases[] = {
      {Wake::kCancel, 120, wpd_sim::kBulkCancelledHresult},
      // Not hung: Cancel in the first batch's OnProgress ends it after that
      // batch.
      {Wake::kCancelMidway, 100, wpd_sim::kBulkCancelledHresult},
      {Wake::kClose, 120, E_WPD_DEVICE_NOT_OPEN},
      {Wake::kUnplug, 120, wpd_sim::kDeviceNotConnected},
      {Wake::kEnd, 120, wpd_sim::kBulkCancelledHresult},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.wake));
    auto sim = std::make_unique<Simulator>(BulkPhone(300));
    ASSERT_TRUE(sim->ok()) << sim->error();
    if (c.wake != Wake::kCancelMidway) {
      ASSERT_TRUE(
          sim->SetDeviceFault(kPhone, Call::kBulkValues, Fault::Hang(120)));
    }
    InMta([&] {
      Client client;
      BulkRecorder recorder;
      GUID context;
      ASSERT_EQ(client.Open(), S_OK);
      ASSERT_EQ(client.Queue(FileIds(300), nullptr, &recorder, &context), S_OK);
      if (c.wake == Wake::kCancelMidway) {
        recorder.on_progress = [&] {
          if (recorder.objects() == 100) client.bulk->Cancel(context);
        };
      }
      ASSERT_EQ(client.bulk->Start(context), S_OK);
      if (c.wake != Wake::kCancelMidway) {
        ASSERT_TRUE(recorder.WaitForObjects(c.objects));
        EXPECT_FALSE(recorder.WaitForEnd(std::chrono::milliseconds(100)));
      }
      switch (c.wake) {
        case Wake::kCancel:
          EXPECT_EQ(client.bulk->Cancel(context), S_OK);
          break;
        case Wake::kClose:
          EXPECT_EQ(client.device->Close(), S_OK);
          break;
        case Wake::kUnplug:
          EXPECT_TRUE(sim->Unplug(kPhone));
          break;
        case Wake::kEnd:
          sim.reset();
          break;
        case Wake::kCancelMidway:
          break;
      }
      ASSERT_TRUE(recorder.WaitForEnd());
      EXPECT_EQ(recorder.status(), c.end);
      EXPECT_EQ(recorder.objects(), c.objects);
      // A request that ended is no error to cancel.
      EXPECT_EQ(client.bulk->Cancel(context), S_OK);
      client.device->Close();
    });
    if (sim != nullptr) {
      EXPECT_EQ(sim->LiveObjects(), 0) << sim->LiveObjectsText();
    }
  }
}

TEST(WpdBulkProperties, ContextsAndArgumentsAreChecked) {
  Simulator sim(BulkPhone(3));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Client client;
    ASSERT_EQ(client.Open(), S_OK);
    BulkRecorder recorder, dropped;
    GUID context, other;
    ASSERT_EQ(client.Queue(FileIds(3), nullptr, &recorder, &context), S_OK);
    ASSERT_EQ(client.Queue(FileIds(3), nullptr, &dropped, &other), S_OK);
    EXPECT_FALSE(IsEqualGUID(context, other));
    EXPECT_EQ(client.bulk->Start(GUID_NULL), E_INVALIDARG);
    EXPECT_EQ(client.bulk->Cancel(GUID_NULL), E_INVALIDARG);
    // Cancelled before it started: dropped, its callback let go, unheard.
    EXPECT_EQ(client.bulk->Cancel(other), S_OK);
    EXPECT_EQ(dropped.refs(), 1u);
    EXPECT_EQ(client.bulk->Start(other), E_INVALIDARG);
    // A context queued through one bulk object starts through another.
    Ref<IPortableDevicePropertiesBulk> second;
    ASSERT_EQ(client.properties->QueryInterface(
                  IID_IPortableDevicePropertiesBulk, second.OutVoid()),
              S_OK);
    EXPECT_EQ(second->Start(context), S_OK);
    EXPECT_EQ(second->Start(context), E_INVALIDARG);  // once
    ASSERT_TRUE(recorder.WaitForEnd());
    EXPECT_EQ(recorder.objects(), 3u);
    EXPECT_EQ(dropped.order(), "");
    EXPECT_TRUE(recorder.WaitForRelease());

    Ref<IPortableDevicePropVariantCollection> ids;
    ASSERT_EQ(Create(CLSID_PortableDevicePropVariantCollection,
                     IID_IPortableDevicePropVariantCollection, &ids),
              S_OK);
    PROPVARIANT number;
    PropVariantInit(&number);
    number.vt = VT_UI4;
    ids->Add(&number);
    EXPECT_EQ(client.bulk->QueueGetValuesByObjectList(ids.get(), nullptr,
                                                      &recorder, &other),
              E_INVALIDARG);
    EXPECT_EQ(client.bulk->QueueGetValuesByObjectList(nullptr, nullptr,
                                                      &recorder, &other),
              E_POINTER);
    EXPECT_EQ(client.bulk->QueueGetValuesByObjectFormat(
                  WPD_OBJECT_FORMAT_EXIF, L"s", 1, nullptr, &recorder, &other),
              E_NOTIMPL);
    EXPECT_EQ(client.bulk->QueueSetValuesByObjectList(nullptr, &recorder,
                                                      &other),
              E_NOTIMPL);
    EXPECT_EQ(recorder.refs(), 1u);
    // A closed device object queues and starts nothing.
    client.device->Close();
    BulkRecorder late;
    EXPECT_EQ(client.Queue(FileIds(1), nullptr, &late, &other),
              E_WPD_DEVICE_NOT_OPEN);
  });
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
}

TEST(WpdBulkProperties, LinkChargesARoundTripPerBatchAndTheObjectsBytes) {
  Fixture fixture = BulkPhone(250);
  wpd_sim::LinkSpec link;
  link.round_trip_ms = 2;
  link.megabytes_per_second = 0.25;  // 250 bytes a millisecond
  fixture.devices[0].Link(link);
  Simulator sim(std::move(fixture));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Client client;
    BulkRecorder recorder;
    GUID context;
    ASSERT_EQ(client.Open(), S_OK);
    ASSERT_EQ(client.Queue(FileIds(250), nullptr, &recorder, &context), S_OK);
    const wpd_sim::LinkCounts before = sim.LinkUse(kPhone);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(client.bulk->Start(context), S_OK);
    ASSERT_TRUE(recorder.WaitForEnd());
    const double elapsed_ms = std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
    const wpd_sim::LinkCounts after = sim.LinkUse(kPhone);
    // 3 batches of 2 ms, and 250 objects of 250 bytes at 250 bytes a ms.
    EXPECT_EQ(after.bulk_batches - before.bulk_batches, 3u);
    EXPECT_EQ(after.bulk_bytes - before.bulk_bytes, 62500u);
    EXPECT_NEAR(after.modelled_ms - before.modelled_ms, 256.0, 1e-6);
    EXPECT_GE(elapsed_ms, 250.0);
    // Queueing crossed nothing; the bulk reads are not round trips or reads.
    EXPECT_EQ(after.round_trips, before.round_trips);
    EXPECT_EQ(after.bytes_read, before.bytes_read);
    EXPECT_EQ(before.bulk_batches, 0u);
    client.device->Close();
  });
}

TEST(WpdBulkProperties, ValuesCollectionHoldsReferencesInOrder) {
  Simulator sim(BulkPhone(0));
  ASSERT_TRUE(sim.ok()) << sim.error();
  InMta([&] {
    Ref<IPortableDeviceValuesCollection> list;
    Ref<IPortableDeviceValues> a, b, got;
    ASSERT_EQ(Create(CLSID_PortableDeviceValuesCollection,
                     IID_IPortableDeviceValuesCollection, &list),
              S_OK);
    ASSERT_EQ(Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, &a),
              S_OK);
    ASSERT_EQ(Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, &b),
              S_OK);
    EXPECT_EQ(list->Add(a.get()), S_OK);
    EXPECT_EQ(list->Add(b.get()), S_OK);
    DWORD count = 0;
    EXPECT_EQ(list->GetCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(list->GetAt(1, got.Out()), S_OK);
    EXPECT_EQ(got.get(), b.get());
    EXPECT_EQ(list->GetAt(2, got.Out()), E_INVALIDARG);
    EXPECT_EQ(got.get(), nullptr);
    EXPECT_EQ(list->RemoveAt(2), E_INVALIDARG);
    EXPECT_EQ(list->RemoveAt(0), S_OK);
    ASSERT_EQ(list->GetAt(0, got.Out()), S_OK);
    EXPECT_EQ(got.get(), b.get());
    EXPECT_EQ(list->Clear(), S_OK);
    EXPECT_EQ(list->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    got.Reset();
    list->Add(a.get());
  });
  // Every reference taken was given back: nothing leaks, nothing is freed
  // twice.
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  ASSERT_TRUE(sim.SetProcessFault(Call::kCreateValuesCollection,
                                  Fault{E_OUTOFMEMORY, 0}));
  InMta([&] {
    Ref<IPortableDeviceValuesCollection> list;
    EXPECT_EQ(Create(CLSID_PortableDeviceValuesCollection,
                     IID_IPortableDeviceValuesCollection, &list),
              E_OUTOFMEMORY);
  });
}

// --- the call log ------------------------------------------------------------

// What a short bulk read of f0..f2 saw, each step stopping at a failure.
struct Seen {
  HRESULT open = S_OK, queue = S_OK, start = S_OK, cancel = S_OK;
  std::string order;
  HRESULT get_at = S_OK;
  std::vector<std::string> ids;
};

Seen ReadThree() {
  Seen run;
  InMta([&] {
    BulkRecorder recorder;
    {
      Client client;
      GUID context;
      run.open = client.Open();
      if (SUCCEEDED(run.open)) {
        run.queue = client.Queue(FileIds(3), nullptr, &recorder, &context);
        if (SUCCEEDED(run.queue)) run.start = client.bulk->Start(context);
        if (SUCCEEDED(run.queue) && SUCCEEDED(run.start)) {
          EXPECT_TRUE(recorder.WaitForEnd());
          run.cancel = client.bulk->Cancel(context);
        }
      }
      if (client.device) client.device->Close();
    }
    // Started or not, the request lets its callback go.
    EXPECT_TRUE(recorder.WaitForRelease());
    run.order = recorder.order();
    if (!run.order.empty() && run.order.back() == 'E') {
      for (const BulkRecorder::Batch& batch : recorder.batches()) {
        if (FAILED(batch.get_at)) run.get_at = batch.get_at;
        for (IPortableDeviceValues* values : batch.values) {
          LPWSTR id = nullptr;
          values->GetStringValue(WPD_OBJECT_ID, &id);
          std::wstring text = wpd_test::Take(id);
          run.ids.emplace_back(text.begin(), text.end());
        }
      }
    }
  });
  return run;
}

TEST(WpdBulkProperties, CallLogRecordsBulkCallsAndEachStruckAnswersAsDocumented) {
  std::vector<wpd_sim::LoggedCall> calls;
  {
    Simulator sim(BulkPhone(3));
    ASSERT_TRUE(sim.ok()) << sim.error();
    wpd_sim::CallLog log;
    Seen run = ReadThree();
    EXPECT_EQ(run.ids, (std::vector<std::string>{"f0", "f1", "f2"}));
    calls = log.calls();
  }
  // In order, among the others.
  const std::vector<wpd_sim::LoggedCall> bulk_calls = {
      {"Bulk.QueueGetValuesByObjectList", "3 objects"},
      {"Bulk.Start", "3 objects"},
      {"ValuesCollection.GetCount", ""},
      {"ValuesCollection.GetAt", "f0"},
      {"ValuesCollection.GetAt", "f1"},
      {"ValuesCollection.GetAt", "f2"},
      {"Bulk.Cancel", "3 objects"},
  };
  std::vector<wpd_sim::LoggedCall> seen;
  for (const wpd_sim::LoggedCall& call : calls) {
    if (call.method.rfind("Bulk.", 0) == 0 ||
        call.method.rfind("ValuesCollection.", 0) == 0) {
      seen.push_back(call);
    }
  }
  EXPECT_EQ(seen, bulk_calls);

  // Every call struck in turn: nothing leaks, and the bulk calls answer as
  // documented.
  for (size_t k = 1; k <= calls.size(); ++k) {
    const wpd_sim::LoggedCall& call = calls[k - 1];
    if (call.method == "CoUninitialize") continue;
    SCOPED_TRACE(std::to_string(k) + " " + call.method + " " + call.target);
    Simulator sim(BulkPhone(3));
    ASSERT_TRUE(sim.ok()) << sim.error();
    Seen run;
    {
      wpd_sim::CallLog log(k, E_FAIL);
      run = ReadThree();
      ASSERT_TRUE(log.struck().has_value());
      EXPECT_EQ(*log.struck(), call);
    }
    if (call.method == "Bulk.QueueGetValuesByObjectList") {
      EXPECT_EQ(run.queue, E_FAIL);
      EXPECT_EQ(run.order, "");
    } else if (call.method == "Bulk.Start") {
      EXPECT_EQ(run.start, E_FAIL);
      EXPECT_EQ(run.order, "");
    } else if (call.method == "ValuesCollection.GetCount") {
      EXPECT_EQ(run.get_at, E_FAIL);
      EXPECT_TRUE(run.ids.empty());
    } else if (call.method == "ValuesCollection.GetAt") {
      EXPECT_EQ(run.get_at, E_FAIL);
      EXPECT_EQ(run.ids.size(), 2u);
      EXPECT_EQ(std::count(run.ids.begin(), run.ids.end(), call.target), 0);
    } else if (call.method == "Bulk.Cancel") {
      EXPECT_EQ(run.cancel, E_FAIL);
    }
    if (SUCCEEDED(run.open) && SUCCEEDED(run.queue) && SUCCEEDED(run.start)) {
      EXPECT_EQ(run.order.back(), 'E');
    }
    EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
    EXPECT_EQ(sim.OpenWithoutClose(), call.method == "Device.Close" ? 1 : 0);
  }
}

}  // namespace
