// The model behind the simulated portable devices: devices, their object
// trees and the faults to inject, as plain values that tests build in C++ or
// load from a JSON fixture file.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_MODEL_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_MODEL_H_

#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wpd_sim {

// Every call that a fault can be injected into. The names (without the k)
// are the keys of a fixture file's "fail" maps.
enum class Call : int {
  // Process-wide.
  kCoInitializeEx,
  kCreateManager,
  kGetDevices,
  kCreateDevice,
  kCreateValues,
  kCreateKeyCollection,
  kCreatePropVariantCollection,
  // Per device.
  kGetDeviceFriendlyName,
  kGetDeviceManufacturer,
  kGetDeviceDescription,
  kOpen,
  kContent,
  kProperties,
  kTransfer,
  // Per device, or per object (the object named in the call; for
  // EnumObjects and Next, the parent being listed).
  kEnumObjects,
  kNext,
  kGetValues,
  kGetStringValue,
  kGetGuidValue,
  kGetUnsignedLargeIntegerValue,
  kGetBoolValue,
  kGetValue,
  kGetStream,
  kRead,
  kDelete,
};
inline constexpr int kCallCount = static_cast<int>(Call::kDelete) + 1;

enum class CallScope { kProcess, kDevice, kObject };
CallScope ScopeOf(Call call);
const char* CallName(Call call);
std::optional<Call> CallFromName(std::string_view name);

// A fault makes a call answer `hresult` instead of doing its work, once
// `after` units have gone through: calls at that site (all callers
// together), or for Read the bytes given by one stream, for Next the ids
// given by one enumerator (checked when Next is called, so a batch that
// crosses the limit still comes whole).
struct Fault {
  HRESULT hresult = E_FAIL;
  uint64_t after = 0;
};
using FaultList = std::vector<std::pair<Call, Fault>>;

enum class ContentType {
  kFunctional,  // a storage
  kFolder,
  kImage,
  kVideo,
  kGeneric,
  kNone,  // the object has no WPD_OBJECT_CONTENT_TYPE
};

// A date property as the device reports it: missing, a VT_DATE, or (to
// model a device that misbehaves) a string or an unsigned integer.
struct DateProperty {
  enum class Kind : uint8_t { kMissing, kDate, kString, kUint };
  Kind kind = Kind::kMissing;
  double date = 0;  // kDate: OLE automation date, days since 1899-12-30
  uint64_t uint = 0;
  std::wstring text;

  // A VT_DATE for a calendar date and time; out-of-range fields are the
  // caller's business (no validation).
  static DateProperty At(int year, int month, int day, int hour, int minute,
                         int second);
  static DateProperty OleDate(double date);
  static DateProperty String(std::wstring text);
  static DateProperty Uint(uint64_t value);
};

// Days since 1899-12-30 for a proleptic Gregorian date and time.
double ToOleDate(int year, int month, int day, int hour, int minute,
                 int second);

// One object below a device's root. Every property is optional.
struct ObjectSpec {
  enum class DataKind : uint8_t { kNone, kBytes, kPattern };

  std::wstring id;
  std::wstring parent = WPD_DEVICE_OBJECT_ID;
  ContentType content_type = ContentType::kGeneric;
  std::optional<std::wstring> name;
  std::optional<std::wstring> original_file_name;
  std::optional<uint64_t> size;
  DateProperty date_created;
  DateProperty date_modified;
  // Stored as a VT_BOOL whose VARIANT_BOOL is this value (true is -1);
  // GetBoolValue hands it back widened with its sign.
  std::optional<int32_t> can_delete;
  // The default resource: no bytes, the given bytes, or a generated
  // pattern of pattern_size bytes in which byte i is i mod 251.
  DataKind data_kind = DataKind::kNone;
  std::shared_ptr<const std::string> bytes;
  uint64_t pattern_size = 0;
  FaultList faults;

  ObjectSpec& Type(ContentType type);
  ObjectSpec& Name(std::wstring value);
  ObjectSpec& OriginalFileName(std::wstring value);
  ObjectSpec& Size(uint64_t value);
  ObjectSpec& Created(DateProperty value);
  ObjectSpec& Modified(DateProperty value);
  ObjectSpec& CanDelete(bool value);
  ObjectSpec& CanDeleteValue(int32_t value);
  // Data and Pattern leave the size property alone; File sets both.
  ObjectSpec& Data(std::string data);
  ObjectSpec& Pattern(uint64_t size);
  ObjectSpec& Fail(Call call, HRESULT hresult, uint64_t after = 0);

  uint64_t DataSize() const;
  // Copies the default resource's bytes [offset, offset + count) into out.
  void ReadData(uint64_t offset, uint64_t count, uint8_t* out) const;
};

// One device as the device manager lists it.
struct DeviceSpec {
  std::wstring id;
  // An absent text makes the manager's query for it fail.
  std::optional<std::wstring> friendly_name;
  std::optional<std::wstring> manufacturer;
  std::optional<std::wstring> description;
  HRESULT open_hresult = S_OK;           // what Open answers
  DWORD optimal_transfer_size = 262144;  // what GetStream reports
  // Largest count one Read gives (0: whatever is asked), to model a device
  // that hands out data in smaller pieces than asked for.
  DWORD max_read_size = 0;
  // Whether a Read that gives fewer bytes than asked answers S_FALSE rather
  // than S_OK (both are seen from real streams, the end included).
  bool short_read_is_s_false = false;
  FaultList faults;  // device-wide
  // In enumeration order; a parent stands before its children.
  std::deque<ObjectSpec> objects;

  DeviceSpec& FriendlyName(std::wstring value);
  DeviceSpec& Manufacturer(std::wstring value);
  DeviceSpec& Description(std::wstring value);
  DeviceSpec& OpenResult(HRESULT hresult);
  DeviceSpec& OptimalTransferSize(DWORD size);
  DeviceSpec& Fail(Call call, HRESULT hresult, uint64_t after = 0);

  // Adds an object; the reference stays valid while the setup lives.
  ObjectSpec& Add(std::wstring id, std::wstring parent, ContentType type);
  ObjectSpec& AddStorage(std::wstring id, std::wstring name);
  ObjectSpec& AddFolder(std::wstring id, std::wstring parent,
                        std::wstring name);
  // A file whose name, original file name and size match its data.
  ObjectSpec& AddFile(std::wstring id, std::wstring parent,
                      std::wstring file_name, ContentType type,
                      std::string data);
  ObjectSpec& AddPatternFile(std::wstring id, std::wstring parent,
                             std::wstring file_name, ContentType type,
                             uint64_t size);
};

// What the simulated WPD components offer the process.
struct Fixture {
  std::deque<DeviceSpec> devices;
  FaultList faults;  // process-wide

  DeviceSpec& AddDevice(std::wstring id);
  Fixture& Fail(Call call, HRESULT hresult, uint64_t after = 0);
};

// Checks what the model needs: non-empty unique object ids, parents that
// stand earlier in the list (or are the root), faults at a fitting scope.
bool ValidateFixture(const Fixture& fixture, std::string* error);

// Parses a fixture file's text. On failure returns false with *error saying
// what is wrong and where (a path such as devices[0].objects[3].size).
bool ParseFixtureJson(const std::string& text, Fixture* fixture,
                      std::string* error);
bool LoadFixtureFile(const std::string& path, Fixture* fixture,
                     std::string* error);

// The built-in devices: an iPhone with a camera roll of HEIC, JPG, PNG, MOV
// and AAE files, and a camera of another maker.
Fixture DemoFixture();

// The fixture for a whole-process run: the file named by SNAPFERRY_DEVICES,
// or the demo devices when the variable is unset or empty. A file that
// cannot be read or parsed is reported on standard error with its name and
// what is wrong, and then no device is offered.
Fixture FixtureFromEnvironment();

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_MODEL_H_
