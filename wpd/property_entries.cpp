#include "wpd/property_entries.h"

#include <portabledevice.h>

#include <cstdio>
#include <utility>

#include "wpd/device_connection.h"

namespace snapferry {
namespace {

struct NamedKey {
  const PROPERTYKEY* key;
  const char* name;
};

#define NAMED(key) \
  { &key, #key }
const NamedKey kKnownKeys[] = {
    NAMED(WPD_OBJECT_ID),
    NAMED(WPD_OBJECT_PARENT_ID),
    NAMED(WPD_OBJECT_NAME),
    NAMED(WPD_OBJECT_PERSISTENT_UNIQUE_ID),
    NAMED(WPD_OBJECT_FORMAT),
    NAMED(WPD_OBJECT_CONTENT_TYPE),
    NAMED(WPD_OBJECT_SIZE),
    NAMED(WPD_OBJECT_ORIGINAL_FILE_NAME),
    NAMED(WPD_OBJECT_DATE_CREATED),
    NAMED(WPD_OBJECT_DATE_MODIFIED),
    NAMED(WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID),
    NAMED(WPD_OBJECT_CAN_DELETE),
    NAMED(WPD_DEVICE_SYNC_PARTNER),
    NAMED(WPD_DEVICE_FIRMWARE_VERSION),
    NAMED(WPD_DEVICE_POWER_LEVEL),
    NAMED(WPD_DEVICE_POWER_SOURCE),
    NAMED(WPD_DEVICE_PROTOCOL),
    NAMED(WPD_DEVICE_MANUFACTURER),
    NAMED(WPD_DEVICE_MODEL),
    NAMED(WPD_DEVICE_SERIAL_NUMBER),
    NAMED(WPD_DEVICE_SUPPORTS_NON_CONSUMABLE),
    NAMED(WPD_DEVICE_DATETIME),
    NAMED(WPD_DEVICE_FRIENDLY_NAME),
    NAMED(WPD_DEVICE_SUPPORTED_DRM_SCHEMES),
    NAMED(WPD_DEVICE_SUPPORTED_FORMATS_ARE_ORDERED),
    NAMED(WPD_STORAGE_FILE_SYSTEM_TYPE),
    NAMED(WPD_STORAGE_CAPACITY),
    NAMED(WPD_STORAGE_FREE_SPACE_IN_BYTES),
    NAMED(WPD_STORAGE_MAX_OBJECT_SIZE),
    NAMED(WPD_STORAGE_CAPACITY_IN_OBJECTS),
    NAMED(WPD_STORAGE_ACCESS_CAPABILITY),
};
#undef NAMED

struct NamedType {
  VARTYPE type;
  const char* name;
};

const NamedType kKnownTypes[] = {
    {VT_EMPTY, "VT_EMPTY"},
    {VT_NULL, "VT_NULL"},
    {VT_I1, "VT_I1"},
    {VT_I2, "VT_I2"},
    {VT_I4, "VT_I4"},
    {VT_I8, "VT_I8"},
    {VT_INT, "VT_INT"},
    {VT_UI1, "VT_UI1"},
    {VT_UI2, "VT_UI2"},
    {VT_UI4, "VT_UI4"},
    {VT_UI8, "VT_UI8"},
    {VT_UINT, "VT_UINT"},
    {VT_R4, "VT_R4"},
    {VT_R8, "VT_R8"},
    {VT_BOOL, "VT_BOOL"},
    {VT_DATE, "VT_DATE"},
    {VT_FILETIME, "VT_FILETIME"},
    {VT_ERROR, "VT_ERROR"},
    {VT_LPWSTR, "VT_LPWSTR"},
    {VT_LPSTR, "VT_LPSTR"},
    {VT_BSTR, "VT_BSTR"},
    {VT_CLSID, "VT_CLSID"},
    {VT_BLOB, "VT_BLOB"},
    {VT_UNKNOWN, "VT_UNKNOWN"},
    {VT_VECTOR | VT_UI1, "VT_VECTOR|VT_UI1"},
};

}  // namespace

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof(text),
                "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3,
                guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string PropertyKeyName(const PROPERTYKEY& key) {
  for (const NamedKey& known : kKnownKeys) {
    if (IsEqualPropertyKey(key, *known.key)) return known.name;
  }
  return GuidText(key.fmtid) + " " + std::to_string(key.pid);
}

std::string VarTypeName(VARTYPE type) {
  for (const NamedType& known : kKnownTypes) {
    if (known.type == type) return known.name;
  }
  char text[16];
  std::snprintf(text, sizeof(text), "VT_0x%04X", static_cast<unsigned>(type));
  return text;
}

PropertyEntry MakePropertyEntry(const PROPERTYKEY& key,
                                const PROPVARIANT& value) {
  PropertyEntry entry;
  entry.key = PropertyKeyName(key);
  entry.type = VarTypeName(value.vt);
  switch (value.vt) {
    case VT_LPWSTR:
      if (value.pwszVal != nullptr) entry.value = WideToUtf8(value.pwszVal);
      break;
    case VT_BSTR:
      if (value.bstrVal != nullptr) entry.value = WideToUtf8(value.bstrVal);
      break;
    case VT_LPSTR:
      if (value.pszVal != nullptr) entry.value = std::string(value.pszVal);
      break;
    case VT_BOOL:
      entry.value = value.boolVal != VARIANT_FALSE;
      break;
    case VT_I1:
      entry.value = static_cast<int64_t>(value.cVal);
      break;
    case VT_UI1:
      entry.value = static_cast<int64_t>(value.bVal);
      break;
    case VT_I2:
      entry.value = static_cast<int64_t>(value.iVal);
      break;
    case VT_UI2:
      entry.value = static_cast<int64_t>(value.uiVal);
      break;
    case VT_I4:
    case VT_INT:
      entry.value = static_cast<int64_t>(value.lVal);
      break;
    case VT_UI4:
    case VT_UINT:
      entry.value = static_cast<int64_t>(value.ulVal);
      break;
    case VT_I8:
      entry.value = static_cast<int64_t>(value.hVal.QuadPart);
      break;
    case VT_UI8:
      // Above 2^63 it wraps: a 64-bit integer is what the channel carries.
      entry.value = static_cast<int64_t>(value.uhVal.QuadPart);
      break;
    case VT_ERROR:
      entry.value = static_cast<int64_t>(static_cast<int32_t>(value.scode));
      break;
    case VT_DATE:
      entry.value = std::string(FormatOleDate(value.date).view());
      break;
    case VT_CLSID:
      if (value.puuid != nullptr) entry.value = GuidText(*value.puuid);
      break;
    default:
      break;
  }
  return entry;
}

std::vector<PropertyEntry> ReadPropertyEntries(IPortableDeviceValues* values) {
  std::vector<PropertyEntry> entries;
  DWORD count = 0;
  if (values == nullptr || FAILED(values->GetCount(&count))) return entries;
  entries.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    PROPERTYKEY key = {};
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(values->GetAt(i, &key, &value))) {
      entries.push_back(MakePropertyEntry(key, value));
    }
    PropVariantClear(&value);
  }
  return entries;
}

}  // namespace snapferry
