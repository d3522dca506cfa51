#include "wpd/media_walk.h"

#include <utility>
#include <vector>

#include "wpd/device_connection.h"
#include "wpd/property_reader.h"

namespace snapferry {
namespace {

// HRESULT_FROM_WIN32(ERROR_NOT_FOUND): the object has no such property.
constexpr HRESULT kNoSuchProperty = static_cast<HRESULT>(0x80070490);
constexpr HRESULT kTypeMismatch = static_cast<HRESULT>(0x80020005);

struct PendingContainer {
  std::wstring id;
  std::string path;  // the container's own name
  bool inDcim;
  int32_t depth;
};

// The walk's unread items, with whether each lies at or below a dcim
// container, for the rule that keeps only those once one was met.
class UnreadList {
 public:
  UnreadList(std::vector<UnreadItem>* items, const WentAwayCheck& went_away)
      : items_(items), first_(items->size()), went_away_(went_away) {}

  // True when `hr` stops the walk; else the item is recorded.
  bool StopsAt(HRESULT hr, const std::string& folder, LPCWSTR id,
               bool in_dcim) {
    if (IsDeviceGone(hr) && (!went_away_ || went_away_(hr))) return true;
    UnreadItem& item = items_->emplace_back();
    item.folder = folder;
    if (id != nullptr) AssignUtf8(id, &item.objectId);
    item.hresult = static_cast<int32_t>(hr);
    in_dcim_.push_back(in_dcim);
    return false;
  }

  void Finish(bool dcim_met) {
    if (!dcim_met) return;
    size_t kept = first_;
    for (size_t i = 0; i < in_dcim_.size(); ++i) {
      if (!in_dcim_[i]) continue;
      // Never onto itself: a string moved onto itself may come out empty.
      if (kept != first_ + i)
        (*items_)[kept] = std::move((*items_)[first_ + i]);
      ++kept;
    }
    items_->resize(kept);
  }

 private:
  std::vector<UnreadItem>* items_;
  size_t first_;
  const WentAwayCheck& went_away_;
  std::vector<bool> in_dcim_;
};

// The object's content type (GUID_NULL when it has none) and name; the code
// of what could not be read, S_OK when both could.
HRESULT ReadTypeAndName(IPortableDeviceValues* values, GUID* content_type,
                        std::wstring* name) {
  *content_type = GUID_NULL;
  const HRESULT hr = PropertyReadResult(
      values, WPD_OBJECT_CONTENT_TYPE,
      values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, content_type));
  if (FAILED(hr)) {
    *content_type = GUID_NULL;
    if (hr != kNoSuchProperty) return hr;
  }
  HRESULT failure = S_OK;
  if (!ReadObjectName(values, name, &failure)) return failure;
  return S_OK;
}

}  // namespace

const char* WalkCalls::Name(Call call) {
  static const char* const kNames[kCallCount] = {
      "EnumObjects", "Next", "GetValues", "QueueGetValuesByObjectList",
      "Start",       "Cancel"};
  return call >= 0 && call < kCallCount ? kNames[call] : "?";
}

uint64_t WalkCalls::total() const {
  uint64_t sum = 0;
  for (uint64_t count : counts_) sum += count;
  return sum;
}

HRESULT WalkObjects(IPortableDeviceContent* content,
                    IPortableDeviceProperties* properties,
                    IPortableDeviceKeyCollection* keys, WalkVisitor& visitor,
                    std::vector<UnreadItem>* unread,
                    const WentAwayCheck& went_away, WalkCalls* calls) {
  ContainerSet taken(WPD_DEVICE_OBJECT_ID);
  std::vector<PendingContainer> stack;
  stack.push_back({WPD_DEVICE_OBJECT_ID, std::string(), false, 0});
  PropertyReader reader(properties, keys, calls);
  UnreadList passed_over(unread, went_away);
  bool dcim_met = false;
  // Reused from object to object, so that reading a name costs no
  // allocation of ours once the longest name was met.
  std::wstring name;
  while (!stack.empty()) {
    PendingContainer parent = std::move(stack.back());
    stack.pop_back();

    ComPtr<IEnumPortableDeviceObjectIDs> enumerator;
    HRESULT hr =
        content->EnumObjects(0, parent.id.c_str(), nullptr, enumerator.Put());
    if (calls != nullptr)
      calls->Made(WalkCalls::kEnumObjects, hr, parent.id.c_str());
    if (FAILED(hr)) {
      // Stops only for a device that went away: what was seen so far would
      // pass for the whole device.
      if (passed_over.StopsAt(hr, parent.path, parent.id.c_str(),
                              parent.inDcim)) {
        return hr;
      }
      continue;
    }
    ObjectIdBatch batch(enumerator.get(), calls, parent.id.c_str());
    while (batch.Fetch(reader.ids_per_read(), &hr) > 0) {
      reader.Prefetch(batch.data(), batch.size());
      for (size_t i = 0; i < batch.size(); ++i) {
        LPCWSTR id = batch.at(i);
        ComPtr<IPortableDeviceValues> values;
        hr = reader.Read(id, &values);
        GUID content_type = GUID_NULL;
        if (SUCCEEDED(hr)) {
          hr = ReadTypeAndName(values.get(), &content_type, &name);
        }
        if (FAILED(hr)) {
          if (passed_over.StopsAt(hr, parent.path, id, parent.inDcim)) {
            return hr;
          }
          batch.Free(i);
          continue;
        }
        const bool is_container = IsContainer(content_type);
        const bool is_dcim = is_container && IsDcimName(name);
        dcim_met = dcim_met || is_dcim;
        const bool enter =
            visitor.Visit({id, values.get(), content_type, name, is_container,
                           is_dcim, parent.id.c_str(), parent.depth,
                           parent.inDcim, parent.path});
        if (is_container && enter && taken.Insert(id)) {
          std::string path;
          AssignUtf8(name, &path);
          stack.push_back({id, std::move(path), is_dcim || parent.inDcim,
                           parent.depth + 1});
        }
        batch.Free(i);
      }
    }
    // A failing Next ends the container's listing; what it gave stays.
    if (FAILED(hr) && passed_over.StopsAt(hr, parent.path, parent.id.c_str(),
                                          parent.inDcim)) {
      return hr;
    }
  }
  passed_over.Finish(dcim_met);
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

size_t ObjectIdBatch::Fetch(size_t wanted, HRESULT* failure) {
  FreeAll();
  while (!ended_ && (ids_.empty() || ids_.size() < wanted)) {
    LPWSTR ids[kPerNext] = {};
    ULONG fetched = 0;
    const HRESULT hr = enumerator_->Next(kPerNext, ids, &fetched);
    if (calls_ != nullptr) calls_->Made(WalkCalls::kNext, hr, listing_);
    if (FAILED(hr)) fetched = 0;
    if (fetched > kPerNext) fetched = kPerNext;
    for (ULONG i = 0; i < kPerNext; ++i) {
      if (i < fetched) {
        ids_.push_back(ids[i]);
      } else if (ids[i] != nullptr) {
        CoTaskMemFree(ids[i]);
      }
    }
    if (FAILED(hr)) failure_ = hr;
    if (fetched == 0) ended_ = true;
  }
  if (failure != nullptr) *failure = failure_;
  return ids_.size();
}

void ObjectIdBatch::FreeAll() {
  for (LPWSTR id : ids_) CoTaskMemFree(id);
  ids_.clear();
}

HRESULT ReadObjectValues(IPortableDeviceContent* content,
                         const std::wstring& object,
                         std::initializer_list<PROPERTYKEY> wanted,
                         ComPtr<IPortableDeviceValues>* values) {
  ComPtr<IPortableDeviceProperties> properties;
  ComPtr<IPortableDeviceKeyCollection> keys;
  HRESULT hr = content->Properties(properties.Put());
  if (SUCCEEDED(hr) && !properties) hr = E_POINTER;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr,
                          CLSCTX_INPROC_SERVER,
                          IID_IPortableDeviceKeyCollection, keys.PutVoid());
    if (SUCCEEDED(hr) && !keys) hr = E_POINTER;
  }
  for (const PROPERTYKEY& key : wanted) {
    if (SUCCEEDED(hr)) hr = keys->Add(key);
  }
  if (SUCCEEDED(hr)) {
    hr = properties->GetValues(object.c_str(), keys.get(), values->Put());
    if (SUCCEEDED(hr) && !*values) hr = E_POINTER;
  }
  return hr;
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

bool ReadObjectName(IPortableDeviceValues* values, std::wstring* name,
                    HRESULT* failure) {
  name->clear();
  HRESULT failed = S_OK;
  for (const PROPERTYKEY* key :
       {&WPD_OBJECT_ORIGINAL_FILE_NAME, &WPD_OBJECT_NAME}) {
    CoTaskMemString text;
    HRESULT hr = values->GetStringValue(*key, text.Put());
    if (SUCCEEDED(hr) && text.get() != nullptr) name->assign(text.get());
    if (!name->empty()) return true;
    if (FAILED(hr)) hr = PropertyReadResult(values, *key, hr);
    if (FAILED(hr) && hr != kNoSuchProperty && SUCCEEDED(failed)) failed = hr;
  }
  if (failure != nullptr) *failure = failed;
  return SUCCEEDED(failed);
}

HRESULT PropertyReadResult(IPortableDeviceValues* values,
                           const PROPERTYKEY& key, HRESULT read) {
  if (read != kTypeMismatch) return read;
  HRESULT stored = S_OK;
  if (SUCCEEDED(values->GetErrorValue(key, &stored)) && FAILED(stored)) {
    return stored;
  }
  return read;
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
