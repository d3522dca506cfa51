#include "wpd/device_discovery.h"

#include <memory>
#include <utility>
#include <vector>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"

namespace snapferry {
namespace {

// The identifiers GetDevices hands out; whatever is still held is freed.
class DeviceIdArray {
 public:
  explicit DeviceIdArray(DWORD count)
      : ids_(std::make_unique<LPWSTR[]>(count)), count_(count) {}
  ~DeviceIdArray() {
    for (DWORD i = 0; i < count_; ++i) CoTaskMemFree(ids_[i]);
  }
  DeviceIdArray(const DeviceIdArray&) = delete;
  DeviceIdArray& operator=(const DeviceIdArray&) = delete;

  LPWSTR* data() { return ids_.get(); }
  DWORD size() const { return count_; }
  LPCWSTR at(DWORD i) const { return ids_[i]; }
  void Free(DWORD i) {
    CoTaskMemFree(ids_[i]);
    ids_[i] = nullptr;
  }

 private:
  std::unique_ptr<LPWSTR[]> ids_;  // value-initialised: all null
  DWORD count_;
};

}  // namespace

std::wstring GetDeviceString(IPortableDeviceManager* manager,
                             const std::wstring& device_id, DeviceText which) {
  auto query = [&](WCHAR* buffer, DWORD* length) {
    switch (which) {
      case DeviceText::kFriendlyName:
        return manager->GetDeviceFriendlyName(device_id.c_str(), buffer,
                                              length);
      case DeviceText::kManufacturer:
        return manager->GetDeviceManufacturer(device_id.c_str(), buffer,
                                              length);
      case DeviceText::kDescription:
        break;
    }
    return manager->GetDeviceDescription(device_id.c_str(), buffer, length);
  };
  DWORD length = 0;
  if (FAILED(query(nullptr, &length)) || length == 0) return std::wstring();
  std::wstring text(length, L'\0');
  if (FAILED(query(text.data(), &length))) return std::wstring();
  size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  return text;
}

bool LooksLikeAppleDevice(const std::wstring& friendly_name,
                          const std::wstring& manufacturer,
                          const std::wstring& description) {
  std::wstring joined =
      LowerCaseUnits(friendly_name + L" " + manufacturer + L" " + description);
  return joined.find(L"apple") != std::wstring::npos ||
         joined.find(L"iphone") != std::wstring::npos ||
         joined.find(L"ipad") != std::wstring::npos;
}

namespace {

// Every id the manager lists now (after a refresh, whose failure still
// leaves the manager's last known list), in its order; the HRESULT of the
// GetDevices call that failed.
HRESULT GetDeviceIds(IPortableDeviceManager* manager,
                     std::vector<std::wstring>* listed) {
  manager->RefreshDeviceList();
  DWORD count = 0;
  HRESULT hr = manager->GetDevices(nullptr, &count);
  if (FAILED(hr) || count == 0) return hr;
  DeviceIdArray ids(count);
  DWORD filled = count;
  hr = manager->GetDevices(ids.data(), &filled);
  if (FAILED(hr)) return hr;
  // A device may have gone between the two calls; never trust a count
  // beyond the array handed in.
  if (filled > ids.size()) filled = ids.size();
  listed->reserve(filled);
  for (DWORD i = 0; i < filled; ++i) {
    listed->push_back(ids.at(i) != nullptr ? ids.at(i) : L"");
  }
  return S_OK;
}

HRESULT CreateManager(ComPtr<IPortableDeviceManager>& manager) {
  return CoCreateInstance(CLSID_PortableDeviceManager, nullptr,
                          CLSCTX_INPROC_SERVER, IID_IPortableDeviceManager,
                          manager.PutVoid());
}

}  // namespace

DeviceList ListDevices() {
  DeviceList result;
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    result.message = kComInitialisationFailed;
    return result;
  }
  ComPtr<IPortableDeviceManager> manager;
  HRESULT hr = CreateManager(manager);
  if (FAILED(hr)) {
    result.message = FormatHresultFailure("Create PortableDeviceManager", hr);
    return result;
  }
  std::vector<std::wstring> ids;
  hr = GetDeviceIds(manager.get(), &ids);
  if (FAILED(hr)) {
    result.message = FormatHresultFailure("GetDevices", hr);
    return result;
  }
  result.devices.reserve(ids.size());
  for (const std::wstring& id : ids) {
    std::wstring friendly_name =
        GetDeviceString(manager.get(), id, DeviceText::kFriendlyName);
    std::wstring manufacturer =
        GetDeviceString(manager.get(), id, DeviceText::kManufacturer);
    std::wstring description =
        GetDeviceString(manager.get(), id, DeviceText::kDescription);
    DeviceInfo info;
    info.id = WideToUtf8(id);
    info.friendlyName = WideToUtf8(friendly_name);
    info.manufacturer = WideToUtf8(manufacturer);
    info.model = WideToUtf8(description);
    info.isApple =
        LooksLikeAppleDevice(friendly_name, manufacturer, description);
    result.devices.push_back(std::move(info));
  }
  return result;
}

HRESULT FindListedDevice(const std::string& device_id, bool* listed) {
  *listed = false;
  ComPtr<IPortableDeviceManager> manager;
  HRESULT hr = CreateManager(manager);
  if (FAILED(hr)) return hr;
  std::vector<std::wstring> ids;
  hr = GetDeviceIds(manager.get(), &ids);
  if (FAILED(hr)) return hr;
  // Device paths name the same device in either case.
  const std::wstring wanted = LowerCaseUnits(Utf8ToWide(device_id));
  for (const std::wstring& id : ids) {
    if (LowerCaseUnits(id) == wanted) {
      *listed = true;
      break;
    }
  }
  return S_OK;
}

}  // namespace snapferry
