#include "wpd/object_deletion.h"

#include <windows.h>
#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <cstdio>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/media_walk.h"

namespace snapferry {
namespace {

// The answers by which a device refuses a deletion, as opposed to failing.
bool IsRefusal(HRESULT hr) {
  return hr == E_ACCESSDENIED || hr == E_NOTIMPL ||
         hr == HresultFromWin32(ERROR_NOT_SUPPORTED);
}

// An id with an embedded NUL would reach the device cut short, naming
// another object than the one asked about.
bool HasEmbeddedNul(const std::wstring& text) {
  return text.find(L'\0') != std::wstring::npos;
}

// Reads the object again (its WPD_OBJECT_ID) after the device said it was
// deleted: S_OK when it is still there, else the HRESULT of the first call
// that failed, which tells whether it is gone or the check failed.
HRESULT ReadObjectAgain(IPortableDeviceContent* content,
                        const std::wstring& object) {
  ComPtr<IPortableDeviceValues> values;
  HRESULT hr = ReadObjectValues(content, object, {WPD_OBJECT_ID}, &values);
  // GetValues may succeed with the id holding a failure (S_FALSE): then
  // that failure is the read's answer.
  if (SUCCEEDED(hr)) {
    CoTaskMemString id;
    hr = values->GetStringValue(WPD_OBJECT_ID, id.Put());
  }
  return SUCCEEDED(hr) ? S_OK : hr;
}

// The answers by which a read says there is no such object.
bool MeansNoSuchObject(HRESULT hr) {
  return hr == HresultFromWin32(ERROR_FILE_NOT_FOUND) ||
         hr == HresultFromWin32(ERROR_NOT_FOUND);
}

}  // namespace

int32_t CanDeleteObject(const std::string& device_id,
                        const std::string& object_id,
                        DeviceSessions* sessions,
                        const ListedObject* listed) {
  ComApartmentGuard apartment;
  if (!apartment.usable()) return kCanDeleteUnknown;

  const std::wstring object = Utf8ToWide(object_id);
  for (int attempt = 0;; ++attempt) {
    // Declared in the reverse of their release order; all go before the
    // guard.
    SessionLease lease;
    ComPtr<IPortableDeviceContent> content;
    ComPtr<IPortableDeviceProperties> properties;
    ComPtr<IPortableDeviceKeyCollection> keys;
    ComPtr<IPortableDeviceValues> values;

    // A device object that did not open is released without Close.
    if (FAILED(DeviceSessions::Open(sessions, {device_id, GENERIC_READ},
                                    &lease))) {
      return kCanDeleteUnknown;
    }
    IPortableDevice* device = lease.device();
    HRESULT hr = HasEmbeddedNul(object) ? E_INVALIDARG : S_OK;
    if (SUCCEEDED(hr)) hr = device->Content(content.Put());
    if (SUCCEEDED(hr) && content && listed != nullptr) {
      hr = CheckListedObject(content.get(), object, *listed);
    }
    if (SUCCEEDED(hr) && content) hr = content->Properties(properties.Put());
    if (SUCCEEDED(hr) && content && properties) {
      hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr,
                            CLSCTX_INPROC_SERVER,
                            IID_IPortableDeviceKeyCollection, keys.PutVoid());
    }
    BOOL can_delete = FALSE;
    if (SUCCEEDED(hr) && content && properties && keys) {
      keys->Add(WPD_OBJECT_CAN_DELETE);
      hr = properties->GetValues(object.c_str(), keys.get(), values.Put());
      if (SUCCEEDED(hr) && values) {
        hr = values->GetBoolValue(WPD_OBJECT_CAN_DELETE, &can_delete);
        if (SUCCEEDED(hr)) {
          return can_delete != FALSE ? kCanDelete : kCannotDelete;
        }
      }
    }
    if (lease.CheckStale(hr) && attempt == 0) continue;
    return kCanDeleteUnknown;
  }
}

ObjectOpResult DeleteObject(const std::string& device_id,
                            const std::string& object_id,
                            DeviceSessions* sessions,
                            const ListedObject* listed) {
  ObjectOpResult result;
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    result.status = ObjectOpStatus::kError;
    result.error = kComInitialisationFailed;
    return result;
  }

  std::wstring object = Utf8ToWide(object_id);
  for (int attempt = 0;; ++attempt) {
    // Declared in the reverse of their release order; all go before the
    // guard.
    SessionLease lease;
    ComPtr<IPortableDeviceContent> content;
    ComPtr<IPortableDevicePropVariantCollection> object_ids;

    HRESULT hr = DeviceSessions::Open(
        sessions, {device_id, GENERIC_READ | GENERIC_WRITE}, &lease);
    if (SUCCEEDED(hr)) {
      hr = lease.device()->Content(content.Put());
      if (SUCCEEDED(hr) && !content) hr = E_POINTER;
    }
    if (SUCCEEDED(hr) && listed != nullptr) {
      const HRESULT same = CheckListedObject(content.get(), object, *listed);
      if (FAILED(same)) {
        // Nothing was deleted yet: a kept session's age may be read again.
        if (lease.CheckStale(same) && attempt == 0) continue;
        result.status = ObjectOpStatus::kError;
        result.hresult = kNotTheListedObject;
        result.error = kNotTheListedObjectText;
        return result;
      }
    }
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, nullptr,
                            CLSCTX_INPROC_SERVER,
                            IID_IPortableDevicePropVariantCollection,
                            object_ids.PutVoid());
      if (SUCCEEDED(hr) && !object_ids) hr = E_POINTER;
    }
    if (SUCCEEDED(hr)) {
      if (HasEmbeddedNul(object)) {
        hr = E_INVALIDARG;
      } else {
        // The collection keeps its own copy of the string.
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_LPWSTR;
        value.pwszVal = object.data();
        hr = object_ids->Add(&value);
      }
    }
    // Some deletes are answered as done and do nothing, and S_FALSE may mean
    // that nothing was deleted: what the device says is checked.
    HRESULT check = S_OK;
    if (SUCCEEDED(hr)) {
      // Exactly the one object named: never its children.
      hr = content->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION,
                           object_ids.get(), nullptr);
      if (SUCCEEDED(hr)) check = ReadObjectAgain(content.get(), object);
    }
    // Also a device object that failed to open: the device may hold on to a
    // read-write session otherwise. An open one goes back to its sessions
    // (or is closed with the lease), unless the device went away.
    if (lease.unopened()) lease.unopened()->Close();
    lease.Check(hr);

    result.hresult = hr;
    if (FAILED(hr)) {
      result.status = IsRefusal(hr) ? ObjectOpStatus::kNotPermitted
                                    : ObjectOpStatus::kError;
      result.error = FormatHresultFailure("Delete object", hr);
    } else if (SUCCEEDED(check)) {
      result.status = ObjectOpStatus::kError;
      result.hresult = E_FAIL;
      result.error = "Delete object failed: the object is still on the device";
    } else if (!MeansNoSuchObject(check)) {
      result.status = ObjectOpStatus::kError;
      result.hresult = check;
      char text[96];
      std::snprintf(text, sizeof(text),
                    "Delete object could not be confirmed (HRESULT 0x%08lX)",
                    static_cast<unsigned long>(static_cast<uint32_t>(check)));
      result.error = text;
    }
    return result;
  }
}

}  // namespace snapferry
