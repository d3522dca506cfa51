#include "platform/wpd/simulator/model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <set>
#include <vector>

namespace wpd_sim {
namespace {

constexpr const char* kCallNames[kCallCount] = {
    "CoInitializeEx",
    "CreateManager",
    "GetDevices",
    "CreateDevice",
    "CreateValues",
    "CreateKeyCollection",
    "CreatePropVariantCollection",
    "CreateValuesCollection",
    "GetDeviceFriendlyName",
    "GetDeviceManufacturer",
    "GetDeviceDescription",
    "Open",
    "Content",
    "Properties",
    "Transfer",
    "QueueGetValuesByObjectList",
    "Start",
    "EnumObjects",
    "Next",
    "GetValues",
    "GetStringValue",
    "GetGuidValue",
    "GetUnsignedLargeIntegerValue",
    "GetBoolValue",
    "GetValue",
    "GetStream",
    "Read",
    "Delete",
    "BulkValues",
};

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

bool CheckFaults(const FaultList& faults, CallScope lowest,
                 const std::string& where, std::string* error) {
  for (const auto& [call, fault] : faults) {
    CallScope scope = ScopeOf(call);
    bool fits = lowest == CallScope::kProcess  ? scope == CallScope::kProcess
                : lowest == CallScope::kDevice ? scope != CallScope::kProcess
                                               : scope == CallScope::kObject;
    if (!fits) {
      *error = where + ".fail: \"" + CallName(call) +
               "\" cannot be made to fail there";
      return false;
    }
    // A Read hangs, and a device's bulk requests (an object's bulk fault
    // only leaves the object out).
    const bool can_hang =
        call == Call::kRead ||
        (call == Call::kBulkValues && lowest == CallScope::kDevice);
    if ((fault.action == Fault::Action::kHang && !can_hang) ||
        (fault.action == Fault::Action::kUnplug &&
         scope == CallScope::kProcess)) {
      *error = where + ".fail: \"" + CallName(call) + "\" cannot " +
               (fault.action == Fault::Action::kHang ? "hang" : "unplug");
      return false;
    }
  }
  return true;
}

}  // namespace

CallScope ScopeOf(Call call) {
  if (call <= Call::kCreateValuesCollection) return CallScope::kProcess;
  if (call <= Call::kStart) return CallScope::kDevice;
  return CallScope::kObject;
}

const char* CallName(Call call) { return kCallNames[static_cast<int>(call)]; }

std::optional<Call> CallFromName(std::string_view name) {
  for (int i = 0; i < kCallCount; ++i) {
    if (name == kCallNames[i]) return static_cast<Call>(i);
  }
  return std::nullopt;
}

double ToOleDate(int year, int month, int day, int hour, int minute,
                 int second) {
  // Days from 1970-01-01 of a proleptic Gregorian date (Hinnant's
  // days_from_civil), then shifted to the OLE epoch 1899-12-30.
  int y = year - (month <= 2 ? 1 : 0);
  int era = (y >= 0 ? y : y - 399) / 400;
  int yoe = y - era * 400;
  int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long long days = static_cast<long long>(era) * 146097 + doe - 719468;
  constexpr long long kOleEpoch = -25569;  // 1899-12-30 from 1970-01-01
  return static_cast<double>(days - kOleEpoch) +
         (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

DateProperty DateProperty::At(int year, int month, int day, int hour,
                              int minute, int second) {
  return OleDate(ToOleDate(year, month, day, hour, minute, second));
}

DateProperty DateProperty::OleDate(double date) {
  DateProperty value;
  value.kind = Kind::kDate;
  value.date = date;
  return value;
}

DateProperty DateProperty::String(std::wstring text) {
  DateProperty value;
  value.kind = Kind::kString;
  value.text = std::move(text);
  return value;
}

DateProperty DateProperty::Uint(uint64_t number) {
  DateProperty value;
  value.kind = Kind::kUint;
  value.uint = number;
  return value;
}

// --- ObjectSpec -------------------------------------------------------------

ObjectSpec& ObjectSpec::Type(ContentType type) {
  content_type = type;
  return *this;
}
ObjectSpec& ObjectSpec::Name(std::wstring value) {
  name = std::move(value);
  return *this;
}
ObjectSpec& ObjectSpec::OriginalFileName(std::wstring value) {
  original_file_name = std::move(value);
  return *this;
}
ObjectSpec& ObjectSpec::Size(uint64_t value) {
  size = value;
  return *this;
}
ObjectSpec& ObjectSpec::Created(DateProperty value) {
  date_created = std::move(value);
  return *this;
}
ObjectSpec& ObjectSpec::Modified(DateProperty value) {
  date_modified = std::move(value);
  return *this;
}
ObjectSpec& ObjectSpec::CanDelete(bool value) {
  can_delete = value ? -1 : 0;
  return *this;
}
ObjectSpec& ObjectSpec::CanDeleteValue(int32_t value) {
  can_delete = value;
  return *this;
}
ObjectSpec& ObjectSpec::Format(uint16_t code) {
  format = code;
  return *this;
}
ObjectSpec& ObjectSpec::PersistentUniqueId(std::wstring value) {
  persistent_unique_id = std::move(value);
  return *this;
}
ObjectSpec& ObjectSpec::Container(std::wstring storage_id) {
  container = std::move(storage_id);
  return *this;
}
ObjectSpec& ObjectSpec::StorageAccess(uint32_t capability) {
  storage_access = capability;
  return *this;
}
ObjectSpec& ObjectSpec::FileSystemType(std::wstring value) {
  file_system_type = std::move(value);
  return *this;
}
ObjectSpec& ObjectSpec::Capacity(uint64_t bytes, uint64_t free_bytes) {
  capacity = bytes;
  free_space = free_bytes;
  return *this;
}
ObjectSpec& ObjectSpec::EndsAfter(uint64_t bytes) {
  return Fail(Call::kRead, Fault::EndAfter(bytes));
}
ObjectSpec& ObjectSpec::Data(std::string data) {
  data_kind = DataKind::kBytes;
  bytes = std::make_shared<const std::string>(std::move(data));
  pattern_size = 0;
  return *this;
}
ObjectSpec& ObjectSpec::Pattern(uint64_t count) {
  data_kind = DataKind::kPattern;
  bytes.reset();
  pattern_size = count;
  return *this;
}
ObjectSpec& ObjectSpec::Fail(Call call, HRESULT hresult, uint64_t after) {
  faults.emplace_back(call, Fault{hresult, after});
  return *this;
}

ObjectSpec& ObjectSpec::Fail(Call call, Fault fault) {
  faults.emplace_back(call, fault);
  return *this;
}

ObjectSpec& ObjectSpec::Thumbnail(std::string jpeg) {
  return Thumbnail(std::make_shared<const std::string>(std::move(jpeg)));
}
ObjectSpec& ObjectSpec::Thumbnail(std::shared_ptr<const std::string> jpeg) {
  thumbnail_kind = DataKind::kBytes;
  thumbnail_bytes = std::move(jpeg);
  thumbnail_pattern_size = 0;
  return *this;
}
ObjectSpec& ObjectSpec::ThumbnailPattern(uint64_t count) {
  thumbnail_kind = DataKind::kPattern;
  thumbnail_bytes.reset();
  thumbnail_pattern_size = count;
  return *this;
}
ObjectSpec& ObjectSpec::DeleteAnswer(HRESULT answer, bool keeps_object) {
  delete_answer = answer;
  delete_keeps_object = keeps_object;
  return *this;
}

uint64_t ObjectSpec::DataSize() const {
  switch (data_kind) {
    case DataKind::kBytes:
      return bytes->size();
    case DataKind::kPattern:
      return pattern_size;
    case DataKind::kNone:
      break;
  }
  return 0;
}

void ObjectSpec::ReadData(uint64_t offset, uint64_t count, uint8_t* out) const {
  if (count == 0) return;
  if (data_kind == DataKind::kBytes) {
    std::memcpy(out, bytes->data() + offset, count);
  } else if (data_kind == DataKind::kPattern) {
    // Copied from whole periods of the pattern, so a large simulated object
    // streams at memory speed and benchmarks measure the reader, not us.
    static const std::vector<uint8_t> periods = [] {
      std::vector<uint8_t> table(251 * 256);
      for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint8_t>(i % 251);
      return table;
    }();
    size_t start = static_cast<size_t>(offset % 251);
    while (count > 0) {
      size_t n = static_cast<size_t>(
          std::min<uint64_t>(count, periods.size() - start));
      std::memcpy(out, periods.data() + start, n);
      out += n;
      count -= n;
      start =
          0;  // the table holds whole periods, so the next byte is i % 251 == 0
    }
  }
}

// --- DeviceSpec and Fixture -------------------------------------------------

DeviceSpec& DeviceSpec::FriendlyName(std::wstring value) {
  friendly_name = std::move(value);
  return *this;
}
DeviceSpec& DeviceSpec::Manufacturer(std::wstring value) {
  manufacturer = std::move(value);
  return *this;
}
DeviceSpec& DeviceSpec::Description(std::wstring value) {
  description = std::move(value);
  return *this;
}
DeviceSpec& DeviceSpec::OpenResult(HRESULT hresult) {
  open_hresult = hresult;
  return *this;
}
DeviceSpec& DeviceSpec::OptimalTransferSize(DWORD value) {
  optimal_transfer_size = value;
  return *this;
}
DeviceSpec& DeviceSpec::Fail(Call call, HRESULT hresult, uint64_t after) {
  faults.emplace_back(call, Fault{hresult, after});
  return *this;
}

DeviceSpec& DeviceSpec::Fail(Call call, Fault fault) {
  faults.emplace_back(call, fault);
  return *this;
}
DeviceSpec& DeviceSpec::Locked(std::optional<uint32_t> after_ms) {
  locked = true;
  unlock_after_ms = after_ms;
  return *this;
}
DeviceSpec& DeviceSpec::GoneResult(HRESULT hresult) {
  gone_hresult = hresult;
  return *this;
}
DeviceSpec& DeviceSpec::NoticeUnplugAfter(uint32_t ms) {
  notice_unplug_after_ms = ms;
  return *this;
}
DeviceSpec& DeviceSpec::Bulk(bool value) {
  bulk = value;
  return *this;
}
DeviceSpec& DeviceSpec::ReusesIdsOnReplug(bool value) {
  reuses_ids_on_replug = value;
  return *this;
}
DeviceSpec& DeviceSpec::Link(LinkSpec spec) {
  link = spec;
  return *this;
}

ObjectSpec& DeviceSpec::Add(std::wstring object_id, std::wstring parent,
                            ContentType type) {
  ObjectSpec& object = objects.emplace_back();
  object.id = std::move(object_id);
  object.parent = std::move(parent);
  object.content_type = type;
  return object;
}

ObjectSpec& DeviceSpec::AddStorage(std::wstring object_id, std::wstring name) {
  return Add(std::move(object_id), WPD_DEVICE_OBJECT_ID,
             ContentType::kFunctional)
      .Name(std::move(name));
}

ObjectSpec& DeviceSpec::AddFolder(std::wstring object_id, std::wstring parent,
                                  std::wstring name) {
  ObjectSpec& folder =
      Add(std::move(object_id), std::move(parent), ContentType::kFolder);
  folder.original_file_name = name;
  return folder.Name(std::move(name));
}

ObjectSpec& DeviceSpec::AddFile(std::wstring object_id, std::wstring parent,
                                std::wstring file_name, ContentType type,
                                std::string data) {
  uint64_t size = data.size();
  ObjectSpec& file = Add(std::move(object_id), std::move(parent), type);
  file.original_file_name = file_name;
  return file.Name(std::move(file_name)).Size(size).Data(std::move(data));
}

ObjectSpec& DeviceSpec::AddPatternFile(std::wstring object_id,
                                       std::wstring parent,
                                       std::wstring file_name, ContentType type,
                                       uint64_t size) {
  ObjectSpec& file = Add(std::move(object_id), std::move(parent), type);
  file.original_file_name = file_name;
  return file.Name(std::move(file_name)).Size(size).Pattern(size);
}

namespace {

// A persistent unique id in the form devices use, derived from the object
// id (FNV-1a), so the same fixture gives the same ids.
std::wstring MakePersistentId(const std::wstring& id) {
  uint64_t a = 14695981039346656037ull;
  uint64_t b = a ^ 0x5bd1e995u;
  for (wchar_t c : id) {
    a = (a ^ static_cast<uint64_t>(c)) * 1099511628211ull;
    b = (b ^ static_cast<uint64_t>(c)) * 1099511628211ull;
  }
  char text[40];
  std::snprintf(
      text, sizeof(text), "{%08X-%04X-%04X-%04X-%012llX}",
      static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xFFFF),
      static_cast<unsigned>(a & 0xFFFF), static_cast<unsigned>(b >> 48),
      static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return std::wstring(text, text + std::strlen(text));
}

// The storage an object added below `parent` lies in, if any.
std::optional<std::wstring> StorageOf(const std::deque<ObjectSpec>& objects,
                                      std::wstring parent) {
  for (auto it = objects.rbegin(); it != objects.rend(); ++it) {
    if (it->id != parent) continue;
    if (it->content_type == ContentType::kFunctional) return it->id;
    if (it->container) return it->container;
    parent = it->parent;
  }
  return std::nullopt;
}

uint16_t PhoneFormat(const std::wstring& file_name) {
  std::wstring ext = file_name.substr(file_name.rfind(L'.') + 1);
  for (wchar_t& c : ext) c = static_cast<wchar_t>(std::towupper(c));
  if (ext == L"HEIC" || ext == L"JPG" || ext == L"JPEG") return 0x3801;
  if (ext == L"PNG") return 0x380B;
  if (ext == L"MOV") return 0x300D;
  return 0x3000;
}

}  // namespace

ObjectSpec& DeviceSpec::AddPhoneStorage(std::wstring object_id,
                                        std::wstring name) {
  ObjectSpec& storage = AddStorage(object_id, std::move(name));
  return storage.PersistentUniqueId(MakePersistentId(object_id))
      .StorageAccess(1)
      .FileSystemType(L"DCF");
}

ObjectSpec& DeviceSpec::AddPhoneFolder(std::wstring object_id,
                                       std::wstring parent, std::wstring name) {
  std::optional<std::wstring> storage = StorageOf(objects, parent);
  ObjectSpec& folder = AddFolder(object_id, std::move(parent), std::move(name));
  folder.container = std::move(storage);
  return folder.PersistentUniqueId(MakePersistentId(object_id)).Format(0x3001);
}

ObjectSpec& DeviceSpec::AddPhoneFile(std::wstring object_id,
                                     std::wstring parent,
                                     std::wstring file_name, ContentType type,
                                     uint64_t size, DateProperty taken) {
  std::optional<std::wstring> storage = StorageOf(objects, parent);
  ObjectSpec& file = Add(object_id, std::move(parent), type);
  file.container = std::move(storage);
  file.format = PhoneFormat(file_name);
  file.original_file_name = std::move(file_name);
  return file.PersistentUniqueId(MakePersistentId(object_id))
      .Size(size)
      .Pattern(size)
      .Created(taken)
      .Modified(taken);
}

DeviceSpec& Fixture::AddDevice(std::wstring device_id) {
  DeviceSpec& device = devices.emplace_back();
  device.id = std::move(device_id);
  return device;
}

Fixture& Fixture::Fail(Call call, HRESULT hresult, uint64_t after) {
  faults.emplace_back(call, Fault{hresult, after});
  return *this;
}

bool ValidateFixture(const Fixture& fixture, std::string* error) {
  if (!CheckFaults(fixture.faults, CallScope::kProcess, "fixture", error)) {
    return false;
  }
  for (size_t d = 0; d < fixture.devices.size(); ++d) {
    const DeviceSpec& device = fixture.devices[d];
    std::string where = "devices[" + std::to_string(d) + "]";
    if (device.id.empty()) {
      *error = where + ".id: empty";
      return false;
    }
    if (!CheckFaults(device.faults, CallScope::kDevice, where, error)) {
      return false;
    }
    std::set<std::wstring_view> seen{WPD_DEVICE_OBJECT_ID};
    for (size_t o = 0; o < device.objects.size(); ++o) {
      const ObjectSpec& object = device.objects[o];
      std::string at = where + ".objects[" + std::to_string(o) + "]";
      if (object.id.empty()) {
        *error = at + ".id: empty";
        return false;
      }
      if (seen.count(object.parent) == 0) {
        *error = at + ".parent: \"" + Narrow(object.parent) +
                 "\" is neither \"DEVICE\" nor an earlier object";
        return false;
      }
      if (object.container && seen.count(*object.container) == 0) {
        *error = at + ".containerFunctionalObjectId: \"" +
                 Narrow(*object.container) + "\" is not an earlier object";
        return false;
      }
      if (!seen.insert(object.id).second) {
        *error = at + ".id: \"" + Narrow(object.id) + "\" is used twice";
        return false;
      }
      if (!CheckFaults(object.faults, CallScope::kObject, at, error)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace wpd_sim
