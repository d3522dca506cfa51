// The simulated WPD value classes: PortableDeviceValues,
// PortableDeviceKeyCollection, PortableDevicePropVariantCollection and
// PortableDeviceValuesCollection.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_VALUES_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_VALUES_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/wpd/simulator/com_support.h"

namespace wpd_sim {

// A property set. Typed reads answer HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
// for a missing key, DISP_E_TYPEMISMATCH for a value of another type, and
// the stored code for a VT_ERROR value (a property the device could not
// read).
class Values final
    : public ComObject<Values, IPortableDeviceValues, ObjectKind::kValues> {
 public:
  explicit Values(std::shared_ptr<SimState> sim);
  ~Values();
  static bool Answers(REFIID iid);

  // The values GetValues hands out: their typed reads also answer the
  // faults of that object and its device.
  void SetFaultSource(std::shared_ptr<DeviceState> device, uint32_t node);
  void Reserve(size_t count) { entries_.reserve(count); }
  // Stores `value` (ownership passes) under `key`, replacing an older one.
  void Put(const PROPERTYKEY& key, PROPVARIANT value);

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key,
                                  PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key,
                                     const PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key,
                                     PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key,
                                           LPCWSTR value) override;
  HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key,
                                           LPWSTR* value) override;
  HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                    const ULONG value) override;
  HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                    ULONG* value) override;
  HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key,
                                                  const LONG value) override;
  HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key,
                                                  LONG* value) override;
  HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(
      REFPROPERTYKEY key, const ULONGLONG value) override;
  HRESULT STDMETHODCALLTYPE
  GetUnsignedLargeIntegerValue(REFPROPERTYKEY key, ULONGLONG* value) override;
  HRESULT STDMETHODCALLTYPE
  SetSignedLargeIntegerValue(REFPROPERTYKEY key, const LONGLONG value) override;
  HRESULT STDMETHODCALLTYPE
  GetSignedLargeIntegerValue(REFPROPERTYKEY key, LONGLONG* value) override;
  HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key,
                                          const FLOAT value) override;
  HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key,
                                          FLOAT* value) override;
  HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key,
                                          const HRESULT value) override;
  HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key,
                                          HRESULT* value) override;
  HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY key,
                                        REFPROPERTYKEY value) override;
  HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY key,
                                        PROPERTYKEY* value) override;
  HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key,
                                         const BOOL value) override;
  HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key,
                                         BOOL* value) override;
  HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key,
                                             IUnknown* value) override;
  HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key,
                                             IUnknown** value) override;
  HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key,
                                         REFGUID value) override;
  HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key,
                                         GUID* value) override;
  HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE* value,
                                           DWORD size) override;
  HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE** value,
                                           DWORD* size) override;
  HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesValue(
      REFPROPERTYKEY key, IPortableDeviceValues* value) override;
  HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesValue(
      REFPROPERTYKEY key, IPortableDeviceValues** value) override;
  HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
      REFPROPERTYKEY key, IPortableDevicePropVariantCollection* value) override;
  HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
      REFPROPERTYKEY key,
      IPortableDevicePropVariantCollection** value) override;
  HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceKeyCollection* value) override;
  HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceKeyCollection** value) override;
  HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceValuesCollection* value) override;
  HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceValuesCollection** value) override;
  HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override;
  HRESULT STDMETHODCALLTYPE
  CopyValuesFromPropertyStore(IPropertyStore* store) override;
  HRESULT STDMETHODCALLTYPE
  CopyValuesToPropertyStore(IPropertyStore* store) override;
  HRESULT STDMETHODCALLTYPE Clear() override;

 private:
  struct Entry {
    PROPERTYKEY key;
    PROPVARIANT value;
  };
  // Fault, presence and type checks of a typed read; `call` is counted and
  // faulted when it is one of the injectable reads.
  HRESULT Lookup(const PROPERTYKEY& key, VARTYPE type, const Call* call,
                 const PROPVARIANT** found);
  HRESULT GetInterface(const PROPERTYKEY& key, REFIID iid, void** out);
  // Records the call (call_log.h) under the object the values came from,
  // if any, and the key.
  std::optional<HRESULT> Log(const char* method);
  std::optional<HRESULT> Log(const char* method, const PROPERTYKEY& key);
  HRESULT SetInterface(const PROPERTYKEY& key, IUnknown* value);

  std::vector<Entry> entries_;
  std::shared_ptr<DeviceState> fault_device_;
  uint32_t fault_node_ = kNoNode;
  std::string source_;
};

class KeyCollection final
    : public ComObject<KeyCollection, IPortableDeviceKeyCollection,
                       ObjectKind::kKeyCollection> {
 public:
  explicit KeyCollection(std::shared_ptr<SimState> sim)
      : ComObject(std::move(sim)) {}
  static bool Answers(REFIID iid);
  void Append(const PROPERTYKEY& key) { keys_.push_back(key); }

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key) override;
  HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY key) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
  HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override;

 private:
  std::vector<PROPERTYKEY> keys_;
};

class PropVariantCollection final
    : public ComObject<PropVariantCollection,
                       IPortableDevicePropVariantCollection,
                       ObjectKind::kPropVariantCollection> {
 public:
  explicit PropVariantCollection(std::shared_ptr<SimState> sim)
      : ComObject(std::move(sim)) {}
  ~PropVariantCollection();
  static bool Answers(REFIID iid);
  void Append(PROPVARIANT value) { values_.push_back(value); }  // takes it

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAt(const DWORD index,
                                  PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE Add(const PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE GetType(VARTYPE* type) override;
  HRESULT STDMETHODCALLTYPE ChangeType(const VARTYPE type) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
  HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override;

 private:
  std::vector<PROPVARIANT> values_;
};

// Value sets in order, each held by one reference. A bulk request's batch
// names each entry by its object, for the call log ("ValuesCollection.GetAt
// o3"); what a client adds is unnamed.
class ValuesCollection final
    : public ComObject<ValuesCollection, IPortableDeviceValuesCollection,
                       ObjectKind::kValuesCollection> {
 public:
  explicit ValuesCollection(std::shared_ptr<SimState> sim)
      : ComObject(std::move(sim)) {}
  ~ValuesCollection();
  static bool Answers(REFIID iid);
  // Takes over the reference.
  void Append(IPortableDeviceValues* values, std::string name);

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAt(const DWORD index,
                                  IPortableDeviceValues** values) override;
  HRESULT STDMETHODCALLTYPE Add(IPortableDeviceValues* values) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
  HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override;

 private:
  struct Entry {
    IPortableDeviceValues* values;
    std::string name;
  };
  std::optional<HRESULT> Log(const char* method, const DWORD* index = nullptr);
  std::vector<Entry> entries_;
};

inline PROPVARIANT EmptyValue() {
  PROPVARIANT value;
  std::memset(&value, 0, sizeof(value));
  return value;
}

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_VALUES_H_
