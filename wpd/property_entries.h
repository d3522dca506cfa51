// Properties as a device report shows them: each key by its SDK name where
// the program knows it, the PROPVARIANT's type by name, and the value as
// text, integer or boolean.
#ifndef SNAPFERRY_WPD_PROPERTY_ENTRIES_H_
#define SNAPFERRY_WPD_PROPERTY_ENTRIES_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace snapferry {

struct PropertyEntry {
  std::string key;   // "WPD_OBJECT_SIZE", else "{fmtid} pid"
  std::string type;  // "VT_UI8", else "VT_0x...."
  // Strings, dates ("YYYY-MM-DDTHH:MM:SS") and GUIDs as text; integers and
  // error codes (sign-extended) as integers; booleans; nothing for any
  // other type.
  std::variant<std::monostate, std::string, int64_t, bool> value;
};

// Every property `values` holds, in its order. A property that cannot be
// taken out of the set is left out.
std::vector<PropertyEntry> ReadPropertyEntries(IPortableDeviceValues* values);
PropertyEntry MakePropertyEntry(const PROPERTYKEY& key,
                                const PROPVARIANT& value);

std::string PropertyKeyName(const PROPERTYKEY& key);
std::string VarTypeName(VARTYPE type);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string GuidText(const GUID& guid);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_PROPERTY_ENTRIES_H_
