#include "wpd/media_walk.h"

#include <utility>
#include <vector>

#include "wpd/device_connection.h"

namespace snapferry {
namespace {

struct PendingContainer {
  std::wstring id;
  std::string path;  // the container's own name
  bool inDcim;
  int32_t depth;
};

}  // namespace

HRESULT WalkObjects(IPortableDeviceContent* content,
                    IPortableDeviceProperties* properties,
                    IPortableDeviceKeyCollection* keys, WalkVisitor& visitor) {
  ContainerSet taken(WPD_DEVICE_OBJECT_ID);
  std::vector<PendingContainer> stack;
  stack.push_back({WPD_DEVICE_OBJECT_ID, std::string(), false, 0});
  ObjectIdBatch batch;
  // Reused from object to object, so that reading a name costs no
  // allocation of ours once the longest name was met.
  std::wstring name;
  while (!stack.empty()) {
    PendingContainer parent = std::move(stack.back());
    stack.pop_back();

    ComPtr<IEnumPortableDeviceObjectIDs> enumerator;
    HRESULT hr =
        content->EnumObjects(0, parent.id.c_str(), nullptr, enumerator.Put());
    // A device that went away cannot be read further; what was seen so far
    // would pass for the whole device.
    if (IsDeviceGone(hr)) return hr;
    if (FAILED(hr)) continue;
    for (ULONG fetched; (fetched = batch.Fetch(enumerator.get(), &hr)) > 0;) {
      for (ULONG i = 0; i < fetched; ++i) {
        LPCWSTR id = batch.at(i);
        ComPtr<IPortableDeviceValues> values;
        hr = id != nullptr ? properties->GetValues(id, keys, values.Put())
                           : E_POINTER;
        if (IsDeviceGone(hr)) return hr;
        if (SUCCEEDED(hr)) {
          GUID content_type = GUID_NULL;
          values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &content_type);
          const bool name_unreadable = !ReadObjectName(values.get(), &name);
          const bool is_container = IsContainer(content_type);
          const bool is_dcim = is_container && IsDcimName(name);
          const bool enter = visitor.Visit(
              {id, values.get(), content_type, name, is_container, is_dcim,
               name_unreadable, parent.depth, parent.inDcim, parent.path});
          if (is_container && enter && taken.Insert(id)) {
            std::string path;
            AssignUtf8(name, &path);
            stack.push_back({id, std::move(path), is_dcim || parent.inDcim,
                             parent.depth + 1});
          }
        }
        batch.Free(i);
      }
    }
    if (IsDeviceGone(hr)) return hr;
  }
  return S_OK;
}

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
  std::wstring name;
  ReadObjectName(values, &name);
  return name;
}

bool ReadObjectName(IPortableDeviceValues* values, std::wstring* name) {
  name->clear();
  bool failed = false;
  for (const PROPERTYKEY* key :
       {&WPD_OBJECT_ORIGINAL_FILE_NAME, &WPD_OBJECT_NAME}) {
    CoTaskMemString text;
    const HRESULT hr = values->GetStringValue(*key, text.Put());
    if (SUCCEEDED(hr) && text.get() != nullptr) name->assign(text.get());
    if (!name->empty()) return true;
    // HRESULT_FROM_WIN32(ERROR_NOT_FOUND): the object has no such name.
    failed = failed || (FAILED(hr) && hr != static_cast<HRESULT>(0x80070490));
  }
  return !failed;
}

bool IsDcimName(const std::wstring& name) {
  return name.size() == 4 && LowerCaseUnits(name) == L"dcim";
}

void AssignUtf8(std::wstring_view text, std::string* out) {
  out->resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned>(text[i]) >= 0x80) {
      *out = WideToUtf8(std::wstring(text));
      return;
    }
    (*out)[i] = static_cast<char>(text[i]);
  }
}

}  // namespace snapferry
