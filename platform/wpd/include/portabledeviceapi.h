// Windows Portable Devices client API (PortableDeviceApi.h of the Windows
// SDK): the device manager, the device, its content, properties, resources
// and object enumerator, with their IIDs and the API's class ids.
//
// Written for toolchains that lack the header (MinGW-w64 before v12, and the
// Linux stand-in). The vtable order and every identifier are those of the
// SDK, so a MinGW build talks to the real WPD runtime. The GUIDs themselves
// are defined in snapferry_wpd_api, as the SDK's PortableDeviceGUIDs.lib does.
#ifndef __portabledeviceapi_h__
#define __portabledeviceapi_h__

// The collection and value interfaces: MinGW's own header on Windows, the
// stand-in's copy in include/standin on Linux.
#include <portabledevicetypes.h>

struct IPortableDeviceManager;
struct IPortableDevice;
struct IPortableDeviceContent;
struct IPortableDeviceProperties;
struct IPortableDeviceResources;
struct IEnumPortableDeviceObjectIDs;
struct IPortableDeviceDataStream;
struct IPortableDeviceEventCallback;
struct IPortableDevicePropertiesBulk;
struct IPortableDevicePropertiesBulkCallback;
// Only passed around by pointer here; never called by this system.
struct IPortableDeviceCapabilities;

EXTERN_C const IID IID_IPortableDeviceManager;
EXTERN_C const IID IID_IPortableDevice;
EXTERN_C const IID IID_IPortableDeviceContent;
EXTERN_C const IID IID_IPortableDeviceProperties;
EXTERN_C const IID IID_IPortableDeviceResources;
EXTERN_C const IID IID_IEnumPortableDeviceObjectIDs;
EXTERN_C const IID IID_IPortableDeviceDataStream;
EXTERN_C const IID IID_IPortableDeviceEventCallback;
EXTERN_C const IID IID_IPortableDevicePropertiesBulk;
EXTERN_C const IID IID_IPortableDevicePropertiesBulkCallback;
EXTERN_C const IID IID_IPortableDeviceCapabilities;

EXTERN_C const CLSID CLSID_PortableDeviceManager;
EXTERN_C const CLSID CLSID_PortableDevice;
EXTERN_C const CLSID CLSID_PortableDeviceFTM;
// Declared by PortableDeviceTypes.h in the SDK, but MinGW-w64 10 only has
// CLSID_PortableDeviceValues there. Repeating a declaration is harmless.
EXTERN_C const CLSID CLSID_PortableDeviceValues;
EXTERN_C const CLSID CLSID_PortableDeviceKeyCollection;
EXTERN_C const CLSID CLSID_PortableDevicePropVariantCollection;
EXTERN_C const CLSID CLSID_PortableDeviceValuesCollection;

#ifndef __IPortableDeviceManager_INTERFACE_DEFINED__
#define __IPortableDeviceManager_INTERFACE_DEFINED__
struct IPortableDeviceManager : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR* pPnPDeviceIDs,
                                               DWORD* pcPnPDeviceIDs) = 0;
  virtual HRESULT STDMETHODCALLTYPE RefreshDeviceList() = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetDeviceFriendlyName(LPCWSTR pszPnPDeviceID, WCHAR* pDeviceFriendlyName,
                        DWORD* pcchDeviceFriendlyName) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetDeviceDescription(LPCWSTR pszPnPDeviceID, WCHAR* pDeviceDescription,
                       DWORD* pcchDeviceDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetDeviceManufacturer(LPCWSTR pszPnPDeviceID, WCHAR* pDeviceManufacturer,
                        DWORD* pcchDeviceManufacturer) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetDeviceProperty(LPCWSTR pszPnPDeviceID, LPCWSTR pszDevicePropertyName,
                    BYTE* pData, DWORD* pcbData, DWORD* pdwType) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetPrivateDevices(LPWSTR* pPnPDeviceIDs, DWORD* pcPnPDeviceIDs) = 0;
};
#endif

#ifndef __IPortableDevice_INTERFACE_DEFINED__
#define __IPortableDevice_INTERFACE_DEFINED__
struct IPortableDevice : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE
  Open(LPCWSTR pszPnPDeviceID, IPortableDeviceValues* pClientInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  SendCommand(const DWORD dwFlags, IPortableDeviceValues* pParameters,
              IPortableDeviceValues** ppResults) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Content(IPortableDeviceContent** ppContent) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Capabilities(IPortableDeviceCapabilities** ppCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Advise(const DWORD dwFlags, IPortableDeviceEventCallback* pCallback,
         IPortableDeviceValues* pParameters, LPWSTR* ppszCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR pszCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR* ppszPnPDeviceID) = 0;
};
#endif

#ifndef __IPortableDeviceContent_INTERFACE_DEFINED__
#define __IPortableDeviceContent_INTERFACE_DEFINED__
struct IPortableDeviceContent : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE
  EnumObjects(const DWORD dwFlags, LPCWSTR pszParentObjectID,
              IPortableDeviceValues* pFilter,
              IEnumPortableDeviceObjectIDs** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Properties(IPortableDeviceProperties** ppProperties) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Transfer(IPortableDeviceResources** ppResources) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesOnly(
      IPortableDeviceValues* pValues, LPWSTR* ppszObjectID) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(
      IPortableDeviceValues* pValues, IStream** ppData,
      DWORD* pdwOptimalWriteBufferSize, LPWSTR* ppszCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Delete(
      const DWORD dwOptions, IPortableDevicePropVariantCollection* pObjectIDs,
      IPortableDevicePropVariantCollection** ppResults) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(
      IPortableDevicePropVariantCollection* pPersistentUniqueIDs,
      IPortableDevicePropVariantCollection** ppObjectIDs) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Move(IPortableDevicePropVariantCollection* pObjectIDs,
       LPCWSTR pszDestinationFolderObjectID,
       IPortableDevicePropVariantCollection** ppResults) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Copy(IPortableDevicePropVariantCollection* pObjectIDs,
       LPCWSTR pszDestinationFolderObjectID,
       IPortableDevicePropVariantCollection** ppResults) = 0;
};
#endif

#ifndef __IEnumPortableDeviceObjectIDs_INTERFACE_DEFINED__
#define __IEnumPortableDeviceObjectIDs_INTERFACE_DEFINED__
// Not the usual IEnum* layout: Cancel follows Clone.
struct IEnumPortableDeviceObjectIDs : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cObjects, LPWSTR* pObjIDs,
                                         ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cObjects) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Clone(IEnumPortableDeviceObjectIDs** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
};
#endif

#ifndef __IPortableDeviceProperties_INTERFACE_DEFINED__
#define __IPortableDeviceProperties_INTERFACE_DEFINED__
struct IPortableDeviceProperties : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSupportedProperties(
      LPCWSTR pszObjectID, IPortableDeviceKeyCollection** ppKeys) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetPropertyAttributes(LPCWSTR pszObjectID, REFPROPERTYKEY Key,
                        IPortableDeviceValues** ppAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetValues(LPCWSTR pszObjectID, IPortableDeviceKeyCollection* pKeys,
            IPortableDeviceValues** ppValues) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  SetValues(LPCWSTR pszObjectID, IPortableDeviceValues* pValues,
            IPortableDeviceValues** ppResults) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Delete(LPCWSTR pszObjectID, IPortableDeviceKeyCollection* pKeys) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
};
#endif

#ifndef __IPortableDeviceResources_INTERFACE_DEFINED__
#define __IPortableDeviceResources_INTERFACE_DEFINED__
struct IPortableDeviceResources : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSupportedResources(
      LPCWSTR pszObjectID, IPortableDeviceKeyCollection** ppKeys) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetResourceAttributes(LPCWSTR pszObjectID, REFPROPERTYKEY Key,
                        IPortableDeviceValues** ppResourceAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStream(LPCWSTR pszObjectID,
                                              REFPROPERTYKEY Key,
                                              const DWORD dwMode,
                                              DWORD* pdwOptimalBufferSize,
                                              IStream** ppStream) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  Delete(LPCWSTR pszObjectID, IPortableDeviceKeyCollection* pKeys) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE
  CreateResource(IPortableDeviceValues* pResourceAttributes, IStream** ppData,
                 DWORD* pdwOptimalWriteBufferSize, LPWSTR* ppszCookie) = 0;
};
#endif

#ifndef __IPortableDeviceDataStream_INTERFACE_DEFINED__
#define __IPortableDeviceDataStream_INTERFACE_DEFINED__
// The object stream that GetStream hands out also answers to this.
struct IPortableDeviceDataStream : public IStream {
  virtual HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR* ppszObjectID) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
};
#endif

#ifndef __IPortableDeviceEventCallback_INTERFACE_DEFINED__
#define __IPortableDeviceEventCallback_INTERFACE_DEFINED__
struct IPortableDeviceEventCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE
  OnEvent(IPortableDeviceValues* pEventParameters) = 0;
};
#endif

#ifndef __IPortableDevicePropertiesBulk_INTERFACE_DEFINED__
#define __IPortableDevicePropertiesBulk_INTERFACE_DEFINED__
// Many objects' properties in one request: the properties object answers
// QueryInterface for it where the device's driver serves such requests. A
// request is queued, then started; its results come through the callback.
struct IPortableDevicePropertiesBulk : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectList(
      IPortableDevicePropVariantCollection* pObjectIDs,
      IPortableDeviceKeyCollection* pKeys,
      IPortableDevicePropertiesBulkCallback* pCallback, GUID* pContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectFormat(
      REFGUID pguidObjectFormat, LPCWSTR pszParentObjectID, DWORD dwDepth,
      IPortableDeviceKeyCollection* pKeys,
      IPortableDevicePropertiesBulkCallback* pCallback, GUID* pContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueueSetValuesByObjectList(
      IPortableDeviceValuesCollection* pObjectValues,
      IPortableDevicePropertiesBulkCallback* pCallback, GUID* pContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start(REFGUID pContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel(REFGUID pContext) = 0;
};
#endif

#ifndef __IPortableDevicePropertiesBulkCallback_INTERFACE_DEFINED__
#define __IPortableDevicePropertiesBulkCallback_INTERFACE_DEFINED__
// Called by WPD on a thread of its own: OnStart, then OnProgress with one
// values object per object of a batch (each holding WPD_OBJECT_ID), then
// OnEnd once, after which no call comes.
struct IPortableDevicePropertiesBulkCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnStart(REFGUID pContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  OnProgress(REFGUID pContext, IPortableDeviceValuesCollection* pResults) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnEnd(REFGUID pContext,
                                          HRESULT hrStatus) = 0;
};
#endif

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IPortableDeviceManager, 0xa1567595, 0x4c2f, 0x4574, 0xa6, 0xfa,
                0xec, 0xef, 0x91, 0x7b, 0x9a, 0x40)
__CRT_UUID_DECL(IPortableDevice, 0x625e2df8, 0x6392, 0x4cf0, 0x9a, 0xd1, 0x3c,
                0xfa, 0x5f, 0x17, 0x77, 0x5c)
__CRT_UUID_DECL(IPortableDeviceContent, 0x6a96ed84, 0x7c73, 0x4480, 0x99, 0x38,
                0xbf, 0x5a, 0xf4, 0x77, 0xd4, 0x26)
__CRT_UUID_DECL(IEnumPortableDeviceObjectIDs, 0x10ece955, 0xcf41, 0x4728, 0xbf,
                0xa0, 0x41, 0xee, 0xdf, 0x1b, 0xbf, 0x19)
__CRT_UUID_DECL(IPortableDeviceProperties, 0x7f6d695c, 0x03df, 0x4439, 0xa8,
                0x09, 0x59, 0x26, 0x6b, 0xee, 0xe3, 0xa6)
__CRT_UUID_DECL(IPortableDeviceResources, 0xfd8878ac, 0xd841, 0x4d17, 0x89,
                0x1c, 0xe6, 0x82, 0x9c, 0xdb, 0x69, 0x34)
__CRT_UUID_DECL(IPortableDeviceDataStream, 0x88e04db3, 0x1012, 0x4d64, 0x99,
                0x96, 0xf7, 0x03, 0xa9, 0x50, 0xd3, 0xf4)
__CRT_UUID_DECL(IPortableDeviceEventCallback, 0xa8792a31, 0xf385, 0x493c, 0xa8,
                0x93, 0x40, 0xf6, 0x4e, 0xb4, 0x5f, 0x6e)
__CRT_UUID_DECL(IPortableDevicePropertiesBulk, 0x482b05c0, 0x4056, 0x44ed, 0x9e,
                0x0f, 0x5e, 0x23, 0xb0, 0x09, 0xda, 0x93)
__CRT_UUID_DECL(IPortableDevicePropertiesBulkCallback, 0x9deacb80, 0x11e8,
                0x40e3, 0xa9, 0xf3, 0xf5, 0x57, 0x98, 0x6a, 0x78, 0x45)
#endif

#endif  // __portabledeviceapi_h__
