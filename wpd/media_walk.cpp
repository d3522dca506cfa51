#include "wpd/media_walk.h"

#include "wpd/device_connection.h"

namespace snapferry {

HRESULT ContentAccess::Prepare(IPortableDevice* device) {
  HRESULT hr = device->Content(content.Put());
  if (FAILED(hr)) return hr;
  hr = content->Properties(properties.Put());
  if (FAILED(hr)) return hr;
  return CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr,
                          CLSCTX_INPROC_SERVER,
                          IID_IPortableDeviceKeyCollection, keys.PutVoid());
}

HRESULT ContentAccess::AddKeys(std::initializer_list<PROPERTYKEY> wanted) {
  for (const PROPERTYKEY& key : wanted) {
    HRESULT hr = keys->Add(key);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

ULONG ObjectIdBatch::Fetch(IEnumPortableDeviceObjectIDs* enumerator,
                           HRESULT* failure) {
  FreeAll();
  ULONG fetched = 0;
  HRESULT hr = enumerator->Next(kCapacity, ids_, &fetched);
  if (failure != nullptr) *failure = FAILED(hr) ? hr : S_OK;
  if (FAILED(hr)) return 0;
  return fetched < kCapacity ? fetched : kCapacity;
}

void ObjectIdBatch::FreeAll() {
  for (LPWSTR& id : ids_) {
    if (id != nullptr) {
      CoTaskMemFree(id);
      id = nullptr;
    }
  }
}

bool IsContainer(const GUID& content_type) {
  return IsEqualGUID(content_type, WPD_CONTENT_TYPE_FOLDER) ||
         IsEqualGUID(content_type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT);
}

std::wstring ReadObjectName(IPortableDeviceValues* values) {
  std::wstring name = ReadStringValue(values, WPD_OBJECT_ORIGINAL_FILE_NAME);
  if (name.empty()) name = ReadStringValue(values, WPD_OBJECT_NAME);
  return name;
}

bool IsDcimName(const std::wstring& name) {
  return name.size() == 4 && LowerCaseUnits(name) == L"dcim";
}

}  // namespace snapferry
