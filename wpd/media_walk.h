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
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

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

// The device calls a walk makes, counted by the walk itself as it makes
// them, with each that failed: what a device report tells of a walk.
class WalkCalls {
 public:
  enum Call : int {
    kEnumObjects,
    kNext,
    kGetValues,
    kQueueGetValuesByObjectList,
    kStart,  // a bulk request; also failed by the status it ends with
    kCancel,
    kCallCount,
  };
  struct Failure {
    Call call;
    std::wstring object_id;  // the object or listed container; may be empty
    HRESULT hresult;
  };

  // "EnumObjects", "Next", "GetValues", ...
  static const char* Name(Call call);

  void Made(Call call, HRESULT hr, LPCWSTR object_id = nullptr) {
    ++counts_[call];
    if (FAILED(hr)) Failed(call, hr, object_id);
  }
  // A failure told after the call itself (a bulk request's end).
  void Failed(Call call, HRESULT hr, LPCWSTR object_id = nullptr) {
    failures_.push_back({call, object_id ? object_id : L"", hr});
  }
  uint64_t count(Call call) const { return counts_[call]; }
  uint64_t total() const;
  const std::vector<Failure>& failures() const { return failures_; }

 private:
  uint64_t counts_[kCallCount] = {};
  std::vector<Failure> failures_;
};

// The object ids of one container's listing, 64 per Next, gathered until
// at least as many as wanted came or the listing ended. Ids are freed one by
// one as they are handled; whatever a failing or over-eager Next left
// behind is freed too.
class ObjectIdBatch {
 public:
  static constexpr ULONG kPerNext = 64;

  // `calls`, when given, counts the Next calls made for `listing`.
  explicit ObjectIdBatch(IEnumPortableDeviceObjectIDs* enumerator,
                         WalkCalls* calls = nullptr, LPCWSTR listing = nullptr)
      : enumerator_(enumerator), calls_(calls), listing_(listing) {}
  ~ObjectIdBatch() { FreeAll(); }
  ObjectIdBatch(const ObjectIdBatch&) = delete;
  ObjectIdBatch& operator=(const ObjectIdBatch&) = delete;

  // Replaces the ids with those of the next Next calls: one, then more
  // while fewer than `wanted` came. The number gathered; 0 once the listing
  // ended (a Next gave none) or a Next failed, which then leaves its
  // HRESULT in *failure (S_OK otherwise) and ends the listing too; what
  // came before it is kept.
  size_t Fetch(size_t wanted = 1, HRESULT* failure = nullptr);
  size_t size() const { return ids_.size(); }
  LPCWSTR at(size_t i) const { return ids_[i]; }
  const LPWSTR* data() const { return ids_.data(); }
  void Free(size_t i) {
    CoTaskMemFree(ids_[i]);
    ids_[i] = nullptr;
  }

 private:
  void FreeAll();

  IEnumPortableDeviceObjectIDs* enumerator_;
  WalkCalls* calls_;
  LPCWSTR listing_;
  std::vector<LPWSTR> ids_;
  bool ended_ = false;
  HRESULT failure_ = S_OK;  // of the Next that ended the listing
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

// A folder or object the walk could not read, and so passed over. Texts
// are UTF-8.
struct UnreadItem {
  // The folder's name as entries carry it (MediaEntry::parentPath): the
  // name of the folder the object was listed in, "" for the device root;
  // for a folder whose own listing failed, that folder's own name.
  std::string folder;
  std::string objectId;  // the object's or that folder's id; "" when none
  int32_t hresult = 0;   // what the device answered
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
  // The container the object was listed in.
  LPCWSTR parent_id;               // "DEVICE" for the device root
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

// Asked when the walk meets a code that says the device went away
// (IsDeviceGone): true stops the walk with it, false passes over what could
// not be read, as for any other failure. Null: every such code stops it.
using WentAwayCheck = std::function<bool(HRESULT hr)>;

// Walks the tree from "DEVICE" depth first, the container pushed last
// first, 64 ids per Next, the properties `keys` of each object read as
// PropertyReader reads them (in bulk where the device serves it, else one
// GetValues per object). Objects are
// visited in the order their containers list them; a container is visited
// where it is met and its contents are walked later (each container id at
// most once) if its visitor wants. Every id is freed as soon as its object
// was handled.
//
// What cannot be read is passed over and appended to `unread`: a container
// whose listing fails (at EnumObjects or at a later Next; what it listed
// before stays), and an object whose GetValues fails, or whose content type
// or name carries an error other than "no such property" (0x80070490, as an
// iPhone's media have no WPD_OBJECT_NAME); such an object is not visited.
// Once a dcim container was met, only the unread items at or below one are
// kept, as only files there count. A went-away code that `went_away` holds
// for stops the walk: the result is that HRESULT, S_OK otherwise. `calls`,
// when given, counts the device calls the walk makes.
HRESULT WalkObjects(IPortableDeviceContent* content,
                    IPortableDeviceProperties* properties,
                    IPortableDeviceKeyCollection* keys, WalkVisitor& visitor,
                    std::vector<UnreadItem>* unread,
                    const WentAwayCheck& went_away = nullptr,
                    WalkCalls* calls = nullptr);

// One GetValues of `object` with `wanted`, outside a walk: the content's
// properties, a key collection, the read. The HRESULT of the first step
// that fails; `values` is set on success.
HRESULT ReadObjectValues(IPortableDeviceContent* content,
                         const std::wstring& object,
                         std::initializer_list<PROPERTYKEY> wanted,
                         ComPtr<IPortableDeviceValues>* values);

bool IsContainer(const GUID& content_type);
// The object's name: its original file name, or its object name where that
// is missing or empty.
std::wstring ReadObjectName(IPortableDeviceValues* values);
// Reads the object's name into `name`, reusing its storage. False when no
// name came and a read failed for another reason than a missing property;
// that read's code then goes to *failure.
bool ReadObjectName(IPortableDeviceValues* values, std::wstring* name,
                    HRESULT* failure = nullptr);
// What a typed read of `key` that answered `read` says of the property.
// WPD keeps a property it could not read as a VT_ERROR value holding the
// code: the typed getters answer that code, or a type mismatch, after which
// the code is read as the error value. 0x80070490 when the object lacks it.
HRESULT PropertyReadResult(IPortableDeviceValues* values,
                           const PROPERTYKEY& key, HRESULT read);
// "dcim" in any case of A to Z, and nothing more.
bool IsDcimName(const std::wstring& name);
// `text` in UTF-8 into `out`, reusing its storage; plain ASCII is copied
// without a conversion call.
void AssignUtf8(std::wstring_view text, std::string* out);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_MEDIA_WALK_H_
