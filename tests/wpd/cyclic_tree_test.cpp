// Devices whose object tree is not a tree: a folder listed inside itself or
// its own descendants. The simulated devices keep a strict tree, so the
// cycle is made by a content interface that lists extra ids in one folder.
#include <gtest/gtest.h>
#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/media_walk.h"

namespace snapferry {
namespace {

using wpd_sim::ContentType;
using wpd_sim::DeviceSpec;
using wpd_sim::Fixture;
using wpd_sim::Simulator;

const std::wstring kPhone = L"phone";

LPWSTR CopyToTaskMem(const std::wstring& text) {
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

// Hands out a fixed list of ids, as many as asked for at a time.
class ListEnumerator final : public IEnumPortableDeviceObjectIDs {
 public:
  explicit ListEnumerator(std::vector<std::wstring> ids)
      : ids_(std::move(ids)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualGUID(iid, IID_IUnknown) ||
        IsEqualGUID(iid, IID_IEnumPortableDeviceObjectIDs)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, LPWSTR* ids,
                                 ULONG* fetched) override {
    ULONG given = 0;
    while (given < count && next_ < ids_.size()) {
      ids[given++] = CopyToTaskMem(ids_[next_++]);
    }
    *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }

 private:
  ~ListEnumerator() = default;

  std::atomic<ULONG> refs_{1};
  std::vector<std::wstring> ids_;
  size_t next_ = 0;
};

// The simulated content, except that listing `folder` also gives `extra`
// after the folder's real children. Lives on the stack of the test; the walk
// only borrows it.
class LoopingContent final : public IPortableDeviceContent {
 public:
  LoopingContent(IPortableDeviceContent* inner, std::wstring folder,
                 std::vector<std::wstring> extra)
      : inner_(inner), folder_(std::move(folder)), extra_(std::move(extra)) {}

  int listings() const { return listings_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE
  EnumObjects(const DWORD flags, LPCWSTR parent, IPortableDeviceValues* filter,
              IEnumPortableDeviceObjectIDs** out) override {
    // A walk that follows the loop stops here instead of running forever.
    if (++listings_ > 1000) return E_ABORT;
    if (folder_ != parent) {
      return inner_->EnumObjects(flags, parent, filter, out);
    }
    ComPtr<IEnumPortableDeviceObjectIDs> real;
    HRESULT hr = inner_->EnumObjects(flags, parent, filter, real.Put());
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> ids;
    LPWSTR batch[8] = {};
    ULONG fetched = 0;
    while (SUCCEEDED(real->Next(8, batch, &fetched)) && fetched > 0) {
      for (ULONG i = 0; i < fetched; ++i) {
        ids.push_back(batch[i]);
        CoTaskMemFree(batch[i]);
        batch[i] = nullptr;
      }
    }
    ids.insert(ids.end(), extra_.begin(), extra_.end());
    *out = new ListEnumerator(std::move(ids));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  Properties(IPortableDeviceProperties** out) override {
    return inner_->Properties(out);
  }
  HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources** out) override {
    return inner_->Transfer(out);
  }
  HRESULT STDMETHODCALLTYPE
  CreateObjectWithPropertiesOnly(IPortableDeviceValues*, LPWSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(
      IPortableDeviceValues*, IStream**, DWORD*, LPWSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  Delete(const DWORD, IPortableDevicePropVariantCollection*,
         IPortableDevicePropVariantCollection**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(
      IPortableDevicePropVariantCollection*,
      IPortableDevicePropVariantCollection**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE
  Move(IPortableDevicePropVariantCollection*, LPCWSTR,
       IPortableDevicePropVariantCollection**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  Copy(IPortableDevicePropVariantCollection*, LPCWSTR,
       IPortableDevicePropVariantCollection**) override {
    return E_NOTIMPL;
  }

 private:
  IPortableDeviceContent* inner_;
  std::wstring folder_;
  std::vector<std::wstring> extra_;
  int listings_ = 0;
};

wpd_sim::ObjectSpec& File(DeviceSpec& device, const std::wstring& id,
                          const std::wstring& parent, const std::wstring& name,
                          uint64_t size) {
  return device.Add(id, parent, ContentType::kImage)
      .Name(name)
      .OriginalFileName(name)
      .Size(size);
}

Fixture CameraRoll() {
  Fixture fixture;
  DeviceSpec& phone = fixture.AddDevice(kPhone);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"dcim", L"s1", L"DCIM");
  phone.AddFolder(L"100", L"dcim", L"100APPLE");
  File(phone, L"p1", L"100", L"IMG_0001.HEIC", 10);
  File(phone, L"v1", L"100", L"IMG_0002.MOV", 20);
  phone.AddFolder(L"dl", L"s1", L"Downloads");
  File(phone, L"x", L"dl", L"x.jpg", 40);
  return fixture;
}

// Opens the phone with the walk's keys and hands the content to `walk`.
template <class Walk>
void WithOpenPhone(const std::vector<PROPERTYKEY>& keys, Walk walk) {
  std::thread([&] {
    ComApartmentGuard apartment;
    ASSERT_TRUE(apartment.usable());
    ComPtr<IPortableDevice> device;
    ASSERT_EQ(OpenDevice("phone", GENERIC_READ, device), S_OK);
    {
      ContentAccess access;
      ASSERT_EQ(access.Prepare(device.get()), S_OK);
      for (const PROPERTYKEY& key : keys) access.keys->Add(key);
      walk(access);
    }
    device->Close();
  }).join();
}

const std::vector<PROPERTYKEY> kScanKeys = {
    WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE,
    WPD_OBJECT_SIZE};

TEST(CyclicTreeTest, ScanWalksAFolderListedInsideItselfOnce) {
  Simulator sim(CameraRoll());
  ASSERT_TRUE(sim.ok()) << sim.error();
  ScanResult plain;
  ScanResult looped;
  int listings = 0;
  WithOpenPhone(kScanKeys, [&](ContentAccess& access) {
    WalkForScan(access.content.get(), access.properties.get(),
                access.keys.get(), &plain);
    // 100APPLE lists itself, its parent, the storage and the root again.
    LoopingContent looping(access.content.get(), L"100",
                           {L"100", L"dcim", L"s1", L"DEVICE"});
    WalkForScan(&looping, access.properties.get(), access.keys.get(), &looped);
    listings = looping.listings();
  });
  // Each of the five containers (root included) is listed once.
  EXPECT_EQ(listings, 5);
  EXPECT_EQ(looped.status, ScanStatus::kOk);
  EXPECT_TRUE(looped.dcimFound);
  EXPECT_EQ(looped.storageChildren, plain.storageChildren);
  EXPECT_EQ(looped.counts.photos, 1u);
  EXPECT_EQ(looped.counts.videos, 1u);
  EXPECT_EQ(looped.counts.others, 0u);  // the root is a container too
  EXPECT_EQ(looped.counts.totalBytes, 30u);
  EXPECT_EQ(plain.counts.totalBytes, 30u);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

TEST(CyclicTreeTest, EnumerationListsEachFileOfALoopingTreeOnce) {
  Simulator sim(CameraRoll());
  ASSERT_TRUE(sim.ok()) << sim.error();
  EnumerationResult plain;
  EnumerationResult looped;
  int listings = 0;
  std::vector<PROPERTYKEY> keys = kScanKeys;
  keys.push_back(WPD_OBJECT_DATE_CREATED);
  keys.push_back(WPD_OBJECT_DATE_MODIFIED);
  WithOpenPhone(keys, [&](ContentAccess& access) {
    WalkForEnumeration(access.content.get(), access.properties.get(),
                       access.keys.get(), &plain);
    // The camera roll lists the storage that holds it.
    LoopingContent looping(access.content.get(), L"dcim", {L"s1"});
    WalkForEnumeration(&looping, access.properties.get(), access.keys.get(),
                       &looped);
    listings = looping.listings();
  });
  EXPECT_EQ(listings, 5);
  ASSERT_EQ(looped.entries.size(), 2u);
  ASSERT_EQ(plain.entries.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(looped.entries[i].objectId, plain.entries[i].objectId);
    EXPECT_EQ(looped.entries[i].parentPath, "100APPLE");
  }
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  EXPECT_EQ(sim.OpenWithoutClose(), 0);
}

}  // namespace
}  // namespace snapferry
