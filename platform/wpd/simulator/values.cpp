#include "platform/wpd/simulator/values.h"

#include <utility>

#include "platform/wpd/simulator/call_log.h"

namespace wpd_sim {

LPWSTR DupString(std::wstring_view text) {
  auto* copy =
      static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
  if (copy == nullptr) return nullptr;
  if (!text.empty())
    std::memcpy(copy, text.data(), text.size() * sizeof(WCHAR));
  copy[text.size()] = 0;
  return copy;
}

HRESULT CopyValue(PROPVARIANT* target, const PROPVARIANT& source) {
  PROPVARIANT copy = source;
  switch (source.vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_DATE:
    case VT_BOOL:
    case VT_ERROR:
    case VT_FILETIME:
      break;
    case VT_LPWSTR:
      if (source.pwszVal != nullptr) {
        copy.pwszVal = DupString(source.pwszVal);
        if (copy.pwszVal == nullptr) return E_OUTOFMEMORY;
      }
      break;
    case VT_CLSID:
      if (source.puuid != nullptr) {
        copy.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        if (copy.puuid == nullptr) return E_OUTOFMEMORY;
        *copy.puuid = *source.puuid;
      }
      break;
    case VT_UNKNOWN:
      if (source.punkVal != nullptr) source.punkVal->AddRef();
      break;
    case VT_VECTOR | VT_UI1:
      if (source.caub.cElems > 0) {
        copy.caub.pElems =
            static_cast<UCHAR*>(CoTaskMemAlloc(source.caub.cElems));
        if (copy.caub.pElems == nullptr) return E_OUTOFMEMORY;
        std::memcpy(copy.caub.pElems, source.caub.pElems, source.caub.cElems);
      } else {
        copy.caub.pElems = nullptr;
      }
      break;
    default:
      return E_INVALIDARG;
  }
  *target = copy;
  return S_OK;
}

void ClearValue(PROPVARIANT* value) {
  switch (value->vt) {
    case VT_LPWSTR:
      CoTaskMemFree(value->pwszVal);
      break;
    case VT_CLSID:
      CoTaskMemFree(value->puuid);
      break;
    case VT_UNKNOWN:
      if (value->punkVal != nullptr) value->punkVal->Release();
      break;
    case VT_VECTOR | VT_UI1:
      CoTaskMemFree(value->caub.pElems);
      break;
    default:
      break;
  }
  std::memset(value, 0, sizeof(*value));
}

// ---------------------------------------------------------------------------
// Values

Values::Values(std::shared_ptr<SimState> sim) : ComObject(std::move(sim)) {}

Values::~Values() {
  call_log::Internal internal;
  Clear();
}

bool Values::Answers(REFIID iid) {
  return SameGuid(iid, IID_IPortableDeviceValues);
}

std::optional<HRESULT> Values::Log(const char* method) {
  return LogCall(method, [this] { return source_; });
}

std::optional<HRESULT> Values::Log(const char* method, const PROPERTYKEY& key) {
  return LogCall(method, [&] {
    std::string name = call_log::KeyName(key);
    return source_.empty() ? name : source_ + " " + name;
  });
}

void Values::SetFaultSource(std::shared_ptr<DeviceState> device,
                            uint32_t node) {
  source_ = call_log::Narrow(device->nodes[node].setup.id.c_str());
  fault_device_ = std::move(device);
  fault_node_ = node;
}

void Values::Put(const PROPERTYKEY& key, PROPVARIANT value) {
  for (Entry& entry : entries_) {
    if (SameKey(entry.key, key)) {
      ClearValue(&entry.value);
      entry.value = value;
      return;
    }
  }
  entries_.push_back(Entry{key, value});
}

HRESULT Values::Lookup(const PROPERTYKEY& key, VARTYPE type, const Call* call,
                       const PROPVARIANT** found) {
  if (call != nullptr) {
    sim_->Count(*call);
    if (fault_device_ != nullptr) {
      std::lock_guard<std::mutex> lock(fault_device_->mu);
      HRESULT hr;
      if (fault_device_->Strike(fault_node_, *call, &hr)) return hr;
    }
  }
  for (const Entry& entry : entries_) {
    if (!SameKey(entry.key, key)) continue;
    if (entry.value.vt == VT_ERROR && type != VT_ERROR) {
      return entry.value.scode;
    }
    if (entry.value.vt != type) return kTypeMismatch;
    *found = &entry.value;
    return S_OK;
  }
  return kErrorNotFound;
}

HRESULT Values::GetCount(DWORD* count) {
  if (auto struck = Log("Values.GetCount")) return *struck;
  if (count == nullptr) return E_POINTER;
  *count = static_cast<DWORD>(entries_.size());
  return S_OK;
}

HRESULT Values::GetAt(const DWORD index, PROPERTYKEY* key, PROPVARIANT* value) {
  if (auto struck = Log("Values.GetAt")) return *struck;
  if (index >= entries_.size()) return E_INVALIDARG;
  const Entry& entry = entries_[index];
  if (value != nullptr) {
    HRESULT hr = CopyValue(value, entry.value);
    if (FAILED(hr)) return hr;
  }
  if (key != nullptr) *key = entry.key;
  return S_OK;
}

HRESULT Values::SetValue(REFPROPERTYKEY key, const PROPVARIANT* value) {
  if (auto struck = Log("Values.SetValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  PROPVARIANT copy = EmptyValue();
  HRESULT hr = CopyValue(&copy, *value);
  if (FAILED(hr)) return hr;
  Put(key, copy);
  return S_OK;
}

HRESULT Values::GetValue(REFPROPERTYKEY key, PROPVARIANT* value) {
  if (auto struck = Log("Values.GetValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  static constexpr Call kCall = Call::kGetValue;
  sim_->Count(kCall);
  if (fault_device_ != nullptr) {
    std::lock_guard<std::mutex> lock(fault_device_->mu);
    HRESULT hr;
    if (fault_device_->Strike(fault_node_, kCall, &hr)) return hr;
  }
  for (const Entry& entry : entries_) {
    if (SameKey(entry.key, key)) return CopyValue(value, entry.value);
  }
  return kErrorNotFound;
}

HRESULT Values::SetStringValue(REFPROPERTYKEY key, LPCWSTR value) {
  if (auto struck = Log("Values.SetStringValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_LPWSTR;
  v.pwszVal = DupString(value);
  if (v.pwszVal == nullptr) return E_OUTOFMEMORY;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetStringValue(REFPROPERTYKEY key, LPWSTR* value) {
  if (auto struck = Log("Values.GetStringValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  *value = nullptr;
  static constexpr Call kCall = Call::kGetStringValue;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_LPWSTR, &kCall, &found);
  if (FAILED(hr)) return hr;
  *value = DupString(found->pwszVal != nullptr ? found->pwszVal : L"");
  return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Values::SetUnsignedIntegerValue(REFPROPERTYKEY key, const ULONG value) {
  if (auto struck = Log("Values.SetUnsignedIntegerValue", key)) return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_UI4;
  v.ulVal = value;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG* value) {
  if (auto struck = Log("Values.GetUnsignedIntegerValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_UI4, nullptr, &found);
  if (SUCCEEDED(hr)) *value = found->ulVal;
  return hr;
}

HRESULT Values::SetSignedIntegerValue(REFPROPERTYKEY key, const LONG value) {
  if (auto struck = Log("Values.SetSignedIntegerValue", key)) return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_I4;
  v.lVal = value;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetSignedIntegerValue(REFPROPERTYKEY key, LONG* value) {
  if (auto struck = Log("Values.GetSignedIntegerValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_I4, nullptr, &found);
  if (SUCCEEDED(hr)) *value = found->lVal;
  return hr;
}

HRESULT Values::SetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                             const ULONGLONG value) {
  if (auto struck = Log("Values.SetUnsignedLargeIntegerValue", key))
    return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_UI8;
  v.uhVal.QuadPart = value;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                             ULONGLONG* value) {
  if (auto struck = Log("Values.GetUnsignedLargeIntegerValue", key))
    return *struck;
  if (value == nullptr) return E_POINTER;
  static constexpr Call kCall = Call::kGetUnsignedLargeIntegerValue;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_UI8, &kCall, &found);
  if (SUCCEEDED(hr)) *value = found->uhVal.QuadPart;
  return hr;
}

HRESULT Values::SetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                           const LONGLONG value) {
  if (auto struck = Log("Values.SetSignedLargeIntegerValue", key))
    return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_I8;
  v.hVal.QuadPart = value;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                           LONGLONG* value) {
  if (auto struck = Log("Values.GetSignedLargeIntegerValue", key))
    return *struck;
  if (value == nullptr) return E_POINTER;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_I8, nullptr, &found);
  if (SUCCEEDED(hr)) *value = found->hVal.QuadPart;
  return hr;
}

HRESULT Values::SetFloatValue(REFPROPERTYKEY key, const FLOAT value) {
  if (auto struck = Log("Values.SetFloatValue", key)) return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_R4;
  v.fltVal = value;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetFloatValue(REFPROPERTYKEY key, FLOAT* value) {
  if (auto struck = Log("Values.GetFloatValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_R4, nullptr, &found);
  if (SUCCEEDED(hr)) *value = found->fltVal;
  return hr;
}

HRESULT Values::SetErrorValue(REFPROPERTYKEY key, const HRESULT value) {
  if (auto struck = Log("Values.SetErrorValue", key)) return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_ERROR;
  v.scode = value;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetErrorValue(REFPROPERTYKEY key, HRESULT* value) {
  if (auto struck = Log("Values.GetErrorValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_ERROR, nullptr, &found);
  if (SUCCEEDED(hr)) *value = found->scode;
  return hr;
}

// Key-valued properties never occur in what this system reads.
HRESULT Values::SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY) {
  if (auto struck = Log("Values.SetKeyValue")) return *struck;
  return E_NOTIMPL;
}

HRESULT Values::GetKeyValue(REFPROPERTYKEY, PROPERTYKEY*) {
  if (auto struck = Log("Values.GetKeyValue")) return *struck;
  return E_NOTIMPL;
}

HRESULT Values::SetBoolValue(REFPROPERTYKEY key, const BOOL value) {
  if (auto struck = Log("Values.SetBoolValue", key)) return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetBoolValue(REFPROPERTYKEY key, BOOL* value) {
  if (auto struck = Log("Values.GetBoolValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  static constexpr Call kCall = Call::kGetBoolValue;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_BOOL, &kCall, &found);
  // The VARIANT_BOOL widened with its sign: VARIANT_TRUE reads as -1, and a
  // device's non-standard non-zero value stays non-zero.
  if (SUCCEEDED(hr)) *value = static_cast<BOOL>(found->boolVal);
  return hr;
}

HRESULT Values::SetInterface(const PROPERTYKEY& key, IUnknown* value) {
  if (value == nullptr) return E_POINTER;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_UNKNOWN;
  v.punkVal = value;
  value->AddRef();
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetInterface(const PROPERTYKEY& key, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_UNKNOWN, nullptr, &found);
  if (FAILED(hr)) return hr;
  if (found->punkVal == nullptr) return kTypeMismatch;
  return found->punkVal->QueryInterface(iid, out);
}

HRESULT Values::SetIUnknownValue(REFPROPERTYKEY key, IUnknown* value) {
  if (auto struck = Log("Values.SetIUnknownValue", key)) return *struck;
  return SetInterface(key, value);
}

HRESULT Values::GetIUnknownValue(REFPROPERTYKEY key, IUnknown** value) {
  if (auto struck = Log("Values.GetIUnknownValue", key)) return *struck;
  return GetInterface(key, IID_IUnknown, reinterpret_cast<void**>(value));
}

HRESULT Values::SetGuidValue(REFPROPERTYKEY key, REFGUID value) {
  if (auto struck = Log("Values.SetGuidValue", key)) return *struck;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_CLSID;
  v.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
  if (v.puuid == nullptr) return E_OUTOFMEMORY;
  *v.puuid = value;
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetGuidValue(REFPROPERTYKEY key, GUID* value) {
  if (auto struck = Log("Values.GetGuidValue", key)) return *struck;
  if (value == nullptr) return E_POINTER;
  static constexpr Call kCall = Call::kGetGuidValue;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_CLSID, &kCall, &found);
  if (FAILED(hr)) return hr;
  if (found->puuid == nullptr) return kTypeMismatch;
  *value = *found->puuid;
  return S_OK;
}

HRESULT Values::SetBufferValue(REFPROPERTYKEY key, BYTE* value, DWORD size) {
  if (auto struck = Log("Values.SetBufferValue", key)) return *struck;
  if (value == nullptr && size > 0) return E_POINTER;
  PROPVARIANT v = EmptyValue();
  v.vt = VT_VECTOR | VT_UI1;
  v.caub.cElems = size;
  if (size > 0) {
    v.caub.pElems = static_cast<UCHAR*>(CoTaskMemAlloc(size));
    if (v.caub.pElems == nullptr) return E_OUTOFMEMORY;
    std::memcpy(v.caub.pElems, value, size);
  }
  Put(key, v);
  return S_OK;
}

HRESULT Values::GetBufferValue(REFPROPERTYKEY key, BYTE** value, DWORD* size) {
  if (auto struck = Log("Values.GetBufferValue", key)) return *struck;
  if (value == nullptr || size == nullptr) return E_POINTER;
  *value = nullptr;
  *size = 0;
  const PROPVARIANT* found = nullptr;
  HRESULT hr = Lookup(key, VT_VECTOR | VT_UI1, nullptr, &found);
  if (FAILED(hr)) return hr;
  DWORD count = found->caub.cElems;
  if (count > 0) {
    *value = static_cast<BYTE*>(CoTaskMemAlloc(count));
    if (*value == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*value, found->caub.pElems, count);
  }
  *size = count;
  return S_OK;
}

HRESULT Values::SetIPortableDeviceValuesValue(REFPROPERTYKEY key,
                                              IPortableDeviceValues* value) {
  if (auto struck = Log("Values.SetIPortableDeviceValuesValue", key))
    return *struck;
  return SetInterface(key, value);
}

HRESULT Values::GetIPortableDeviceValuesValue(REFPROPERTYKEY key,
                                              IPortableDeviceValues** value) {
  if (auto struck = Log("Values.GetIPortableDeviceValuesValue", key))
    return *struck;
  return GetInterface(key, IID_IPortableDeviceValues,
                      reinterpret_cast<void**>(value));
}

HRESULT Values::SetIPortableDevicePropVariantCollectionValue(
    REFPROPERTYKEY key, IPortableDevicePropVariantCollection* value) {
  if (auto struck =
          Log("Values.SetIPortableDevicePropVariantCollectionValue", key))
    return *struck;
  return SetInterface(key, value);
}

HRESULT Values::GetIPortableDevicePropVariantCollectionValue(
    REFPROPERTYKEY key, IPortableDevicePropVariantCollection** value) {
  if (auto struck =
          Log("Values.GetIPortableDevicePropVariantCollectionValue", key))
    return *struck;
  return GetInterface(key, IID_IPortableDevicePropVariantCollection,
                      reinterpret_cast<void**>(value));
}

HRESULT Values::SetIPortableDeviceKeyCollectionValue(
    REFPROPERTYKEY key, IPortableDeviceKeyCollection* value) {
  if (auto struck = Log("Values.SetIPortableDeviceKeyCollectionValue", key))
    return *struck;
  return SetInterface(key, value);
}

HRESULT Values::GetIPortableDeviceKeyCollectionValue(
    REFPROPERTYKEY key, IPortableDeviceKeyCollection** value) {
  if (auto struck = Log("Values.GetIPortableDeviceKeyCollectionValue", key))
    return *struck;
  return GetInterface(key, IID_IPortableDeviceKeyCollection,
                      reinterpret_cast<void**>(value));
}

HRESULT Values::SetIPortableDeviceValuesCollectionValue(
    REFPROPERTYKEY key, IPortableDeviceValuesCollection* value) {
  if (auto struck = Log("Values.SetIPortableDeviceValuesCollectionValue", key))
    return *struck;
  return SetInterface(key, value);
}

HRESULT Values::GetIPortableDeviceValuesCollectionValue(
    REFPROPERTYKEY key, IPortableDeviceValuesCollection** value) {
  if (auto struck = Log("Values.GetIPortableDeviceValuesCollectionValue", key))
    return *struck;
  return GetInterface(key, IID_IPortableDeviceValuesCollection,
                      reinterpret_cast<void**>(value));
}

HRESULT Values::RemoveValue(REFPROPERTYKEY key) {
  if (auto struck = Log("Values.RemoveValue", key)) return *struck;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (SameKey(it->key, key)) {
      ClearValue(&it->value);
      entries_.erase(it);
      return S_OK;
    }
  }
  return S_OK;
}

// Property stores are outside what the simulated devices offer.
HRESULT Values::CopyValuesFromPropertyStore(IPropertyStore*) {
  if (auto struck = Log("Values.CopyValuesFromPropertyStore")) return *struck;
  return E_NOTIMPL;
}

HRESULT Values::CopyValuesToPropertyStore(IPropertyStore*) {
  if (auto struck = Log("Values.CopyValuesToPropertyStore")) return *struck;
  return E_NOTIMPL;
}

HRESULT Values::Clear() {
  if (auto struck = Log("Values.Clear")) return *struck;
  for (Entry& entry : entries_) ClearValue(&entry.value);
  entries_.clear();
  return S_OK;
}

// ---------------------------------------------------------------------------
// KeyCollection

bool KeyCollection::Answers(REFIID iid) {
  return SameGuid(iid, IID_IPortableDeviceKeyCollection);
}

HRESULT KeyCollection::GetCount(DWORD* count) {
  if (auto struck = LogCall("Keys.GetCount")) return *struck;
  if (count == nullptr) return E_POINTER;
  *count = static_cast<DWORD>(keys_.size());
  return S_OK;
}

HRESULT KeyCollection::GetAt(const DWORD index, PROPERTYKEY* key) {
  if (auto struck = LogCall("Keys.GetAt")) return *struck;
  if (key == nullptr) return E_POINTER;
  if (index >= keys_.size()) return E_INVALIDARG;
  *key = keys_[index];
  return S_OK;
}

HRESULT KeyCollection::Add(REFPROPERTYKEY key) {
  if (auto logged = LogCall("Keys.Add", [&] { return call_log::KeyName(key); }))
    return *logged;
  keys_.push_back(key);
  return S_OK;
}

HRESULT KeyCollection::Clear() {
  if (auto struck = LogCall("Keys.Clear")) return *struck;
  keys_.clear();
  return S_OK;
}

HRESULT KeyCollection::RemoveAt(const DWORD index) {
  if (auto struck = LogCall("Keys.RemoveAt")) return *struck;
  if (index >= keys_.size()) return E_INVALIDARG;
  keys_.erase(keys_.begin() + index);
  return S_OK;
}

// ---------------------------------------------------------------------------
// PropVariantCollection

PropVariantCollection::~PropVariantCollection() {
  call_log::Internal internal;
  Clear();
}

bool PropVariantCollection::Answers(REFIID iid) {
  return SameGuid(iid, IID_IPortableDevicePropVariantCollection);
}

HRESULT PropVariantCollection::GetCount(DWORD* count) {
  if (auto struck = LogCall("Ids.GetCount")) return *struck;
  if (count == nullptr) return E_POINTER;
  *count = static_cast<DWORD>(values_.size());
  return S_OK;
}

HRESULT PropVariantCollection::GetAt(const DWORD index, PROPVARIANT* value) {
  if (auto struck = LogCall("Ids.GetAt")) return *struck;
  if (value == nullptr) return E_POINTER;
  if (index >= values_.size()) return E_INVALIDARG;
  return CopyValue(value, values_[index]);
}

HRESULT PropVariantCollection::Add(const PROPVARIANT* value) {
  if (auto struck = LogCall("Ids.Add")) return *struck;
  if (value == nullptr) return E_POINTER;
  PROPVARIANT copy = EmptyValue();
  HRESULT hr = CopyValue(&copy, *value);
  if (FAILED(hr)) return hr;
  values_.push_back(copy);
  return S_OK;
}

HRESULT PropVariantCollection::GetType(VARTYPE* type) {
  if (auto struck = LogCall("Ids.GetType")) return *struck;
  if (type == nullptr) return E_POINTER;
  *type = values_.empty() ? static_cast<VARTYPE>(VT_EMPTY) : values_[0].vt;
  return S_OK;
}

// No conversions: the collection only "changes" to the type it already has.
HRESULT PropVariantCollection::ChangeType(const VARTYPE type) {
  if (auto struck = LogCall("Ids.ChangeType")) return *struck;
  for (const PROPVARIANT& value : values_) {
    if (value.vt != type) return kTypeMismatch;
  }
  return S_OK;
}

HRESULT PropVariantCollection::Clear() {
  if (auto struck = LogCall("Ids.Clear")) return *struck;
  for (PROPVARIANT& value : values_) ClearValue(&value);
  values_.clear();
  return S_OK;
}

HRESULT PropVariantCollection::RemoveAt(const DWORD index) {
  if (auto struck = LogCall("Ids.RemoveAt")) return *struck;
  if (index >= values_.size()) return E_INVALIDARG;
  ClearValue(&values_[index]);
  values_.erase(values_.begin() + index);
  return S_OK;
}

// ---------------------------------------------------------------------------
// ValuesCollection

ValuesCollection::~ValuesCollection() {
  for (Entry& entry : entries_) entry.values->Release();
}

bool ValuesCollection::Answers(REFIID iid) {
  return SameGuid(iid, IID_IPortableDeviceValuesCollection);
}

void ValuesCollection::Append(IPortableDeviceValues* values, std::string name) {
  entries_.push_back(Entry{values, std::move(name)});
}

std::optional<HRESULT> ValuesCollection::Log(const char* method,
                                             const DWORD* index) {
  return LogCall(method, [&] {
    return index != nullptr && *index < entries_.size()
               ? entries_[*index].name
               : std::string();
  });
}

HRESULT ValuesCollection::GetCount(DWORD* count) {
  if (auto struck = Log("ValuesCollection.GetCount")) return *struck;
  if (count == nullptr) return E_POINTER;
  *count = static_cast<DWORD>(entries_.size());
  return S_OK;
}

HRESULT ValuesCollection::GetAt(const DWORD index,
                                IPortableDeviceValues** values) {
  if (values != nullptr) *values = nullptr;
  if (auto struck = Log("ValuesCollection.GetAt", &index)) return *struck;
  if (values == nullptr) return E_POINTER;
  if (index >= entries_.size()) return E_INVALIDARG;
  *values = entries_[index].values;
  (*values)->AddRef();
  return S_OK;
}

HRESULT ValuesCollection::Add(IPortableDeviceValues* values) {
  if (auto struck = Log("ValuesCollection.Add")) return *struck;
  if (values == nullptr) return E_POINTER;
  values->AddRef();
  entries_.push_back(Entry{values, std::string()});
  return S_OK;
}

HRESULT ValuesCollection::Clear() {
  if (auto struck = Log("ValuesCollection.Clear")) return *struck;
  for (Entry& entry : entries_) entry.values->Release();
  entries_.clear();
  return S_OK;
}

HRESULT ValuesCollection::RemoveAt(const DWORD index) {
  if (auto struck = Log("ValuesCollection.RemoveAt", &index)) return *struck;
  if (index >= entries_.size()) return E_INVALIDARG;
  entries_[index].values->Release();
  entries_.erase(entries_.begin() + index);
  return S_OK;
}

}  // namespace wpd_sim
