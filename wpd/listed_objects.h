// What an enumeration listed of each object, kept so that a later delete
// can tell whether an id still names the object the interface saw. Object
// ids all change when a phone is plugged in again, and a device may hand a
// former id to another object.

#ifndef SNAPFERRY_WPD_LISTED_OBJECTS_H_
#define SNAPFERRY_WPD_LISTED_OBJECTS_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wpd/date_text.h"
#include "wpd/media_enumeration.h"

namespace snapferry {

// One object as the enumeration read it. Texts are UTF-8.
struct ListedObject {
  std::string name;  // original file name, else object name
  uint64_t size = 0;
  DateText date;
  std::string persistent_id;  // WPD_OBJECT_PERSISTENT_UNIQUE_ID, or ""

  bool operator==(const ListedObject& other) const {
    return size == other.size && date.view() == other.date.view() &&
           name == other.name && persistent_id == other.persistent_id;
  }
  bool operator!=(const ListedObject& other) const { return !(*this == other); }
};

// One listing's objects by id: a table sorted once, so that 100,000 of them
// cost one block and their texts, not a node each.
class ListedObjects {
 public:
  ListedObjects() = default;
  explicit ListedObjects(const std::vector<MediaEntry>& entries);

  // Null for an id the listing did not hold. An id listed twice answers
  // its first listing.
  const ListedObject* Find(std::string_view object_id) const;
  size_t size() const { return items_.size(); }

 private:
  struct Item {
    std::string object_id;
    ListedObject object;
  };
  std::vector<Item> items_;  // by object_id, stable
};

// HRESULT_FROM_WIN32(ERROR_NOT_FOUND): what a deletion answers for an id
// that no longer names the object listed under it.
inline constexpr HRESULT kNotTheListedObject =
    static_cast<HRESULT>(0x80070490);

// Reads `object` as the enumeration reads it (ReadListedProperties, and the
// name as the walk reads it) into *out. S_OK, or the HRESULT of the first
// step that failed, the name's read included.
HRESULT ReadListedObject(IPortableDeviceContent* content,
                         const std::wstring& object, ListedObject* out);

// S_OK when `object` still reads as `listed`; kNotTheListedObject when it
// reads otherwise; the read's failure when it cannot be read.
HRESULT CheckListedObject(IPortableDeviceContent* content,
                          const std::wstring& object,
                          const ListedObject& listed);

// From what GetValues gave, as a listing holds them: a size that cannot be
// read is 0; the date is the creation date, else the modification date,
// else ""; a persistent id that cannot be read is "".
void ReadListedProperties(IPortableDeviceValues* values, uint64_t* size,
                          DateText* date, std::string* persistent_id);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_LISTED_OBJECTS_H_
