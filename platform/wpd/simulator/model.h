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

#include "platform/wpd/simulator/link.h"
#include "platform/wpd/simulator/random_faults.h"

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
  kCreateValuesCollection,
  // Per device.
  kGetDeviceFriendlyName,
  kGetDeviceManufacturer,
  kGetDeviceDescription,
  kOpen,
  kContent,
  kProperties,
  kTransfer,
  // IPortableDevicePropertiesBulk (bulk_properties.h).
  kQueueGetValuesByObjectList,
  kStart,
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
  // One object's values in a bulk request: an object's fault leaves the
  // object out of the results; a device's ends (or hangs) the whole request
  // after that many objects (see Fault).
  kBulkValues,
};
inline constexpr int kCallCount = static_cast<int>(Call::kBulkValues) + 1;

enum class CallScope { kProcess, kDevice, kObject };
CallScope ScopeOf(Call call);
const char* CallName(Call call);
std::optional<Call> CallFromName(std::string_view name);

// HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED): what a hung Read answers once
// it is cancelled.
inline constexpr HRESULT kCancelledHresult = static_cast<HRESULT>(0x800703E3);
// HRESULT_FROM_WIN32(ERROR_CANCELLED): the status a cancelled bulk request
// ends with (IPortableDevicePropertiesBulkCallback::OnEnd).
inline constexpr HRESULT kBulkCancelledHresult =
    static_cast<HRESULT>(0x800704C7);

// "The device went away": the codes Windows answers, on calls through
// objects of a device that was unplugged, in the WPD documentation and in
// reports. A device answers one of them (DeviceSpec::gone_hresult); clients
// must treat all alike.
inline constexpr HRESULT kDeviceNotConnected =  // ERROR_DEVICE_NOT_CONNECTED
    static_cast<HRESULT>(0x8007048F);
inline constexpr HRESULT kDeviceGoneHresults[] = {
    kDeviceNotConnected,
    static_cast<HRESULT>(0x8007001F),  // ERROR_GEN_FAILURE
    static_cast<HRESULT>(0x800701B1),  // ERROR_NO_SUCH_DEVICE
    static_cast<HRESULT>(0x802A0002),  // E_WPD_DEVICE_NOT_OPEN, seen after
                                       // a camera was unplugged
};

// A fault makes a call answer `hresult` instead of doing its work, once
// `after` units have gone through: calls at that site (all callers
// together), or for Read the bytes given by one stream, for Next the ids
// given by one enumerator (checked when Next is called, so a batch that
// crosses the limit still comes whole).
//
// A Read fault with a success code ends the stream there: Read answers that
// code with 0 bytes while WPD_OBJECT_SIZE still lists the full size (a phone
// whose transfer setting changed mid-connection served 12 bytes of a
// 222,033-byte photo). Two other actions:
//   kHang (Read only): the Read blocks until IPortableDevice::Cancel is
//     called on the device object the stream came from (or
//     IPortableDeviceDataStream::Cancel on the stream), and then answers
//     kCancelledHresult; if the device goes away meanwhile, the device's
//     gone code; if the device object is closed, E_WPD_DEVICE_NOT_OPEN; if
//     the Simulator is destroyed, kCancelledHresult.
//   kUnplug (device and object calls): the device is unplugged at that
//     moment (as Simulator::Unplug) and the call answers its gone code.
//
// Bulk requests (IPortableDevicePropertiesBulk) count otherwise. A
// BulkValues fault of an object leaves that object out of a request's
// results (`after`: its bulk reads let through first); a BulkValues fault
// of the device acts on each request once `after` objects of that request
// came: kFail ends it with OnEnd(hresult), kHang holds it, sending nothing
// more, until Cancel, Close, an unplug or the Simulator's end, kUnplug
// unplugs the device. An object that GetValues fails with a fault comes
// in a request too, holding that fault's code in each asked-for property.
struct Fault {
  enum class Action : uint8_t { kFail, kHang, kUnplug };
  HRESULT hresult = E_FAIL;
  uint64_t after = 0;
  Action action = Action::kFail;

  static Fault EndAfter(uint64_t bytes) { return Fault{S_OK, bytes}; }
  // Read: after so many bytes; a device's BulkValues: after so many
  // objects of each request.
  static Fault Hang(uint64_t after) { return Fault{S_OK, after, Action::kHang}; }
  static Fault Unplug(uint64_t after) {
    return Fault{S_OK, after, Action::kUnplug};
  }
};
using FaultList = std::vector<std::pair<Call, Fault>>;

enum class ContentType {
  kFunctional,  // a storage
  kFolder,
  kImage,
  kVideo,
  kGeneric,
  kUnspecified,  // an iPhone's Live Photo motion (.MOV) and edit (.AAE)
  kNone,         // the object has no WPD_OBJECT_CONTENT_TYPE
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
  // WPD_OBJECT_FORMAT, as the MTP object format code (0x3801 EXIF).
  std::optional<uint16_t> format;
  // WPD_OBJECT_PERSISTENT_UNIQUE_ID; on later connections followed by "~"
  // and the connection number, as the object ids.
  std::optional<std::wstring> persistent_unique_id;
  // WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID: the id of an earlier object
  // (the storage), which follows that object's id on later connections.
  std::optional<std::wstring> container;
  // Storage properties: WPD_STORAGE_ACCESS_CAPABILITY (1: read-only without
  // object deletion, which refuses Delete of everything below it with
  // E_ACCESSDENIED) and WPD_STORAGE_FILE_SYSTEM_TYPE.
  std::optional<uint32_t> storage_access;
  std::optional<std::wstring> file_system_type;
  // WPD_STORAGE_CAPACITY and WPD_STORAGE_FREE_SPACE_IN_BYTES, in bytes.
  std::optional<uint64_t> capacity;
  std::optional<uint64_t> free_space;
  // The default resource: no bytes, the given bytes, or a generated
  // pattern of pattern_size bytes in which byte i is i mod 251.
  DataKind data_kind = DataKind::kNone;
  std::shared_ptr<const std::string> bytes;
  uint64_t pattern_size = 0;
  // WPD_RESOURCE_THUMBNAIL, held as the default resource is: none (GetStream
  // answers ERROR_NOT_SUPPORTED), the given bytes (shared by every object
  // that shows the same picture), or a pattern. The object's GetStream and
  // Read faults and the device's read behaviour apply to it too.
  DataKind thumbnail_kind = DataKind::kNone;
  std::shared_ptr<const std::string> thumbnail_bytes;
  uint64_t thumbnail_pattern_size = 0;
  // What a Delete of this object answers when the device lets it through:
  // S_OK or S_FALSE; with delete_keeps_object the object stays all the same,
  // as some deletes on iPhones are answered as done and do nothing.
  HRESULT delete_answer = S_OK;
  bool delete_keeps_object = false;
  FaultList faults;

  ObjectSpec& Type(ContentType type);
  ObjectSpec& Name(std::wstring value);
  ObjectSpec& OriginalFileName(std::wstring value);
  ObjectSpec& Size(uint64_t value);
  ObjectSpec& Created(DateProperty value);
  ObjectSpec& Modified(DateProperty value);
  ObjectSpec& CanDelete(bool value);
  ObjectSpec& CanDeleteValue(int32_t value);
  ObjectSpec& Format(uint16_t code);
  ObjectSpec& PersistentUniqueId(std::wstring value);
  ObjectSpec& Container(std::wstring storage_id);
  ObjectSpec& StorageAccess(uint32_t capability);
  ObjectSpec& FileSystemType(std::wstring value);
  ObjectSpec& Capacity(uint64_t bytes, uint64_t free_bytes);
  // The stream serves `bytes` bytes and then ends (Read: S_OK, 0 bytes),
  // whatever the size property says.
  ObjectSpec& EndsAfter(uint64_t bytes);
  // Data and Pattern leave the size property alone; File sets both.
  ObjectSpec& Data(std::string data);
  ObjectSpec& Pattern(uint64_t size);
  ObjectSpec& Fail(Call call, HRESULT hresult, uint64_t after = 0);
  ObjectSpec& Fail(Call call, Fault fault);
  ObjectSpec& Thumbnail(std::string jpeg);
  ObjectSpec& Thumbnail(std::shared_ptr<const std::string> jpeg);
  ObjectSpec& ThumbnailPattern(uint64_t size);
  ObjectSpec& DeleteAnswer(HRESULT answer, bool keeps_object = false);

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
  // The device object's own properties (WPD_DEVICE_*, read from
  // WPD_DEVICE_OBJECT_ID); an absent one is not there. Its
  // WPD_DEVICE_FRIENDLY_NAME and WPD_DEVICE_MANUFACTURER are the texts
  // above.
  struct Properties {
    std::optional<std::wstring> model;
    std::optional<std::wstring> firmware_version;
    std::optional<std::wstring> protocol;         // "MTP: 1.00"
    std::optional<std::wstring> serial_number;    // never to be reported
    std::optional<uint32_t> power_level;          // 0 to 100
    std::optional<uint32_t> power_source;         // 0 battery, 1 external
    std::optional<bool> supports_non_consumable;  // a VT_BOOL
  } properties;
  HRESULT open_hresult = S_OK;           // what Open answers
  DWORD optimal_transfer_size = 262144;  // what GetStream reports
  // Largest count one Read gives (0: whatever is asked), to model a device
  // that hands out data in smaller pieces than asked for.
  DWORD max_read_size = 0;
  // Whether a Read that gives fewer bytes than asked answers S_FALSE rather
  // than S_OK (both are seen from real streams, the end included).
  bool short_read_is_s_false = false;
  // The connection model's starting point (Simulator::Lock and the rest
  // change it at run time). Locked: every storage lists no children, as a
  // locked or untrusted iPhone's; unlock_after_ms unlocks it that long after
  // it was plugged in. Reset: storages list nothing until the device is
  // plugged in again, as after WPD_EVENT_DEVICE_RESET.
  bool locked = false;
  std::optional<uint32_t> unlock_after_ms;
  bool reset = false;
  // What calls through the device's objects answer once it was unplugged;
  // one of kDeviceGoneHresults.
  HRESULT gone_hresult = kDeviceNotConnected;
  // For this long after an unplug the device is still listed and still
  // opens (its sessions answer the gone code), as Windows may take a moment
  // to notice. 0: gone from the list at once.
  uint32_t notice_unplug_after_ms = 0;
  // Plugged in again, the device hands out the ids of its first connection
  // once more, each to another object: object k gets the id object
  // k + c - 1 had (c the connection number, objects in fixture order below
  // the root, counted round), so an id listed before the replug names
  // another object now. Persistent unique ids still change. Off: every
  // object gets an id it never had (its first id followed by "~c").
  bool reuses_ids_on_replug = false;
  // A misbehaving enumerator: a Next that fills the caller's array reports
  // this many more ids fetched than it asked for.
  uint32_t next_overcount = 0;
  // The properties object serves bulk reads (QueryInterface for
  // IID_IPortableDevicePropertiesBulk succeeds), as an iPhone's does.
  bool bulk = false;
  // The cable's costs; unset, every call answers at once.
  std::optional<LinkSpec> link;
  FaultList faults;  // device-wide
  // In enumeration order; a parent stands before its children.
  std::deque<ObjectSpec> objects;

  DeviceSpec& FriendlyName(std::wstring value);
  DeviceSpec& Manufacturer(std::wstring value);
  DeviceSpec& Description(std::wstring value);
  DeviceSpec& OpenResult(HRESULT hresult);
  DeviceSpec& OptimalTransferSize(DWORD size);
  DeviceSpec& Fail(Call call, HRESULT hresult, uint64_t after = 0);
  DeviceSpec& Fail(Call call, Fault fault);
  DeviceSpec& Locked(std::optional<uint32_t> unlock_after_ms = std::nullopt);
  DeviceSpec& GoneResult(HRESULT hresult);
  DeviceSpec& NoticeUnplugAfter(uint32_t ms);
  DeviceSpec& ReusesIdsOnReplug(bool value = true);
  DeviceSpec& Bulk(bool value = true);
  // Calls wait out the link's costs: Link(LinkSpec::Usb2()).
  DeviceSpec& Link(LinkSpec spec);

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

  // Objects as a current iPhone lists them. The storage is "DCF" and
  // read-only without object deletion. Folders and files carry a format, a
  // persistent unique id and their storage; files have pattern data of
  // `size` bytes, an original file name but no WPD_OBJECT_NAME, no
  // WPD_OBJECT_CAN_DELETE, and `taken` as both dates. The format follows the
  // extension (HEIC, JPG: EXIF; PNG; MOV: QuickTime 0x300D; others 0x3000).
  ObjectSpec& AddPhoneStorage(std::wstring id, std::wstring name);
  ObjectSpec& AddPhoneFolder(std::wstring id, std::wstring parent,
                             std::wstring name);
  ObjectSpec& AddPhoneFile(std::wstring id, std::wstring parent,
                           std::wstring file_name, ContentType type,
                           uint64_t size, DateProperty taken);
};

// What the simulated WPD components offer the process.
struct Fixture {
  std::deque<DeviceSpec> devices;
  FaultList faults;  // process-wide
  // A misbehaving device manager: GetDevices with an array reports this many
  // more devices than it wrote into it.
  uint32_t get_devices_overcount = 0;
  // A share of all device calls failing at random (random_faults.h).
  RandomFaults random_faults;

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

// The built-in devices: an iPhone as a current one lists its camera roll
// (month folders right below its storage), a camera of another maker, and
// an iPhone of an older iOS (DCIM/100APPLE), in that order.
Fixture DemoFixture();

// The fixture for a whole-process run: the file named by SNAPFERRY_DEVICES,
// or the demo devices when the variable is unset or empty. A file that
// cannot be read or parsed is reported on standard error with its name and
// what is wrong, and then no device is offered.
Fixture FixtureFromEnvironment();

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_MODEL_H_
