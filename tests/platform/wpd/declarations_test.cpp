// The WPD declarations must be binary-compatible with the Windows SDK's: the
// same vtable slot for every method, and the SDK's identifiers, written here
// in the registry form in which Windows documents them.
#include <gtest/gtest.h>
#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

// The vtable slot of a virtual member function. GCC follows the Itanium C++
// ABI on Linux and MinGW alike: a pointer to a virtual member holds
// 1 + the slot's byte offset.
template <class C, class F>
int Slot(F C::*method) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adjust;
  } rep;
  static_assert(sizeof(method) == sizeof(rep), "Itanium member pointer");
  std::memcpy(&rep, &method, sizeof(rep));
  if ((rep.ptr & 1) == 0) return -1;  // not virtual
  return static_cast<int>((rep.ptr - 1) / sizeof(void*));
}

// The slots of the methods as listed, which must run on from slot 3.
void ExpectConsecutive(const char* name, std::initializer_list<int> slots) {
  int expected = 3;
  for (int slot : slots) {
    EXPECT_EQ(slot, expected) << name << " method #" << expected - 3;
    ++expected;
  }
}

#define S(iface, method) Slot(&iface::method)

TEST(WpdDeclarations, VtableSlotsFollowTheSdk) {
  ExpectConsecutive("IPortableDeviceManager",
                    {S(IPortableDeviceManager, GetDevices),
                     S(IPortableDeviceManager, RefreshDeviceList),
                     S(IPortableDeviceManager, GetDeviceFriendlyName),
                     S(IPortableDeviceManager, GetDeviceDescription),
                     S(IPortableDeviceManager, GetDeviceManufacturer),
                     S(IPortableDeviceManager, GetDeviceProperty),
                     S(IPortableDeviceManager, GetPrivateDevices)});
  ExpectConsecutive(
      "IPortableDevice",
      {S(IPortableDevice, Open), S(IPortableDevice, SendCommand),
       S(IPortableDevice, Content), S(IPortableDevice, Capabilities),
       S(IPortableDevice, Cancel), S(IPortableDevice, Close),
       S(IPortableDevice, Advise), S(IPortableDevice, Unadvise),
       S(IPortableDevice, GetPnPDeviceID)});
  ExpectConsecutive(
      "IPortableDeviceContent",
      {S(IPortableDeviceContent, EnumObjects),
       S(IPortableDeviceContent, Properties),
       S(IPortableDeviceContent, Transfer),
       S(IPortableDeviceContent, CreateObjectWithPropertiesOnly),
       S(IPortableDeviceContent, CreateObjectWithPropertiesAndData),
       S(IPortableDeviceContent, Delete),
       S(IPortableDeviceContent, GetObjectIDsFromPersistentUniqueIDs),
       S(IPortableDeviceContent, Cancel), S(IPortableDeviceContent, Move),
       S(IPortableDeviceContent, Copy)});
  ExpectConsecutive("IEnumPortableDeviceObjectIDs",
                    {S(IEnumPortableDeviceObjectIDs, Next),
                     S(IEnumPortableDeviceObjectIDs, Skip),
                     S(IEnumPortableDeviceObjectIDs, Reset),
                     S(IEnumPortableDeviceObjectIDs, Clone),
                     S(IEnumPortableDeviceObjectIDs, Cancel)});
  ExpectConsecutive("IPortableDeviceProperties",
                    {S(IPortableDeviceProperties, GetSupportedProperties),
                     S(IPortableDeviceProperties, GetPropertyAttributes),
                     S(IPortableDeviceProperties, GetValues),
                     S(IPortableDeviceProperties, SetValues),
                     S(IPortableDeviceProperties, Delete),
                     S(IPortableDeviceProperties, Cancel)});
  ExpectConsecutive(
      "IPortableDeviceResources",
      {S(IPortableDeviceResources, GetSupportedResources),
       S(IPortableDeviceResources, GetResourceAttributes),
       S(IPortableDeviceResources, GetStream),
       S(IPortableDeviceResources, Delete), S(IPortableDeviceResources, Cancel),
       S(IPortableDeviceResources, CreateResource)});
  ExpectConsecutive("IPortableDeviceKeyCollection",
                    {S(IPortableDeviceKeyCollection, GetCount),
                     S(IPortableDeviceKeyCollection, GetAt),
                     S(IPortableDeviceKeyCollection, Add),
                     S(IPortableDeviceKeyCollection, Clear),
                     S(IPortableDeviceKeyCollection, RemoveAt)});
  ExpectConsecutive("IPortableDevicePropVariantCollection",
                    {S(IPortableDevicePropVariantCollection, GetCount),
                     S(IPortableDevicePropVariantCollection, GetAt),
                     S(IPortableDevicePropVariantCollection, Add),
                     S(IPortableDevicePropVariantCollection, GetType),
                     S(IPortableDevicePropVariantCollection, ChangeType),
                     S(IPortableDevicePropVariantCollection, Clear),
                     S(IPortableDevicePropVariantCollection, RemoveAt)});
  using V = IPortableDeviceValues;
  ExpectConsecutive("IPortableDeviceValues",
                    {S(V, GetCount),
                     S(V, GetAt),
                     S(V, SetValue),
                     S(V, GetValue),
                     S(V, SetStringValue),
                     S(V, GetStringValue),
                     S(V, SetUnsignedIntegerValue),
                     S(V, GetUnsignedIntegerValue),
                     S(V, SetSignedIntegerValue),
                     S(V, GetSignedIntegerValue),
                     S(V, SetUnsignedLargeIntegerValue),
                     S(V, GetUnsignedLargeIntegerValue),
                     S(V, SetSignedLargeIntegerValue),
                     S(V, GetSignedLargeIntegerValue),
                     S(V, SetFloatValue),
                     S(V, GetFloatValue),
                     S(V, SetErrorValue),
                     S(V, GetErrorValue),
                     S(V, SetKeyValue),
                     S(V, GetKeyValue),
                     S(V, SetBoolValue),
                     S(V, GetBoolValue),
                     S(V, SetIUnknownValue),
                     S(V, GetIUnknownValue),
                     S(V, SetGuidValue),
                     S(V, GetGuidValue),
                     S(V, SetBufferValue),
                     S(V, GetBufferValue),
                     S(V, SetIPortableDeviceValuesValue),
                     S(V, GetIPortableDeviceValuesValue),
                     S(V, SetIPortableDevicePropVariantCollectionValue),
                     S(V, GetIPortableDevicePropVariantCollectionValue),
                     S(V, SetIPortableDeviceKeyCollectionValue),
                     S(V, GetIPortableDeviceKeyCollectionValue),
                     S(V, SetIPortableDeviceValuesCollectionValue),
                     S(V, GetIPortableDeviceValuesCollectionValue),
                     S(V, RemoveValue),
                     S(V, CopyValuesFromPropertyStore),
                     S(V, CopyValuesToPropertyStore),
                     S(V, Clear)});
  ExpectConsecutive(
      "IPortableDevicePropertiesBulk",
      {S(IPortableDevicePropertiesBulk, QueueGetValuesByObjectList),
       S(IPortableDevicePropertiesBulk, QueueGetValuesByObjectFormat),
       S(IPortableDevicePropertiesBulk, QueueSetValuesByObjectList),
       S(IPortableDevicePropertiesBulk, Start),
       S(IPortableDevicePropertiesBulk, Cancel)});
  ExpectConsecutive("IPortableDevicePropertiesBulkCallback",
                    {S(IPortableDevicePropertiesBulkCallback, OnStart),
                     S(IPortableDevicePropertiesBulkCallback, OnProgress),
                     S(IPortableDevicePropertiesBulkCallback, OnEnd)});
  ExpectConsecutive("IPortableDeviceValuesCollection",
                    {S(IPortableDeviceValuesCollection, GetCount),
                     S(IPortableDeviceValuesCollection, GetAt),
                     S(IPortableDeviceValuesCollection, Add),
                     S(IPortableDeviceValuesCollection, Clear),
                     S(IPortableDeviceValuesCollection, RemoveAt)});
  // The object stream: IStream's 14 slots, then the WPD additions.
  EXPECT_EQ(S(IPortableDeviceDataStream, Read), 3);
  EXPECT_EQ(S(IStream, Stat), 12);
  EXPECT_EQ(S(IPortableDeviceDataStream, GetObjectID), 14);
  EXPECT_EQ(S(IPortableDeviceDataStream, Cancel), 15);
}

std::string Text(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof(text),
                "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3,
                guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

TEST(WpdDeclarations, IdentifiersAreTheSdks) {
  const struct {
    const GUID* guid;
    const char* text;
  } guids[] = {
      {&IID_IPortableDeviceManager, "{A1567595-4C2F-4574-A6FA-ECEF917B9A40}"},
      {&IID_IPortableDevice, "{625E2DF8-6392-4CF0-9AD1-3CFA5F17775C}"},
      {&IID_IPortableDeviceContent, "{6A96ED84-7C73-4480-9938-BF5AF477D426}"},
      {&IID_IEnumPortableDeviceObjectIDs,
       "{10ECE955-CF41-4728-BFA0-41EEDF1BBF19}"},
      {&IID_IPortableDeviceProperties,
       "{7F6D695C-03DF-4439-A809-59266BEEE3A6}"},
      {&IID_IPortableDeviceResources, "{FD8878AC-D841-4D17-891C-E6829CDB6934}"},
      {&IID_IPortableDeviceKeyCollection,
       "{DADA2357-E0AD-492E-98DB-DD61C53BA353}"},
      {&IID_IPortableDevicePropVariantCollection,
       "{89B2E422-4F1B-4316-BCEF-A44AFEA83EB3}"},
      {&IID_IPortableDeviceValues, "{6848F6F2-3155-4F86-B6F5-263EEEAB3143}"},
      {&IID_IPortableDeviceDataStream,
       "{88E04DB3-1012-4D64-9996-F703A950D3F4}"},
      {&IID_IPortableDevicePropertiesBulk,
       "{482B05C0-4056-44ED-9E0F-5E23B009DA93}"},
      {&IID_IPortableDevicePropertiesBulkCallback,
       "{9DEACB80-11E8-40E3-A9F3-F557986A7845}"},
      {&IID_IPortableDeviceValuesCollection,
       "{6E3F2D79-4E07-48C4-8208-D8C2E5AF4A99}"},
      {&CLSID_PortableDeviceManager, "{0AF10CEC-2ECD-4B92-9581-34F6AE0637F3}"},
      {&CLSID_PortableDevice, "{728A21C5-3D9E-48D7-9810-864848F0F404}"},
      {&CLSID_PortableDeviceFTM, "{F7C0039A-4762-488A-B4B3-760EF9A1BA9B}"},
      {&CLSID_PortableDeviceValues, "{0C15D503-D017-47CE-9016-7B3F978721CC}"},
      {&CLSID_PortableDeviceKeyCollection,
       "{DE2D022D-2480-43BE-97F0-D1FA2CF98F4F}"},
      {&CLSID_PortableDevicePropVariantCollection,
       "{08A99E2F-6D6D-4B80-AF5A-BAF2BCBE4CB9}"},
      {&WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT,
       "{99ED0160-17FF-4C44-9D98-1D7A6F941921}"},
      {&WPD_CONTENT_TYPE_FOLDER, "{27E2E392-A111-48E0-AB0C-E17705A05F85}"},
      {&WPD_CONTENT_TYPE_IMAGE, "{EF2107D5-A52A-4243-A26B-62D4176D7603}"},
      {&WPD_CONTENT_TYPE_VIDEO, "{9261B03C-3D78-4519-85E3-02C5E1F50BB9}"},
      {&WPD_CONTENT_TYPE_GENERIC_FILE,
       "{0085E0A6-8D34-45D7-BC5C-447E59C73D48}"},
      {&WPD_CONTENT_TYPE_UNSPECIFIED, "{28D8D31E-249C-454E-AABC-34883168E634}"},
      {&WPD_OBJECT_FORMAT_UNSPECIFIED,
       "{30000000-AE6C-4804-98BA-C57B46965FE7}"},
      {&WPD_OBJECT_FORMAT_PROPERTIES_ONLY,
       "{30010000-AE6C-4804-98BA-C57B46965FE7}"},
      {&WPD_OBJECT_FORMAT_EXIF, "{38010000-AE6C-4804-98BA-C57B46965FE7}"},
      {&WPD_OBJECT_FORMAT_PNG, "{380B0000-AE6C-4804-98BA-C57B46965FE7}"},
      {&WPD_EVENT_DEVICE_RESET, "{7755CF53-C1ED-44F3-B5A2-451E2C376B27}"},
      {&WPD_EVENT_DEVICE_REMOVED, "{E4CBCA1B-6918-48B9-85EE-02BE7C850AF9}"},
      {&GUID_DEVINTERFACE_WPD, "{6AC27878-A6FA-4155-BA85-F98F491D4F33}"},
  };
  for (const auto& expected : guids) {
    EXPECT_EQ(Text(*expected.guid), expected.text);
  }

  const char* kObject = "{EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C}";
  const char* kClient = "{204D9F0C-2292-4080-9F42-40664E70F859}";
  const char* kStorage = "{01A3057A-74D6-4E80-BEA7-DC4C212CE50A}";
  const struct {
    const PROPERTYKEY* key;
    const char* fmtid;
    DWORD pid;
  } keys[] = {
      {&WPD_OBJECT_ID, kObject, 2},
      {&WPD_OBJECT_PARENT_ID, kObject, 3},
      {&WPD_OBJECT_NAME, kObject, 4},
      {&WPD_OBJECT_CONTENT_TYPE, kObject, 7},
      {&WPD_OBJECT_SIZE, kObject, 11},
      {&WPD_OBJECT_ORIGINAL_FILE_NAME, kObject, 12},
      {&WPD_OBJECT_DATE_CREATED, kObject, 18},
      {&WPD_OBJECT_DATE_MODIFIED, kObject, 19},
      {&WPD_OBJECT_PERSISTENT_UNIQUE_ID, kObject, 5},
      {&WPD_OBJECT_FORMAT, kObject, 6},
      {&WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID, kObject, 23},
      {&WPD_OBJECT_CAN_DELETE, kObject, 26},
      {&WPD_STORAGE_FILE_SYSTEM_TYPE, kStorage, 3},
      {&WPD_STORAGE_ACCESS_CAPABILITY, kStorage, 11},
      {&WPD_CLIENT_NAME, kClient, 2},
      {&WPD_CLIENT_MAJOR_VERSION, kClient, 3},
      {&WPD_CLIENT_MINOR_VERSION, kClient, 4},
      {&WPD_CLIENT_REVISION, kClient, 5},
      {&WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, kClient, 8},
      {&WPD_CLIENT_DESIRED_ACCESS, kClient, 9},
      {&WPD_RESOURCE_DEFAULT, "{E81E79BE-34F0-41BF-B53F-F1A06AE87842}", 0},
      {&WPD_RESOURCE_THUMBNAIL, "{C7C407BA-98FA-46B5-9960-23FEC124CFDE}", 0},
      {&WPD_EVENT_PARAMETER_PNP_DEVICE_ID,
       "{15AB1953-F817-4FEF-A921-5676E838F6E0}", 2},
      {&WPD_EVENT_PARAMETER_EVENT_ID, "{15AB1953-F817-4FEF-A921-5676E838F6E0}",
       3},
  };
  for (const auto& expected : keys) {
    EXPECT_EQ(Text(expected.key->fmtid), expected.fmtid);
    EXPECT_EQ(expected.key->pid, expected.pid);
  }

  EXPECT_EQ(std::wstring(WPD_DEVICE_OBJECT_ID), L"DEVICE");
  EXPECT_EQ(PORTABLE_DEVICE_DELETE_NO_RECURSION, 0);
  EXPECT_EQ(static_cast<uint32_t>(E_WPD_DEVICE_NOT_OPEN), 0x802A0002u);
  EXPECT_EQ(sizeof(PROPERTYKEY), 20u);
}

}  // namespace
