#include "wpd/device_description.h"

#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <chrono>
#include <unordered_map>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/media_walk.h"

namespace snapferry {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() -
                                                               start)
      .count();
}

// What a report calls each of the walk's calls when it fails.
const char* WalkStep(WalkCalls::Call call) {
  switch (call) {
    case WalkCalls::kEnumObjects:
      return "List objects";
    case WalkCalls::kNext:
      return "Get object ids";
    case WalkCalls::kGetValues:
      return "Read object properties";
    case WalkCalls::kQueueGetValuesByObjectList:
      return "Queue bulk read";
    case WalkCalls::kStart:
      return "Bulk read";
    default:
      return "Cancel bulk read";
  }
}

// Gathers, as the walk goes, the containers near the top (with how many
// objects each holds) and the first files.
class DescribingVisitor final : public WalkVisitor {
 public:
  bool Visit(const WalkedObject& object) override {
    ++objects_;
    const auto parent = index_.find(object.parent_id);
    const size_t parent_at = parent != index_.end() ? parent->second : kNone;
    if (parent_at != kNone) ++containers_[parent_at].children;
    if (object.is_container) {
      if (object.parent_depth == 0 &&
          IsEqualGUID(object.content_type,
                      WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT)) {
        storages_.push_back(Add(object, 0, std::string()));
      } else if (parent_at != kNone &&
                 containers_[parent_at].depth < kDescribedFolderDepth) {
        const Container& up = containers_[parent_at];
        const size_t added =
            Add(object, up.depth + 1, up.depth == 0 ? "" : up.path + "/");
        containers_[parent_at].subfolders.push_back(added);
        ++folders_;
      }
    } else if (media_.size() < kDescribedMediaLimit) {
      DescribedObject& file = media_.emplace_back();
      file.objectId = WideToUtf8(object.id);
      file.name = WideToUtf8(object.name);
    }
    return true;
  }

  // The storages with their folders, at most kDescribedFolderLimit in all.
  std::vector<DescribedStorage> Storages(bool* cut) const {
    std::vector<DescribedStorage> storages;
    size_t listed = 0;
    for (size_t at : storages_) {
      DescribedStorage& storage = storages.emplace_back();
      storage.objectId = WideToUtf8(containers_[at].id);
      AddFolders(containers_[at], &storage.folders, &listed);
    }
    *cut = folders_ > kDescribedFolderLimit;
    return storages;
  }

  std::vector<DescribedObject>& media() { return media_; }
  int64_t objects() const { return objects_; }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  struct Container {
    std::wstring id;
    std::string path;
    int32_t depth;  // 0: a storage
    int64_t children = 0;
    std::vector<size_t> subfolders;  // in listing order
  };

  size_t Add(const WalkedObject& object, int32_t depth, std::string prefix) {
    const size_t at = containers_.size();
    Container& added = containers_.emplace_back();
    added.id = object.id;
    added.path = std::move(prefix) + WideToUtf8(object.name);
    added.depth = depth;
    index_.emplace(added.id, at);
    return at;
  }

  void AddFolders(const Container& container,
                  std::vector<DescribedFolder>* folders, size_t* listed) const {
    for (size_t at : container.subfolders) {
      if (*listed == kDescribedFolderLimit) return;
      const Container& folder = containers_[at];
      folders->push_back({folder.path, folder.depth, folder.children});
      ++*listed;
      AddFolders(folder, folders, listed);
    }
  }

  std::vector<Container> containers_;
  std::unordered_map<std::wstring, size_t> index_;
  std::vector<size_t> storages_;
  size_t folders_ = 0;
  std::vector<DescribedObject> media_;
  int64_t objects_ = 0;
};

class Describer {
 public:
  Describer(const std::string& device_id, DeviceSessions* sessions,
            DeviceDescription* out)
      : device_id_(device_id), sessions_(sessions), out_(*out) {}

  // Opens the device; false, with the answer's message set, when it cannot.
  bool Open() {
    ComPtr<IPortableDeviceValues> client_info;
    HRESULT hr =
        CreateClientInformation(kClientMinorVersion, GENERIC_READ, client_info);
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(CLSID_PortableDeviceFTM, nullptr,
                            CLSCTX_INPROC_SERVER, IID_IPortableDevice,
                            device_.PutVoid());
    }
    if (SUCCEEDED(hr)) {
      const Clock::time_point start = Clock::now();
      hr = device_->Open(Utf8ToWide(device_id_).c_str(), client_info.get());
      out_.openMicroseconds = MicrosecondsSince(start);
    }
    if (FAILED(hr)) {
      out_.message = FormatHresultFailure("Open device", hr);
      out_.hresult = static_cast<int32_t>(hr);
      return false;
    }
    return true;
  }

  void Describe() {
    HRESULT hr = access_.Prepare(device_.get());
    if (FAILED(hr)) {
      Failed("Prepare content access", hr);
      return;
    }
    ComPtr<IPortableDevicePropertiesBulk> bulk;
    out_.bulkReads = SUCCEEDED(access_.properties->QueryInterface(
                         IID_IPortableDevicePropertiesBulk, bulk.PutVoid())) &&
                     bulk;
    out_.device =
        Read(WPD_DEVICE_OBJECT_ID, "Read device properties",
             {WPD_DEVICE_FIRMWARE_VERSION, WPD_DEVICE_PROTOCOL,
              WPD_DEVICE_MANUFACTURER, WPD_DEVICE_MODEL,
              WPD_DEVICE_FRIENDLY_NAME, WPD_DEVICE_POWER_LEVEL,
              WPD_DEVICE_POWER_SOURCE, WPD_DEVICE_SUPPORTS_NON_CONSUMABLE});
    Walk();
  }

  void Close() {
    const HRESULT hr = device_->Close();
    if (FAILED(hr)) Failed("Close device", hr);
  }

 private:
  // The walk an enumeration makes, timed and counted; then what it met.
  void Walk() {
    HRESULT hr = access_.AddKeys(
        {WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME,
         WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_SIZE, WPD_OBJECT_DATE_CREATED,
         WPD_OBJECT_DATE_MODIFIED, WPD_OBJECT_PERSISTENT_UNIQUE_ID});
    if (FAILED(hr)) {
      Failed("Prepare content access", hr);
      return;
    }
    DescribingVisitor visitor;
    WalkCalls calls;
    std::vector<UnreadItem> unread;
    const Clock::time_point start = Clock::now();
    WalkObjects(
        access_.content.get(), access_.properties.get(), access_.keys.get(),
        visitor, &unread,
        [this](HRESULT) {
          return DeviceSessions::DeviceGone(sessions_, device_id_);
        },
        &calls);
    out_.walkMicroseconds = MicrosecondsSince(start);
    out_.walkObjects = visitor.objects();
    out_.walkCalls = static_cast<int64_t>(calls.total());
    for (int call = 0; call < WalkCalls::kCallCount; ++call) {
      const auto which = static_cast<WalkCalls::Call>(call);
      out_.walkCallCounts.emplace_back(
          WalkCalls::Name(which), static_cast<int64_t>(calls.count(which)));
    }
    for (const WalkCalls::Failure& failure : calls.failures()) {
      Failed(WalkStep(failure.call), failure.hresult, failure.object_id);
    }
    out_.storages = visitor.Storages(&out_.foldersCut);
    for (DescribedStorage& storage : out_.storages) {
      storage.properties = Read(
          Utf8ToWide(storage.objectId), "Read storage properties",
          {WPD_OBJECT_NAME, WPD_STORAGE_FILE_SYSTEM_TYPE, WPD_STORAGE_CAPACITY,
           WPD_STORAGE_FREE_SPACE_IN_BYTES, WPD_STORAGE_ACCESS_CAPABILITY});
    }
    out_.media = std::move(visitor.media());
    for (DescribedObject& file : out_.media) {
      // No keys: every property the device has for it.
      const std::wstring id = Utf8ToWide(file.objectId);
      ComPtr<IPortableDeviceValues> values;
      hr = access_.properties->GetValues(id.c_str(), nullptr, values.Put());
      if (FAILED(hr)) {
        Failed("Read media properties", hr, id);
      } else {
        file.properties = ReadPropertyEntries(values.get());
      }
    }
  }

  std::vector<PropertyEntry> Read(const std::wstring& object, const char* step,
                                  std::initializer_list<PROPERTYKEY> keys) {
    ComPtr<IPortableDeviceValues> values;
    const HRESULT hr =
        ReadObjectValues(access_.content.get(), object, keys, &values);
    if (FAILED(hr)) {
      Failed(step, hr, object);
      return {};
    }
    return ReadPropertyEntries(values.get());
  }

  void Failed(const char* step, HRESULT hr,
              const std::wstring& object = std::wstring()) {
    if (out_.failures.size() == kDescribedFailureLimit) {
      out_.failuresCut = true;
      return;
    }
    out_.failures.push_back(
        {step, WideToUtf8(object), static_cast<int32_t>(hr)});
  }

  const std::string& device_id_;
  DeviceSessions* sessions_;
  DeviceDescription& out_;
  ComPtr<IPortableDevice> device_;
  ContentAccess access_;
};

}  // namespace

DeviceDescription DescribeDevice(const std::string& device_id,
                                 DeviceSessions* sessions) {
  DeviceDescription description;
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    description.message = kComInitialisationFailed;
    return description;
  }
  Describer describer(device_id, sessions, &description);
  if (!describer.Open()) return description;
  describer.Describe();
  describer.Close();
  return description;
}

}  // namespace snapferry
