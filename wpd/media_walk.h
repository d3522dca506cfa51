// The walk the media scan and the media enumeration share: the content
// access both prepare, the batch of object ids one Next fills, and the
// depth-first walk itself, which hands every object it could read to a
// visitor.
#ifndef SNAPFERRY_WPD_MEDIA_WALK_H_
#define SNAPFERRY_WPD_MEDIA_WALK_H_

#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
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

// One object the walk read, as its visitor sees it. Everything here is the
// walk's and lives only for the call: `name` and `values` are reused or
// released for the next object.
struct WalkedObject {
  LPCWSTR id;
  IPortableDeviceValues* values;  // what GetValues gave for the object
  GUID content_type;              // GUID_NULL when unreadable
  const std::wstring& name;       // original file name, else object name
  bool is_container;              // folder or functional object
  bool is_dcim;                   // a container named dcim
  // No name could be read, and not because the object has none: `name` is
  // empty but the object's name is not.
  bool name_unreadable;
  // The container the object was listed in.
  int32_t parent_depth;            // 0 for the device root
  bool parent_in_dcim;             // it is, or lies below, a dcim container
  const std::string& parent_path;  // its own name in UTF-8; "" for the root
};

class WalkVisitor {
 public:
  // For a container, whether the walk goes into it (false: what it holds is
  // never walked, unless the same container is listed again elsewhere).
  virtual bool Visit(const WalkedObject& object) = 0;

 protected:
  ~WalkVisitor() = default;
};

// Walks the tree from "DEVICE" depth first, the container pushed last
// first, 64 ids per Next, one GetValues per object with `keys`. Objects are
// visited in the order their containers list them; a container is visited
// where it is met and its contents are walked later (each container id at
// most once) if its visitor wants. A container that cannot be listed, an
// object whose properties cannot be read and a failing Next are passed over.
// Every id is freed as soon as its object was visited. A listing or property
// read that answers that the device went away (IsDeviceGone) stops the walk:
// the result is that HRESULT, S_OK otherwise.
HRESULT WalkObjects(IPortableDeviceContent* content,
                    IPortableDeviceProperties* properties,
                    IPortableDeviceKeyCollection* keys, WalkVisitor& visitor);

bool IsContainer(const GUID& content_type);
// The object's name: its original file name, or its object name where that
// is missing or empty.
std::wstring ReadObjectName(IPortableDeviceValues* values);
// Reads the object's name into `name`, reusing its storage. False when no
// name came and a read failed for another reason than a missing property.
bool ReadObjectName(IPortableDeviceValues* values, std::wstring* name);
// "dcim" in any case of A to Z, and nothing more.
bool IsDcimName(const std::wstring& name);
// `text` in UTF-8 into `out`, reusing its storage; plain ASCII is copied
// without a conversion call.
void AssignUtf8(std::wstring_view text, std::string* out);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_MEDIA_WALK_H_
