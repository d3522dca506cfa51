// Pieces the media scan and the media enumeration share: the content access
// both prepare, and the batch of object ids one Next fills.
#ifndef SNAPFERRY_WPD_MEDIA_WALK_H_
#define SNAPFERRY_WPD_MEDIA_WALK_H_

#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <initializer_list>
#include <string>
#include <unordered_set>

#include "wpd/com_ptr.h"

namespace snapferry {

// The interfaces a walk reads the device through.
struct ContentAccess {
  ComPtr<IPortableDeviceContent> content;
  ComPtr<IPortableDeviceProperties> properties;
  ComPtr<IPortableDeviceKeyCollection> keys;

  // Content, then properties, then an empty key collection; the HRESULT of
  // the first that fails.
  HRESULT Prepare(IPortableDevice* device);
  // Adds the keys the walk reads, in order; the HRESULT of the first Add
  // that fails. A walk without one of its keys would answer wrongly rather
  // than fail (no content type: no storage; no name: nothing to list).
  HRESULT AddKeys(std::initializer_list<PROPERTYKEY> wanted);
};

// Up to 64 object ids from one Next. Ids are freed one by one as they are
// handled; whatever a failing or over-eager Next left behind is freed too.
class ObjectIdBatch {
 public:
  static constexpr ULONG kCapacity = 64;

  ObjectIdBatch() = default;
  ~ObjectIdBatch() { FreeAll(); }
  ObjectIdBatch(const ObjectIdBatch&) = delete;
  ObjectIdBatch& operator=(const ObjectIdBatch&) = delete;

  // The number of ids fetched; 0 when the listing ended or Next failed,
  // which then leaves its HRESULT in *failure (S_OK otherwise).
  ULONG Fetch(IEnumPortableDeviceObjectIDs* enumerator,
              HRESULT* failure = nullptr);
  LPCWSTR at(ULONG i) const { return ids_[i]; }
  void Free(ULONG i) {
    CoTaskMemFree(ids_[i]);
    ids_[i] = nullptr;
  }

 private:
  void FreeAll();

  LPWSTR ids_[kCapacity] = {};
};

// Container ids a walk has already taken on. A device whose tree lists a
// folder inside itself or its own descendants would otherwise keep a walk
// going until memory runs out.
class ContainerSet {
 public:
  explicit ContainerSet(const wchar_t* root) { seen_.insert(root); }
  // True the first time an id is offered.
  bool Insert(LPCWSTR id) { return seen_.insert(id).second; }

 private:
  std::unordered_set<std::wstring> seen_;
};

bool IsContainer(const GUID& content_type);
// The object's name: its original file name, or its object name where that
// is missing or empty.
std::wstring ReadObjectName(IPortableDeviceValues* values);
// "dcim" in any case of A to Z, and nothing more.
bool IsDcimName(const std::wstring& name);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_MEDIA_WALK_H_
