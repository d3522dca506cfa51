#include "wpd/listed_objects.h"

#include <portabledevice.h>

#include <algorithm>

#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/media_walk.h"

namespace snapferry {

ListedObjects::ListedObjects(const std::vector<MediaEntry>& entries) {
  items_.reserve(entries.size());
  for (const MediaEntry& entry : entries) {
    items_.push_back({entry.objectId,
                      {entry.name, entry.size, entry.date,
                       entry.persistentId}});
  }
  std::stable_sort(items_.begin(), items_.end(),
                   [](const Item& a, const Item& b) {
                     return a.object_id < b.object_id;
                   });
}

const ListedObject* ListedObjects::Find(std::string_view object_id) const {
  auto found = std::lower_bound(
      items_.begin(), items_.end(), object_id,
      [](const Item& item, std::string_view id) { return item.object_id < id; });
  if (found == items_.end() || found->object_id != object_id) return nullptr;
  return &found->object;
}

void ReadListedProperties(IPortableDeviceValues* values, uint64_t* size,
                          DateText* date, std::string* persistent_id) {
  ULONGLONG read = 0;
  if (FAILED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &read))) {
    read = 0;
  }
  *size = read;
  *date = ReadPropertyDate(values, WPD_OBJECT_DATE_CREATED);
  if (date->empty()) *date = ReadPropertyDate(values, WPD_OBJECT_DATE_MODIFIED);
  CoTaskMemString id;
  if (SUCCEEDED(values->GetStringValue(WPD_OBJECT_PERSISTENT_UNIQUE_ID,
                                       id.Put())) &&
      id.get() != nullptr) {
    AssignUtf8(id.get(), persistent_id);
  } else {
    persistent_id->clear();
  }
}

HRESULT ReadListedObject(IPortableDeviceContent* content,
                         const std::wstring& object, ListedObject* out) {
  // An id cut short at a NUL would read another object.
  if (object.find(L'\0') != std::wstring::npos) return E_INVALIDARG;
  ComPtr<IPortableDeviceValues> values;
  const HRESULT hr = ReadObjectValues(
      content, object,
      {WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_SIZE,
       WPD_OBJECT_DATE_CREATED, WPD_OBJECT_DATE_MODIFIED,
       WPD_OBJECT_PERSISTENT_UNIQUE_ID},
      &values);
  if (FAILED(hr)) return hr;
  // A name the walk could not read would have kept the object out of the
  // listing: such an object cannot be the one listed.
  std::wstring name;
  HRESULT failure = S_OK;
  if (!ReadObjectName(values.get(), &name, &failure)) return failure;
  AssignUtf8(name, &out->name);
  ReadListedProperties(values.get(), &out->size, &out->date,
                       &out->persistent_id);
  return S_OK;
}

HRESULT CheckListedObject(IPortableDeviceContent* content,
                          const std::wstring& object,
                          const ListedObject& listed) {
  ListedObject now;
  const HRESULT hr = ReadListedObject(content, object, &now);
  if (FAILED(hr)) return hr;
  return now == listed ? S_OK : kNotTheListedObject;
}

}  // namespace snapferry
