// Windows Portable Devices value and collection types (PortableDeviceTypes.h
// of the Windows SDK), for the Linux stand-in only: on Windows the
// toolchain's own header is used, and this folder is not on the path.
// Vtable order and identifiers are the SDK's; the GUIDs are defined in
// snapferry_wpd_api.
#ifndef __portabledevicetypes_h__
#define __portabledevicetypes_h__

#include <objbase.h>
#include <propidl.h>
#include <propkeydef.h>

struct IPortableDeviceValues;
struct IPortableDeviceKeyCollection;
struct IPortableDevicePropVariantCollection;
struct IPortableDeviceValuesCollection;
// Named by IPortableDeviceValues; the stand-in has no property system.
struct IPropertyStore;

EXTERN_C const IID IID_IPortableDeviceValues;
EXTERN_C const IID IID_IPortableDeviceKeyCollection;
EXTERN_C const IID IID_IPortableDevicePropVariantCollection;
EXTERN_C const IID IID_IPortableDeviceValuesCollection;
EXTERN_C const CLSID CLSID_PortableDeviceValues;
EXTERN_C const CLSID CLSID_PortableDeviceKeyCollection;
EXTERN_C const CLSID CLSID_PortableDevicePropVariantCollection;
EXTERN_C const CLSID CLSID_PortableDeviceValuesCollection;

struct IPortableDeviceValues : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcelt) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* pKey,
                                          PROPVARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key,
                                             const PROPVARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key,
                                             PROPVARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key,
                                                   LPCWSTR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key,
                                                   LPWSTR* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  SetUnsignedIntegerValue(REFPROPERTYKEY key, const ULONG Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                            ULONG* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key,
                                                          const LONG Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key,
                                                          LONG* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  SetUnsignedLargeIntegerValue(REFPROPERTYKEY key, const ULONGLONG Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetUnsignedLargeIntegerValue(REFPROPERTYKEY key, ULONGLONG* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  SetSignedLargeIntegerValue(REFPROPERTYKEY key, const LONGLONG Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetSignedLargeIntegerValue(REFPROPERTYKEY key, LONGLONG* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key,
                                                  const FLOAT Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key,
                                                  FLOAT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key,
                                                  const HRESULT Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key,
                                                  HRESULT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY key,
                                                REFPROPERTYKEY Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY key,
                                                PROPERTYKEY* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key,
                                                 const BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key,
                                                 BOOL* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key,
                                                     IUnknown* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key,
                                                     IUnknown** ppValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key,
                                                 REFGUID Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key,
                                                 GUID* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key,
                                                   BYTE* pValue,
                                                   DWORD cbValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key,
                                                   BYTE** ppValue,
                                                   DWORD* pcbValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesValue(
      REFPROPERTYKEY key, IPortableDeviceValues* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesValue(
      REFPROPERTYKEY key, IPortableDeviceValues** ppValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  SetIPortableDevicePropVariantCollectionValue(
      REFPROPERTYKEY key, IPortableDevicePropVariantCollection* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetIPortableDevicePropVariantCollectionValue(
      REFPROPERTYKEY key, IPortableDevicePropVariantCollection** ppValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceKeyCollection* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceKeyCollection** ppValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceValuesCollection* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
      REFPROPERTYKEY key, IPortableDeviceValuesCollection** ppValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  CopyValuesFromPropertyStore(IPropertyStore* pStore) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  CopyValuesToPropertyStore(IPropertyStore* pStore) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct IPortableDeviceKeyCollection : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex,
                                          PROPERTYKEY* pKey) = 0;
  virtual HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY Key) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD dwIndex) = 0;
};

struct IPortableDevicePropVariantCollection : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex,
                                          PROPVARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE Add(const PROPVARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetType(VARTYPE* pvt) = 0;
  virtual HRESULT STDMETHODCALLTYPE ChangeType(const VARTYPE vt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD dwIndex) = 0;
};

struct IPortableDeviceValuesCollection : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex,
                                          IPortableDeviceValues** ppValues) = 0;
  virtual HRESULT STDMETHODCALLTYPE Add(IPortableDeviceValues* pValues) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD dwIndex) = 0;
};

#endif  // __portabledevicetypes_h__
