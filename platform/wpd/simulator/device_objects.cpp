// The simulated WPD API classes: the device manager, the device and what
// hangs off it (content, enumerator, properties, resources, object stream),
// and the class factories that CoRegisterClassObject publishes.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/wpd/simulator/bulk_properties.h"
#include "platform/wpd/simulator/call_log.h"
#include "platform/wpd/simulator/com_support.h"
#include "platform/wpd/simulator/session.h"
#include "platform/wpd/simulator/values.h"

namespace wpd_sim {
namespace {

// The access rights of WPD_CLIENT_DESIRED_ACCESS (GENERIC_READ, GENERIC_WRITE).
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;

// A node's id as the call log names it.
std::string IdOf(DeviceState& device, uint32_t node) {
  std::lock_guard<std::mutex> lock(device.mu);
  return call_log::Narrow(device.nodes[node].setup.id.c_str());
}

// --- properties of a model object -------------------------------------------

const GUID* ContentTypeGuid(ContentType type) {
  switch (type) {
    case ContentType::kFunctional:
      return &WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT;
    case ContentType::kFolder:
      return &WPD_CONTENT_TYPE_FOLDER;
    case ContentType::kImage:
      return &WPD_CONTENT_TYPE_IMAGE;
    case ContentType::kVideo:
      return &WPD_CONTENT_TYPE_VIDEO;
    case ContentType::kGeneric:
      return &WPD_CONTENT_TYPE_GENERIC_FILE;
    case ContentType::kUnspecified:
      return &WPD_CONTENT_TYPE_UNSPECIFIED;
    case ContentType::kNone:
      break;
  }
  return nullptr;
}

bool IsContainer(ContentType type) {
  return type == ContentType::kFunctional || type == ContentType::kFolder;
}

PROPVARIANT StringValue(std::wstring_view text) {
  PROPVARIANT value = EmptyValue();
  value.vt = VT_LPWSTR;
  value.pwszVal = DupString(text);
  return value;
}

PROPVARIANT DateValue(const DateProperty& date) {
  PROPVARIANT value = EmptyValue();
  switch (date.kind) {
    case DateProperty::Kind::kDate:
      value.vt = VT_DATE;
      value.date = date.date;
      break;
    case DateProperty::Kind::kString:
      value = StringValue(date.text);
      break;
    case DateProperty::Kind::kUint:
      value.vt = VT_UI8;
      value.uhVal.QuadPart = date.uint;
      break;
    case DateProperty::Kind::kMissing:
      break;
  }
  return value;
}

const PROPERTYKEY* const kObjectKeys[] = {
    &WPD_OBJECT_ID,
    &WPD_OBJECT_PARENT_ID,
    &WPD_OBJECT_NAME,
    &WPD_OBJECT_PERSISTENT_UNIQUE_ID,
    &WPD_OBJECT_FORMAT,
    &WPD_OBJECT_CONTENT_TYPE,
    &WPD_OBJECT_SIZE,
    &WPD_OBJECT_ORIGINAL_FILE_NAME,
    &WPD_OBJECT_DATE_CREATED,
    &WPD_OBJECT_DATE_MODIFIED,
    &WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID,
    &WPD_OBJECT_CAN_DELETE,
    &WPD_STORAGE_FILE_SYSTEM_TYPE,
    &WPD_STORAGE_CAPACITY,
    &WPD_STORAGE_FREE_SPACE_IN_BYTES,
    &WPD_STORAGE_ACCESS_CAPABILITY,
    &WPD_DEVICE_FIRMWARE_VERSION,
    &WPD_DEVICE_POWER_LEVEL,
    &WPD_DEVICE_POWER_SOURCE,
    &WPD_DEVICE_PROTOCOL,
    &WPD_DEVICE_MANUFACTURER,
    &WPD_DEVICE_MODEL,
    &WPD_DEVICE_SERIAL_NUMBER,
    &WPD_DEVICE_SUPPORTS_NON_CONSUMABLE,
    &WPD_DEVICE_FRIENDLY_NAME,
};

PROPVARIANT GuidValue(const GUID& guid) {
  PROPVARIANT value = EmptyValue();
  value.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
  if (value.puuid != nullptr) {
    value.vt = VT_CLSID;
    *value.puuid = guid;
  }
  return value;
}

// WPD_OBJECT_FORMAT's value for an MTP object format code.
GUID FormatGuid(uint16_t code) {
  GUID format = WPD_OBJECT_FORMAT_UNSPECIFIED;
  format.Data1 = static_cast<uint32_t>(code) << 16;
  return format;
}

PROPVARIANT UnsignedValue(VARTYPE type, uint64_t value) {
  PROPVARIANT out = EmptyValue();
  out.vt = type;
  if (type == VT_UI4) {
    out.ulVal = static_cast<ULONG>(value);
  } else {
    out.uhVal.QuadPart = value;
  }
  return out;
}

// The device object's own properties (WPD_DEVICE_*); false for another key
// or one the device lacks.
bool DeviceProperty(const DeviceSpec& device, const PROPERTYKEY& key,
                    PROPVARIANT* out) {
  const DeviceSpec::Properties& own = device.properties;
  const std::pair<const PROPERTYKEY*, const std::optional<std::wstring>*>
      texts[] = {{&WPD_DEVICE_FRIENDLY_NAME, &device.friendly_name},
                 {&WPD_DEVICE_MANUFACTURER, &device.manufacturer},
                 {&WPD_DEVICE_MODEL, &own.model},
                 {&WPD_DEVICE_FIRMWARE_VERSION, &own.firmware_version},
                 {&WPD_DEVICE_PROTOCOL, &own.protocol},
                 {&WPD_DEVICE_SERIAL_NUMBER, &own.serial_number}};
  for (const auto& [text_key, text] : texts) {
    if (!SameKey(key, *text_key)) continue;
    if (!*text) return false;
    *out = StringValue(**text);
    return true;
  }
  if (SameKey(key, WPD_DEVICE_POWER_LEVEL) && own.power_level) {
    *out = UnsignedValue(VT_UI4, *own.power_level);
  } else if (SameKey(key, WPD_DEVICE_POWER_SOURCE) && own.power_source) {
    *out = UnsignedValue(VT_UI4, *own.power_source);
  } else if (SameKey(key, WPD_DEVICE_SUPPORTS_NON_CONSUMABLE) &&
             own.supports_non_consumable) {
    out->vt = VT_BOOL;
    out->boolVal = *own.supports_non_consumable ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    return false;
  }
  return true;
}

// Under the device's lock: the object's value for `key`, if it has one.
bool ObjectProperty(const DeviceState& device, uint32_t node,
                    const PROPERTYKEY& key, PROPVARIANT* out) {
  const ObjectNode& object = device.nodes[node];
  const ObjectSpec& setup = object.setup;
  *out = EmptyValue();
  if (SameKey(key, WPD_OBJECT_ID)) {
    *out = StringValue(setup.id);
  } else if (SameKey(key, WPD_OBJECT_PARENT_ID)) {
    *out =
        StringValue(node == kRootNode ? std::wstring()
                                      : device.nodes[object.parent].setup.id);
  } else if (SameKey(key, WPD_OBJECT_NAME)) {
    if (!setup.name) return false;
    *out = StringValue(*setup.name);
  } else if (SameKey(key, WPD_OBJECT_ORIGINAL_FILE_NAME)) {
    if (!setup.original_file_name) return false;
    *out = StringValue(*setup.original_file_name);
  } else if (SameKey(key, WPD_OBJECT_CONTENT_TYPE)) {
    const GUID* type = ContentTypeGuid(setup.content_type);
    if (type == nullptr) return false;
    *out = GuidValue(*type);
  } else if (SameKey(key, WPD_OBJECT_FORMAT)) {
    if (!setup.format) return false;
    *out = GuidValue(FormatGuid(*setup.format));
  } else if (SameKey(key, WPD_OBJECT_PERSISTENT_UNIQUE_ID)) {
    if (!setup.persistent_unique_id) return false;
    // Changes with every connection, as the object ids do.
    *out = StringValue(device.connections == 1
                           ? *setup.persistent_unique_id
                           : *setup.persistent_unique_id + L"~" +
                                 std::to_wstring(device.connections));
  } else if (SameKey(key, WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID)) {
    if (object.container == kNoNode) return false;
    *out = StringValue(device.nodes[object.container].setup.id);
  } else if (SameKey(key, WPD_STORAGE_ACCESS_CAPABILITY)) {
    if (!setup.storage_access) return false;
    out->vt = VT_UI4;
    out->ulVal = *setup.storage_access;
  } else if (SameKey(key, WPD_STORAGE_FILE_SYSTEM_TYPE)) {
    if (!setup.file_system_type) return false;
    *out = StringValue(*setup.file_system_type);
  } else if (SameKey(key, WPD_STORAGE_CAPACITY)) {
    if (!setup.capacity) return false;
    *out = UnsignedValue(VT_UI8, *setup.capacity);
  } else if (SameKey(key, WPD_STORAGE_FREE_SPACE_IN_BYTES)) {
    if (!setup.free_space) return false;
    *out = UnsignedValue(VT_UI8, *setup.free_space);
  } else if (node == kRootNode && DeviceProperty(device.setup, key, out)) {
    return true;
  } else if (SameKey(key, WPD_OBJECT_SIZE)) {
    if (!setup.size) return false;
    out->vt = VT_UI8;
    out->uhVal.QuadPart = *setup.size;
  } else if (SameKey(key, WPD_OBJECT_DATE_CREATED)) {
    *out = DateValue(setup.date_created);
  } else if (SameKey(key, WPD_OBJECT_DATE_MODIFIED)) {
    *out = DateValue(setup.date_modified);
  } else if (SameKey(key, WPD_OBJECT_CAN_DELETE)) {
    if (!setup.can_delete) return false;
    out->vt = VT_BOOL;
    int32_t flag = *setup.can_delete;
    auto narrow = static_cast<VARIANT_BOOL>(flag);
    // A non-zero value that does not survive the narrowing stays "true".
    out->boolVal =
        flag == 0 ? VARIANT_FALSE : (narrow != 0 ? narrow : VARIANT_TRUE);
  } else {
    return false;
  }
  return out->vt != VT_EMPTY;
}

}  // namespace

const std::vector<PROPERTYKEY>& ObjectKeys() {
  static const std::vector<PROPERTYKEY>* const keys = [] {
    auto* all = new std::vector<PROPERTYKEY>;
    for (const PROPERTYKEY* key : kObjectKeys) all->push_back(*key);
    return all;
  }();
  return *keys;
}

HRESULT ReadKeys(IPortableDeviceKeyCollection* keys,
                 std::vector<PROPERTYKEY>* wanted) {
  if (keys == nullptr) {
    *wanted = ObjectKeys();
    return S_OK;
  }
  DWORD count = 0;
  HRESULT hr = keys->GetCount(&count);
  if (FAILED(hr)) return hr;
  wanted->reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    PROPERTYKEY key;
    hr = keys->GetAt(i, &key);
    if (FAILED(hr)) return hr;
    wanted->push_back(key);
  }
  return S_OK;
}

HRESULT ObjectValuesLocked(const std::shared_ptr<SimState>& sim,
                           const std::shared_ptr<DeviceState>& device,
                           uint32_t node, const std::vector<PROPERTYKEY>& wanted,
                           bool all, bool unreadable, Values** out) {
  *out = nullptr;
  HRESULT hr = S_OK;
  if (device->Strike(node, Call::kGetValues, &hr) && FAILED(hr)) return hr;
  if (node == kNoNode) return kErrorNotFound;
  auto* values = new Values(sim);
  values->Reserve(wanted.size());
  bool partial = false;
  for (const PROPERTYKEY& key : wanted) {
    PROPVARIANT value;
    if (!unreadable && ObjectProperty(*device, node, key, &value)) {
      values->Put(key, value);
    } else if (!all || unreadable) {
      // As WPD does for a property it cannot read: the key is there,
      // holding the failure, and the call answers S_FALSE.
      values->SetErrorValue(key, unreadable ? E_FAIL : kErrorNotFound);
      partial = true;
    }
  }
  values->SetFaultSource(device, node);
  *out = values;
  return partial ? S_FALSE : S_OK;
}

namespace {

// --- enumerator ----------------------------------------------------------

class Enumerator final
    : public ComObject<Enumerator, IEnumPortableDeviceObjectIDs,
                       ObjectKind::kEnumerator> {
 public:
  Enumerator(std::shared_ptr<SimState> sim, std::shared_ptr<Session> session,
             uint32_t parent, std::vector<uint32_t> children)
      : ComObject(std::move(sim)),
        session_(std::move(session)),
        parent_(parent),
        children_(std::move(children)) {}
  static bool Answers(REFIID iid) {
    return SameGuid(iid, IID_IEnumPortableDeviceObjectIDs);
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, LPWSTR* ids,
                                 ULONG* fetched) override {
    sim_->Count(Call::kNext);
    if (fetched != nullptr) *fetched = 0;
    if (ids == nullptr) return E_POINTER;
    if (fetched == nullptr && wanted != 1) return E_POINTER;
    if (auto struck = Log("Enum.Next")) return *struck;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    session_->device->link.RoundTrip();
    DeviceState& device = *session_->device;
    std::lock_guard<std::mutex> lock(device.mu);
    if (const Fault* fault = device.FindFault(parent_, Call::kNext)) {
      if (delivered_ >= fault->after) {
        if (fault->action != Fault::Action::kUnplug) return fault->hresult;
        device.UnplugLocked();
        return device.setup.gone_hresult;
      }
    }
    if (HRESULT hr; sim_->random.Strike(Call::kNext, &hr)) return hr;
    ULONG count = 0;
    while (count < wanted && position_ < children_.size()) {
      const ObjectNode& child = device.nodes[children_[position_++]];
      if (child.deleted) continue;  // deleted since the listing began
      ids[count] = DupString(child.setup.id);
      if (ids[count] == nullptr) {
        for (ULONG i = 0; i < count; ++i) CoTaskMemFree(ids[i]);
        return E_OUTOFMEMORY;
      }
      ++count;
    }
    delivered_ += count;
    // The misbehaving enumerator overstates full batches only, so that the
    // listing still ends.
    if (fetched != nullptr) {
      *fetched = count == wanted && count > 0
                     ? count + device.setup.next_overcount
                     : count;
    }
    return count == wanted ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (auto struck = Log("Enum.Skip")) return *struck;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    size_t left = children_.size() - position_;
    position_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    if (auto struck = Log("Enum.Reset")) return *struck;
    position_ = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs** out) override {
    if (out == nullptr) return E_POINTER;
    if (auto struck = Log("Enum.Clone")) return *struck;
    auto* copy = new Enumerator(sim_, session_, parent_, children_);
    copy->position_ = position_;
    *out = copy;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (auto struck = Log("Enum.Cancel")) return *struck;
    return S_OK;
  }

 private:
  std::optional<HRESULT> Log(const char* method) {
    return LogCall(method, [this] { return IdOf(*session_->device, parent_); });
  }

  std::shared_ptr<Session> session_;
  uint32_t parent_;
  std::vector<uint32_t> children_;
  size_t position_ = 0;
  uint64_t delivered_ = 0;
};

// --- object stream -------------------------------------------------------

class ObjectStream final
    : public ComObject<ObjectStream, IPortableDeviceDataStream,
                       ObjectKind::kStream> {
 public:
  ObjectStream(std::shared_ptr<SimState> sim, std::shared_ptr<Session> session,
               uint32_t node, ObjectSpec data)
      : ComObject(std::move(sim)),
        session_(std::move(session)),
        node_(node),
        data_(std::move(data)),
        size_(data_.DataSize()) {}
  static bool Answers(REFIID iid) {
    return SameGuid(iid, IID_ISequentialStream) || SameGuid(iid, IID_IStream) ||
           SameGuid(iid, IID_IPortableDeviceDataStream);
  }

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG wanted,
                                 ULONG* read) override {
    sim_->Count(Call::kRead);
    if (read != nullptr) *read = 0;
    if (buffer == nullptr && wanted > 0) return STG_E_INVALIDPOINTER;
    if (auto struck = Log("Stream.Read")) return *struck;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    DeviceState& device = *session_->device;
    uint64_t limit = wanted;
    bool hang = false;
    {
      std::lock_guard<std::mutex> lock(device.mu);
      if (device.setup.max_read_size > 0) {
        limit = std::min<uint64_t>(limit, device.setup.max_read_size);
      }
      if (const Fault* fault = device.FindFault(node_, Call::kRead)) {
        if (delivered_ < fault->after) {
          limit = std::min(limit, fault->after - delivered_);
        } else if (fault->action == Fault::Action::kUnplug) {
          device.UnplugLocked();
          return device.setup.gone_hresult;
        } else if (fault->action == Fault::Action::kHang) {
          hang = true;
        } else {
          return fault->hresult;  // a success code: the data ends here
        }
      }
    }
    if (hang) return Hang();
    if (HRESULT hr; sim_->random.Strike(Call::kRead, &hr)) return hr;
    uint64_t count = position_ < size_ ? std::min(limit, size_ - position_) : 0;
    device.link.Read(count);
    data_.ReadData(position_, count, static_cast<uint8_t*>(buffer));
    position_ += count;
    delivered_ += count;
    if (read != nullptr) *read = static_cast<ULONG>(count);
    return count < wanted && device.setup.short_read_is_s_false ? S_FALSE
                                                                : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
    if (written != nullptr) *written = 0;
    if (auto struck = Log("Stream.Write")) return *struck;
    return kErrorInvalidFunction;  // the stream was opened for reading
  }

  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* position) override {
    if (auto struck = Log("Stream.Seek")) return *struck;
    int64_t base;
    switch (origin) {
      case STREAM_SEEK_SET:
        base = 0;
        break;
      case STREAM_SEEK_CUR:
        base = static_cast<int64_t>(position_);
        break;
      case STREAM_SEEK_END:
        base = static_cast<int64_t>(size_);
        break;
      default:
        return STG_E_INVALIDFUNCTION;
    }
    int64_t target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<uint64_t>(target);
    if (position != nullptr) position->QuadPart = position_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override {
    if (auto struck = Log("Stream.SetSize")) return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    if (auto struck = Log("Stream.CopyTo")) return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override {
    if (auto struck = Log("Stream.Commit")) return *struck;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Revert() override {
    if (auto struck = Log("Stream.Revert")) return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER,
                                       DWORD) override {
    if (auto struck = Log("Stream.LockRegion")) return *struck;
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER,
                                         DWORD) override {
    if (auto struck = Log("Stream.UnlockRegion")) return *struck;
    return STG_E_INVALIDFUNCTION;
  }

  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    if (auto struck = Log("Stream.Stat")) return *struck;
    std::memset(stat, 0, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = size_;
    stat->grfMode = STGM_READ;
    if ((flags & STATFLAG_NONAME) == 0) {
      stat->pwcsName = DupString(
          data_.original_file_name ? *data_.original_file_name : data_.id);
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(IStream**) override {
    if (auto struck = Log("Stream.Clone")) return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    if (auto struck = Log("Stream.GetObjectID")) return *struck;
    *id = DupString(data_.id);
    return *id != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (auto struck = Log("Stream.Cancel")) return *struck;
    cancels_.fetch_add(1);
    sim_->Wake();
    return S_OK;
  }

 private:
  // Blocks, holding no lock of the model, until something ends the wait.
  // A Cancel counts from the stream's creation (or the previous wait), so
  // one that races the start of the wait is not lost.
  HRESULT Hang() {
    sim_->blocked_reads.fetch_add(1);
    HRESULT answer = S_OK;
    {
      std::unique_lock<std::mutex> lock(sim_->wake_mu);
      sim_->wake_cv.wait(lock, [&] {
        answer = WhyWoken();
        return answer != S_OK;
      });
    }
    session_cancels_seen_ = session_->cancels.load();
    cancels_seen_ = cancels_.load();
    sim_->blocked_reads.fetch_sub(1);
    return answer;
  }

  std::optional<HRESULT> Log(const char* method) {
    return LogCallOn(method, data_.id.c_str());
  }

  HRESULT WhyWoken() const {
    if (sim_->stopping.load() ||
        session_->cancels.load() != session_cancels_seen_ ||
        cancels_.load() != cancels_seen_) {
      return kCancelledHresult;
    }
    return Usable(*session_);  // closed, gone, or still waiting (S_OK)
  }

  std::shared_ptr<Session> session_;
  uint64_t session_cancels_seen_ = session_->cancels.load();
  std::atomic<uint64_t> cancels_{0};  // IPortableDeviceDataStream::Cancel
  uint64_t cancels_seen_ = 0;
  uint32_t node_;
  ObjectSpec data_;  // id, names and the (shared) data of the object
  uint64_t size_;
  uint64_t position_ = 0;
  uint64_t delivered_ = 0;
};

// --- properties and resources -------------------------------------------

HRESULT SupportedKeys(const std::shared_ptr<SimState>& sim,
                      const std::vector<PROPERTYKEY>& keys,
                      IPortableDeviceKeyCollection** out) {
  auto* collection = new KeyCollection(sim);
  for (const PROPERTYKEY& key : keys) collection->Append(key);
  *out = collection;
  return S_OK;
}

class Properties final : public ComObject<Properties, IPortableDeviceProperties,
                                          ObjectKind::kProperties> {
 public:
  Properties(std::shared_ptr<SimState> sim, std::shared_ptr<Session> session)
      : ComObject(std::move(sim)),
        session_(std::move(session)),
        bulk_(session_->device->setup.bulk ? NewBulkRequests() : nullptr) {}
  static bool Answers(REFIID iid) {
    return SameGuid(iid, IID_IPortableDeviceProperties);
  }

  // A device that serves bulk reads answers for IPortableDevicePropertiesBulk
  // too, with an object of its own whose IUnknown is this one.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out != nullptr && bulk_ != nullptr &&
        SameGuid(iid, IID_IPortableDevicePropertiesBulk)) {
      return HandOut(
          NewBulkProperties(sim_, session_,
                            static_cast<IPortableDeviceProperties*>(this), bulk_),
          iid, out);
    }
    return ComObject::QueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE GetSupportedProperties(
      LPCWSTR object_id, IPortableDeviceKeyCollection** keys) override {
    if (object_id == nullptr || keys == nullptr) return E_POINTER;
    *keys = nullptr;
    if (auto struck = LogCallOn("Properties.GetSupportedProperties", object_id))
      return *struck;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    DeviceState& device = *session_->device;
    std::vector<PROPERTYKEY> supported;
    {
      std::lock_guard<std::mutex> lock(device.mu);
      uint32_t node = device.Find(object_id);
      if (node == kNoNode) return kErrorNotFound;
      for (const PROPERTYKEY* key : kObjectKeys) {
        PROPVARIANT value;
        if (ObjectProperty(device, node, *key, &value))
          supported.push_back(*key);
        ClearValue(&value);
      }
    }
    return SupportedKeys(sim_, supported, keys);
  }

  HRESULT STDMETHODCALLTYPE GetPropertyAttributes(
      LPCWSTR, REFPROPERTYKEY, IPortableDeviceValues** attributes) override {
    if (attributes != nullptr) *attributes = nullptr;
    if (auto struck = LogCall("Properties.GetPropertyAttributes"))
      return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetValues(LPCWSTR object_id,
                                      IPortableDeviceKeyCollection* keys,
                                      IPortableDeviceValues** out) override {
    sim_->Count(Call::kGetValues);
    if (object_id == nullptr || out == nullptr) return E_POINTER;
    *out = nullptr;
    // A struck success code: every property unreadable, answered S_FALSE.
    std::optional<HRESULT> logged = LogCall(
        "Properties.GetValues", [&] { return call_log::Narrow(object_id); });
    if (logged && FAILED(*logged)) return *logged;
    call_log::Internal internal;  // the key collection is the caller's
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    session_->device->link.RoundTrip();
    // The caller's key collection is read before taking the device's lock.
    std::vector<PROPERTYKEY> wanted;
    HRESULT hr = ReadKeys(keys, &wanted);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> lock(session_->device->mu);
    Values* values = nullptr;
    hr = ObjectValuesLocked(sim_, session_->device,
                            session_->device->Find(object_id), wanted,
                            keys == nullptr, logged.has_value(), &values);
    *out = values;
    return hr;
  }

  HRESULT STDMETHODCALLTYPE
  SetValues(LPCWSTR, IPortableDeviceValues*,
            IPortableDeviceValues** results) override {
    if (results != nullptr) *results = nullptr;
    if (auto struck = LogCall("Properties.SetValues")) return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR,
                                   IPortableDeviceKeyCollection*) override {
    if (auto struck = LogCall("Properties.Delete")) return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (auto struck = LogCall("Properties.Cancel")) return *struck;
    return S_OK;
  }

 private:
  std::shared_ptr<Session> session_;
  std::shared_ptr<BulkRequests> bulk_;  // null: the device has no bulk reads
};

class Resources final : public ComObject<Resources, IPortableDeviceResources,
                                         ObjectKind::kResources> {
 public:
  Resources(std::shared_ptr<SimState> sim, std::shared_ptr<Session> session)
      : ComObject(std::move(sim)), session_(std::move(session)) {}
  static bool Answers(REFIID iid) {
    return SameGuid(iid, IID_IPortableDeviceResources);
  }

  HRESULT STDMETHODCALLTYPE GetSupportedResources(
      LPCWSTR object_id, IPortableDeviceKeyCollection** keys) override {
    if (object_id == nullptr || keys == nullptr) return E_POINTER;
    *keys = nullptr;
    if (auto struck = LogCallOn("Resources.GetSupportedResources", object_id))
      return *struck;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    DeviceState& device = *session_->device;
    std::vector<PROPERTYKEY> supported;
    {
      std::lock_guard<std::mutex> lock(device.mu);
      uint32_t node = device.Find(object_id);
      if (node == kNoNode) return kErrorNotFound;
      const ObjectSpec& setup = device.nodes[node].setup;
      if (HasResource(setup)) supported.push_back(WPD_RESOURCE_DEFAULT);
      if (setup.thumbnail_kind != ObjectSpec::DataKind::kNone) {
        supported.push_back(WPD_RESOURCE_THUMBNAIL);
      }
    }
    return SupportedKeys(sim_, supported, keys);
  }

  HRESULT STDMETHODCALLTYPE GetResourceAttributes(
      LPCWSTR, REFPROPERTYKEY, IPortableDeviceValues** attributes) override {
    if (attributes != nullptr) *attributes = nullptr;
    if (auto struck = LogCall("Resources.GetResourceAttributes"))
      return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetStream(LPCWSTR object_id, REFPROPERTYKEY key,
                                      const DWORD mode, DWORD* optimal_size,
                                      IStream** stream) override {
    sim_->Count(Call::kGetStream);
    if (object_id == nullptr || stream == nullptr) return E_POINTER;
    *stream = nullptr;
    if (auto struck = LogCallOn("Resources.GetStream", object_id))
      return *struck;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    session_->device->link.RoundTrip();
    DeviceState& device = *session_->device;
    const bool thumbnail = SameKey(key, WPD_RESOURCE_THUMBNAIL);
    ObjectSpec data;
    uint32_t node;
    {
      std::lock_guard<std::mutex> lock(device.mu);
      node = device.Find(object_id);
      HRESULT hr;
      if (device.Strike(node, Call::kGetStream, &hr)) return hr;
      if (node == kNoNode) return kErrorNotFound;
      const ObjectSpec& setup = device.nodes[node].setup;
      if (thumbnail) {
        if (setup.thumbnail_kind == ObjectSpec::DataKind::kNone) {
          return kErrorNotSupported;
        }
      } else if (!SameKey(key, WPD_RESOURCE_DEFAULT) || !HasResource(setup)) {
        return kErrorNotSupported;
      }
      if ((mode & (STGM_WRITE | STGM_READWRITE)) != 0) {
        // Only reading is simulated; a read-only client is refused outright.
        return (session_->access & kGenericWrite) == 0 ? E_ACCESSDENIED
                                                       : E_NOTIMPL;
      }
      data.id = setup.id;
      data.original_file_name = setup.original_file_name;
      data.data_kind = thumbnail ? setup.thumbnail_kind : setup.data_kind;
      data.bytes = thumbnail ? setup.thumbnail_bytes : setup.bytes;
      data.pattern_size =
          thumbnail ? setup.thumbnail_pattern_size : setup.pattern_size;
      if (optimal_size != nullptr)
        *optimal_size = device.setup.optimal_transfer_size;
    }
    // The device makes the thumbnail while the caller waits.
    if (thumbnail) device.link.Thumbnail();
    *stream = new ObjectStream(sim_, session_, node, std::move(data));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR,
                                   IPortableDeviceKeyCollection*) override {
    if (auto struck = LogCall("Resources.Delete")) return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (auto struck = LogCall("Resources.Cancel")) return *struck;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateResource(IPortableDeviceValues*,
                                           IStream** data, DWORD*,
                                           LPWSTR*) override {
    if (data != nullptr) *data = nullptr;
    if (auto struck = LogCall("Resources.CreateResource")) return *struck;
    return E_NOTIMPL;
  }

 private:
  // Files always have a default resource (maybe empty); containers only
  // when the model gives them data.
  static bool HasResource(const ObjectSpec& setup) {
    return !IsContainer(setup.content_type) ||
           setup.data_kind != ObjectSpec::DataKind::kNone;
  }

  std::shared_ptr<Session> session_;
};

// --- content -------------------------------------------------------------

class Content final
    : public ComObject<Content, IPortableDeviceContent, ObjectKind::kContent> {
 public:
  Content(std::shared_ptr<SimState> sim, std::shared_ptr<Session> session)
      : ComObject(std::move(sim)), session_(std::move(session)) {}
  static bool Answers(REFIID iid) {
    return SameGuid(iid, IID_IPortableDeviceContent);
  }

  HRESULT STDMETHODCALLTYPE
  EnumObjects(const DWORD, LPCWSTR parent_id, IPortableDeviceValues*,
              IEnumPortableDeviceObjectIDs** out) override {
    sim_->Count(Call::kEnumObjects);
    if (parent_id == nullptr || out == nullptr) return E_POINTER;
    *out = nullptr;
    if (auto struck = LogCallOn("Content.EnumObjects", parent_id))
      return *struck;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    session_->device->link.RoundTrip();
    DeviceState& device = *session_->device;
    std::vector<uint32_t> children;
    uint32_t node;
    {
      std::lock_guard<std::mutex> lock(device.mu);
      node = device.Find(parent_id);
      HRESULT hr;
      if (device.Strike(node, Call::kEnumObjects, &hr)) return hr;
      if (node == kNoNode) return kErrorNotFound;
      if (!device.IsStorage(node) || !device.HidesContent()) {
        children = device.nodes[node].children;
      }
    }
    *out = new Enumerator(sim_, session_, node, std::move(children));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE
  Properties(IPortableDeviceProperties** out) override {
    if (auto struck = LogCall("Content.Properties")) return *struck;
    return MakeChild<class Properties>(Call::kProperties, out);
  }

  HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources** out) override {
    if (auto struck = LogCall("Content.Transfer")) return *struck;
    return MakeChild<Resources>(Call::kTransfer, out);
  }

  HRESULT STDMETHODCALLTYPE
  CreateObjectWithPropertiesOnly(IPortableDeviceValues*, LPWSTR* id) override {
    if (id != nullptr) *id = nullptr;
    if (auto struck = LogCall("Content.CreateObjectWithPropertiesOnly"))
      return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(
      IPortableDeviceValues*, IStream** data, DWORD*, LPWSTR*) override {
    if (data != nullptr) *data = nullptr;
    if (auto struck = LogCall("Content.CreateObjectWithPropertiesAndData"))
      return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE
  Delete(const DWORD options, IPortableDevicePropVariantCollection* object_ids,
         IPortableDevicePropVariantCollection** results) override {
    sim_->Count(Call::kDelete);
    if (object_ids == nullptr) return E_POINTER;
    if (results != nullptr) *results = nullptr;
    if (auto struck = LogCall("Content.Delete")) return *struck;
    call_log::Internal internal;  // what the caller handed in is read
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    session_->device->link.RoundTrip();
    // Read the caller's collection before taking the device's lock.
    DWORD count = 0;
    HRESULT hr = object_ids->GetCount(&count);
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> ids(count);
    std::vector<HRESULT> outcome(count, S_OK);
    for (DWORD i = 0; i < count; ++i) {
      PROPVARIANT id = EmptyValue();
      hr = object_ids->GetAt(i, &id);
      if (FAILED(hr)) return hr;
      if (id.vt == VT_LPWSTR && id.pwszVal != nullptr) {
        ids[i] = id.pwszVal;
      } else {
        outcome[i] = E_INVALIDARG;
      }
      PropVariantClear(&id);
    }
    DeviceState& device = *session_->device;
    {
      std::lock_guard<std::mutex> lock(device.mu);
      for (DWORD i = 0; i < count; ++i) {
        if (FAILED(outcome[i])) continue;
        outcome[i] = DeleteOne(device, ids[i], options);
      }
    }
    size_t failures = std::count_if(outcome.begin(), outcome.end(),
                                    [](HRESULT r) { return FAILED(r); });
    if (results != nullptr) {
      auto* list = new PropVariantCollection(sim_);
      for (HRESULT r : outcome) {
        PROPVARIANT value = EmptyValue();
        value.vt = VT_ERROR;
        value.scode = r;
        list->Append(value);
      }
      *results = list;
    }
    if (failures == 0) {
      // An object's own S_FALSE is the whole call's.
      return std::find(outcome.begin(), outcome.end(), S_FALSE) != outcome.end()
                 ? S_FALSE
                 : S_OK;
    }
    // One object, or none of several, deleted: the first failure tells why.
    if (failures == count) {
      return *std::find_if(outcome.begin(), outcome.end(),
                           [](HRESULT r) { return FAILED(r); });
    }
    return S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(
      IPortableDevicePropVariantCollection*,
      IPortableDevicePropVariantCollection** ids) override {
    if (ids != nullptr) *ids = nullptr;
    if (auto struck = LogCall("Content.GetObjectIDsFromPersistentUniqueIDs"))
      return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (auto struck = LogCall("Content.Cancel")) return *struck;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  Move(IPortableDevicePropVariantCollection*, LPCWSTR,
       IPortableDevicePropVariantCollection** results) override {
    if (results != nullptr) *results = nullptr;
    if (auto struck = LogCall("Content.Move")) return *struck;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  Copy(IPortableDevicePropVariantCollection*, LPCWSTR,
       IPortableDevicePropVariantCollection** results) override {
    if (results != nullptr) *results = nullptr;
    if (auto struck = LogCall("Content.Copy")) return *struck;
    return E_NOTIMPL;
  }

 private:
  template <class Child, class Interface>
  HRESULT MakeChild(Call call, Interface** out) {
    sim_->Count(call);
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    {
      DeviceState& device = *session_->device;
      std::lock_guard<std::mutex> lock(device.mu);
      HRESULT hr;
      if (device.Strike(kNoNode, call, &hr)) return hr;
    }
    *out = new Child(sim_, session_);
    return S_OK;
  }

  // Under the device's lock.
  HRESULT DeleteOne(DeviceState& device, const std::wstring& id,
                    DWORD options) {
    uint32_t node = device.Find(id);
    HRESULT hr;
    if (device.Strike(node, Call::kDelete, &hr)) return hr;
    if (node == kNoNode) return kErrorNotFound;
    if (node == kRootNode) return E_ACCESSDENIED;
    if ((session_->access & kGenericWrite) == 0) return E_ACCESSDENIED;
    if (device.InReadOnlyStorage(node)) return E_ACCESSDENIED;
    ObjectNode& object = device.nodes[node];
    if (object.setup.can_delete && *object.setup.can_delete == 0) {
      return E_ACCESSDENIED;
    }
    if (!object.children.empty() &&
        options != PORTABLE_DEVICE_DELETE_WITH_RECURSION) {
      return kErrorDirNotEmpty;
    }
    const HRESULT answer = object.setup.delete_answer;
    if (object.setup.delete_keeps_object) return answer;
    std::vector<uint32_t>& siblings = device.nodes[object.parent].children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), node));
    std::vector<uint32_t> doomed{node};
    while (!doomed.empty()) {
      ObjectNode& gone = device.nodes[doomed.back()];
      doomed.pop_back();
      device.index.erase(gone.setup.id);
      gone.deleted = true;
      doomed.insert(doomed.end(), gone.children.begin(), gone.children.end());
      gone.children.clear();
    }
    return answer;
  }

  std::shared_ptr<Session> session_;
};

// --- device --------------------------------------------------------------

ClientInfo ReadClientInfo(IPortableDeviceValues* values) {
  ClientInfo info;
  DWORD count = 0;
  if (FAILED(values->GetCount(&count))) return info;
  for (DWORD i = 0; i < count; ++i) {
    PROPERTYKEY key;
    PROPVARIANT value = EmptyValue();
    if (FAILED(values->GetAt(i, &key, &value))) continue;
    info.keys.push_back(key);
    if (SameKey(key, WPD_CLIENT_NAME) && value.vt == VT_LPWSTR &&
        value.pwszVal != nullptr) {
      info.name = value.pwszVal;
    } else if (value.vt == VT_UI4) {
      if (SameKey(key, WPD_CLIENT_MAJOR_VERSION)) {
        info.major_version = value.ulVal;
      } else if (SameKey(key, WPD_CLIENT_MINOR_VERSION)) {
        info.minor_version = value.ulVal;
      } else if (SameKey(key, WPD_CLIENT_REVISION)) {
        info.revision = value.ulVal;
      } else if (SameKey(key, WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE)) {
        info.security_quality_of_service = value.ulVal;
      } else if (SameKey(key, WPD_CLIENT_DESIRED_ACCESS)) {
        info.desired_access = value.ulVal;
      }
    }
    PropVariantClear(&value);
  }
  return info;
}

class Device final
    : public ComObject<Device, IPortableDevice, ObjectKind::kDevice> {
 public:
  explicit Device(std::shared_ptr<SimState> sim) : ComObject(std::move(sim)) {}
  static bool Answers(REFIID iid) { return SameGuid(iid, IID_IPortableDevice); }

  HRESULT STDMETHODCALLTYPE Open(LPCWSTR device_id,
                                 IPortableDeviceValues* client) override {
    sim_->Count(Call::kOpen);
    if (device_id == nullptr || client == nullptr) return E_POINTER;
    if (auto struck = LogCall("Device.Open")) return *struck;
    call_log::Internal internal;  // what the caller handed in is read
    if (session_ != nullptr && session_->open.load()) {
      return E_WPD_DEVICE_ALREADY_OPENED;
    }
    std::shared_ptr<DeviceState> device = sim_->FindDevice(device_id);
    // An unplugged device's path no longer exists, as an unknown one.
    if (device == nullptr || !device->Listed()) return kErrorFileNotFound;
    device->link.Open();
    ClientInfo info = ReadClientInfo(client);
    // Unset, WPD asks for reading and writing.
    DWORD access = info.desired_access.value_or(kGenericRead | kGenericWrite);
    HRESULT hr;
    uint32_t connection = 0;
    {
      std::lock_guard<std::mutex> lock(device->mu);
      device->last_client = std::move(info);
      if (!device->Strike(kNoNode, Call::kOpen, &hr)) {
        hr = device->setup.open_hresult;
      }
      if (FAILED(hr)) return hr;
      connection = device->live_connection.load();
      // Unplugged but not yet noticed: it opens on the connection that
      // ended, so every call answers the gone code.
      if (connection == 0 && device->Listed()) connection = device->connections;
      if (connection == 0)
        return kErrorFileNotFound;  // an Open fault unplugged it
      ++device->open_sessions;
    }
    session_ = std::make_shared<Session>(std::move(device), access, connection);
    sim_->open_without_close.fetch_add(1);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE
  SendCommand(const DWORD, IPortableDeviceValues*,
              IPortableDeviceValues** results) override {
    if (results != nullptr) *results = nullptr;
    if (auto struck = LogCall("Device.SendCommand")) return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent** out) override {
    sim_->Count(Call::kContent);
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (auto struck = LogCall("Device.Content")) return *struck;
    if (session_ == nullptr) return E_WPD_DEVICE_NOT_OPEN;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    {
      std::lock_guard<std::mutex> lock(session_->device->mu);
      HRESULT hr;
      if (session_->device->Strike(kNoNode, Call::kContent, &hr)) return hr;
    }
    *out = new class Content(sim_, session_);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE
  Capabilities(IPortableDeviceCapabilities** out) override {
    if (out != nullptr) *out = nullptr;
    if (auto struck = LogCall("Device.Capabilities")) return *struck;
    return E_NOTIMPL;
  }

  // Callable from any thread: a Read blocked on a stream of this device
  // object answers kCancelledHresult.
  HRESULT STDMETHODCALLTYPE Cancel() override {
    if (auto struck = LogCall("Device.Cancel")) return *struck;
    if (session_ != nullptr) {
      session_->cancels.fetch_add(1);
      sim_->Wake();
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Close() override {
    if (auto struck = LogCall("Device.Close")) return *struck;
    DropAdvices();
    if (session_ != nullptr && session_->open.exchange(false)) {
      if (session_->device->live_connection.load() == session_->connection)
        session_->device->link.RoundTrip();
      {
        std::lock_guard<std::mutex> lock(session_->device->mu);
        --session_->device->open_sessions;
      }
      sim_->open_without_close.fetch_sub(1);
      sim_->Wake();
    }
    return S_OK;
  }

  // Every event of the device (the parameters are not looked at), told
  // until Unadvise, Close or the object's release.
  HRESULT STDMETHODCALLTYPE Advise(const DWORD,
                                   IPortableDeviceEventCallback* callback,
                                   IPortableDeviceValues*,
                                   LPWSTR* cookie) override {
    if (cookie != nullptr) *cookie = nullptr;
    if (auto struck = LogCall("Device.Advise")) return *struck;
    if (callback == nullptr || cookie == nullptr) return E_POINTER;
    if (session_ == nullptr) return E_WPD_DEVICE_NOT_OPEN;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    const std::wstring text =
        L"advise-" + std::to_wstring(sim_->next_cookie.fetch_add(1) + 1);
    *cookie = DupString(text);
    if (*cookie == nullptr) return E_OUTOFMEMORY;
    callback->AddRef();
    std::lock_guard<std::mutex> lock(session_->device->mu);
    session_->device->advices.push_back(
        {text, session_.get(), session_->connection, callback});
    return S_OK;
  }
  // Works on a device that went away too, as Close does, so that nothing
  // stays registered.
  HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR cookie) override {
    if (auto struck = LogCall("Device.Unadvise")) return *struck;
    if (cookie == nullptr) return E_POINTER;
    if (session_ == nullptr || !session_->open.load()) {
      return E_WPD_DEVICE_NOT_OPEN;
    }
    IPortableDeviceEventCallback* callback = nullptr;
    {
      std::lock_guard<std::mutex> lock(session_->device->mu);
      auto& advices = session_->device->advices;
      for (auto it = advices.begin(); it != advices.end(); ++it) {
        if (it->session == session_.get() && it->cookie == cookie) {
          callback = it->callback;
          advices.erase(it);
          break;
        }
      }
    }
    if (callback == nullptr) return kErrorNotFound;
    callback->Release();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR* id) override {
    if (id == nullptr) return E_POINTER;
    *id = nullptr;
    if (auto struck = LogCall("Device.GetPnPDeviceID")) return *struck;
    if (session_ == nullptr || !session_->open.load()) {
      return E_WPD_DEVICE_NOT_OPEN;
    }
    *id = DupString(session_->device->setup.id);
    return *id != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  ~Device() { DropAdvices(); }

 private:
  // Advises still in place when the session closes or the object goes are
  // undone, and counted: the client should have undone them.
  void DropAdvices() {
    if (session_ == nullptr) return;
    std::vector<IPortableDeviceEventCallback*> dropped;
    {
      std::lock_guard<std::mutex> lock(session_->device->mu);
      auto& advices = session_->device->advices;
      for (auto it = advices.begin(); it != advices.end();) {
        if (it->session == session_.get()) {
          dropped.push_back(it->callback);
          it = advices.erase(it);
        } else {
          ++it;
        }
      }
    }
    sim_->advises_left_at_close.fetch_add(static_cast<int64_t>(dropped.size()));
    for (IPortableDeviceEventCallback* callback : dropped) callback->Release();
  }

  std::shared_ptr<Session> session_;
};

// --- manager -------------------------------------------------------------

class Manager final
    : public ComObject<Manager, IPortableDeviceManager, ObjectKind::kManager> {
 public:
  explicit Manager(std::shared_ptr<SimState> sim)
      : ComObject(std::move(sim)), devices_(sim_->Snapshot()) {}
  static bool Answers(REFIID iid) {
    return SameGuid(iid, IID_IPortableDeviceManager);
  }

  HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR* ids, DWORD* count) override {
    if (auto struck = LogCall("Manager.GetDevices")) return *struck;
    HRESULT hr;
    if (sim_->StrikeProcess(Call::kGetDevices, &hr)) return hr;
    if (count == nullptr) return E_POINTER;
    if (ids == nullptr) {
      *count = static_cast<DWORD>(devices_.size());
      return S_OK;
    }
    DWORD filled = std::min<DWORD>(*count, static_cast<DWORD>(devices_.size()));
    for (DWORD i = 0; i < filled; ++i) {
      ids[i] = DupString(devices_[i]->setup.id);
      if (ids[i] == nullptr) {
        for (DWORD j = 0; j < i; ++j) CoTaskMemFree(ids[j]);
        return E_OUTOFMEMORY;
      }
    }
    *count = filled + sim_->get_devices_overcount;
    return filled < devices_.size() || sim_->get_devices_overcount > 0 ? S_FALSE
                                                                       : S_OK;
  }

  HRESULT STDMETHODCALLTYPE RefreshDeviceList() override {
    if (auto struck = LogCall("Manager.RefreshDeviceList")) return *struck;
    devices_ = sim_->Snapshot();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR id, WCHAR* text,
                                                  DWORD* length) override {
    if (auto logged = LogCall("Manager.GetDeviceFriendlyName", [&] {
          return std::string(text == nullptr ? "measure" : "fill");
        }))
      return *logged;
    return Text(Call::kGetDeviceFriendlyName, &DeviceSpec::friendly_name, id,
                text, length);
  }
  HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR id, WCHAR* text,
                                                 DWORD* length) override {
    if (auto logged = LogCall("Manager.GetDeviceDescription", [&] {
          return std::string(text == nullptr ? "measure" : "fill");
        }))
      return *logged;
    return Text(Call::kGetDeviceDescription, &DeviceSpec::description, id, text,
                length);
  }
  HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR id, WCHAR* text,
                                                  DWORD* length) override {
    if (auto logged = LogCall("Manager.GetDeviceManufacturer", [&] {
          return std::string(text == nullptr ? "measure" : "fill");
        }))
      return *logged;
    return Text(Call::kGetDeviceManufacturer, &DeviceSpec::manufacturer, id,
                text, length);
  }

  HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR, LPCWSTR, BYTE*, DWORD*,
                                              DWORD*) override {
    if (auto struck = LogCall("Manager.GetDeviceProperty")) return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR*, DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    if (auto struck = LogCall("Manager.GetPrivateDevices")) return *struck;
    *count = 0;  // no private devices
    return S_OK;
  }

 private:
  // Count-then-fill: without a buffer the length in UTF-16 units, the
  // terminator included; with a buffer of at least that length the text.
  HRESULT Text(Call call, std::optional<std::wstring> DeviceSpec::*field,
               LPCWSTR id, WCHAR* text, DWORD* length) {
    sim_->Count(call);
    if (id == nullptr || length == nullptr) return E_POINTER;
    std::shared_ptr<DeviceState> device;
    for (const auto& listed : devices_) {
      if (listed->setup.id == id) {
        device = listed;
        break;
      }
    }
    if (device == nullptr) return kErrorNotFound;
    if (!device->Listed()) return device->setup.gone_hresult;
    std::wstring value;
    {
      std::lock_guard<std::mutex> lock(device->mu);
      HRESULT hr;
      if (device->Strike(kNoNode, call, &hr)) return hr;
      const std::optional<std::wstring>& stored = device->setup.*field;
      if (!stored) return kErrorInvalidData;
      value = *stored;
    }
    DWORD needed = static_cast<DWORD>(value.size() + 1);
    if (text == nullptr) {
      *length = needed;
      return S_OK;
    }
    if (*length < needed) {
      *length = needed;
      return kErrorInsufficientBuffer;
    }
    std::memcpy(text, value.c_str(), needed * sizeof(WCHAR));
    *length = needed;
    return S_OK;
  }

  std::vector<std::shared_ptr<DeviceState>> devices_;
};

// --- class factories -----------------------------------------------------

using Maker = HRESULT (*)(const std::shared_ptr<SimState>&, REFIID, void**);

template <class T>
HRESULT Make(const std::shared_ptr<SimState>& sim, REFIID iid, void** out) {
  return HandOut(new T(sim), iid, out);
}

class Factory final : public IClassFactory {
 public:
  Factory(std::shared_ptr<SimState> sim, Call create_call, Maker maker)
      : sim_(std::move(sim)), create_call_(create_call), maker_(maker) {}
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (SameGuid(iid, IID_IUnknown) || SameGuid(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                           void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (auto logged = LogCall("Factory.CreateInstance", [&] {
          return std::string(CallName(create_call_));
        }))
      return *logged;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    HRESULT hr;
    if (sim_->StrikeProcess(create_call_, &hr)) return hr;
    return maker_(sim_, iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override {
    if (auto logged = LogCall("Factory.LockServer", [&] {
          return std::string(CallName(create_call_));
        }))
      return *logged;
    return S_OK;
  }

 private:
  std::shared_ptr<SimState> sim_;
  Call create_call_;
  Maker maker_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

std::vector<ClassEntry> MakeClassFactories(std::shared_ptr<SimState> state) {
  struct Entry {
    const CLSID* clsid;
    Call call;
    Maker maker;
  };
  const Entry entries[] = {
      {&CLSID_PortableDeviceManager, Call::kCreateManager, &Make<Manager>},
      {&CLSID_PortableDeviceFTM, Call::kCreateDevice, &Make<Device>},
      {&CLSID_PortableDevice, Call::kCreateDevice, &Make<Device>},
      {&CLSID_PortableDeviceValues, Call::kCreateValues, &Make<Values>},
      {&CLSID_PortableDeviceKeyCollection, Call::kCreateKeyCollection,
       &Make<KeyCollection>},
      {&CLSID_PortableDevicePropVariantCollection,
       Call::kCreatePropVariantCollection, &Make<PropVariantCollection>},
      {&CLSID_PortableDeviceValuesCollection, Call::kCreateValuesCollection,
       &Make<ValuesCollection>},
  };
  std::vector<ClassEntry> factories;
  for (const Entry& entry : entries) {
    factories.push_back(
        ClassEntry{entry.clsid, new Factory(state, entry.call, entry.maker)});
  }
  return factories;
}

}  // namespace wpd_sim
