// Simulated Windows Portable Devices for tests and whole-process runs.
//
// A Simulator registers COM classes under the real WPD class ids
// (CLSID_PortableDeviceManager, CLSID_PortableDeviceFTM, CLSID_PortableDevice,
// CLSID_PortableDeviceValues, CLSID_PortableDeviceKeyCollection,
// CLSID_PortableDevicePropVariantCollection,
// CLSID_PortableDeviceValuesCollection) with CoRegisterClassObject from
// a multithreaded apartment of its own, so that CoCreateInstance with
// CLSCTX_INPROC_SERVER on any thread of the process's multithreaded
// apartment gets them instead of the system's. They serve the devices of a
// Fixture (model.h), inject the faults it names, and count themselves.
//
//   wpd_sim::Fixture fixture;
//   auto& phone = fixture.AddDevice(L"\\\\?\\usb#vid_05ac...")
//                     .FriendlyName(L"iPhone").Manufacturer(L"Apple Inc.");
//   phone.AddStorage(L"s1", L"Internal Storage");
//   phone.AddPatternFile(L"o1", L"s1", L"IMG_0001.HEIC",
//                        wpd_sim::ContentType::kImage, 1000);
//   wpd_sim::Simulator sim(std::move(fixture));
//   ASSERT_TRUE(sim.ok()) << sim.error();
//   ... run the device operation ...
//   EXPECT_EQ(sim.LiveObjects(), 0);
//   EXPECT_EQ(sim.OpenWithoutClose(), 0);
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_SIMULATOR_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_SIMULATOR_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/wpd/simulator/model.h"

namespace wpd_sim {

struct SimState;
class Registration;

// The kinds of simulated COM object, for the live counts.
enum class ObjectKind : int {
  kManager,
  kDevice,
  kContent,
  kProperties,
  kResources,
  kEnumerator,
  kStream,
  kValues,
  kKeyCollection,
  kPropVariantCollection,
  kValuesCollection,
  kBulkProperties,
};
inline constexpr int kObjectKindCount =
    static_cast<int>(ObjectKind::kBulkProperties) + 1;
const char* ObjectKindName(ObjectKind kind);

// The client information a device was last opened with.
struct ClientInfo {
  std::vector<PROPERTYKEY> keys;  // in the order they were set
  std::optional<std::wstring> name;
  std::optional<ULONG> major_version;
  std::optional<ULONG> minor_version;
  std::optional<ULONG> revision;
  std::optional<ULONG> security_quality_of_service;
  std::optional<ULONG> desired_access;
};

// The classes registered once more in one thread's own apartment; see
// Simulator::RegisterInCurrentApartment.
class ApartmentRegistration {
 public:
  explicit ApartmentRegistration(std::shared_ptr<SimState> state);
  // Revokes the classes; must run on the registering thread.
  ~ApartmentRegistration();
  ApartmentRegistration(const ApartmentRegistration&) = delete;
  ApartmentRegistration& operator=(const ApartmentRegistration&) = delete;
  HRESULT result() const { return result_; }

 private:
  std::vector<IClassFactory*> factories_;
  std::vector<DWORD> cookies_;
  HRESULT result_ = S_OK;
};

class Simulator {
 public:
  // Registers the classes over the fixture's devices. Only one Simulator may
  // be registered at a time in a process; check ok().
  explicit Simulator(Fixture fixture);
  // Revokes the classes. Objects still alive keep working on their model.
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Accounting. LiveObjects counts every simulated COM object not yet
  // released (class factories excluded). OpenWithoutClose counts successful
  // Opens not followed by Close on the same object, also when the object
  // has been released since.
  int64_t LiveObjects() const;
  int64_t LiveObjects(ObjectKind kind) const;
  std::string LiveObjectsText() const;  // "kind=n ..." of the non-zero ones
  int64_t OpenWithoutClose() const;
  // Device objects opened on this device and neither closed nor released.
  int OpenSessions(const std::wstring& device_id) const;
  // What crossed the device's link: opens, round trips, reads and bytes
  // read. Counted with or without a link (DeviceSpec::link).
  LinkCounts LinkUse(const std::wstring& device_id) const;
  // How often each call was made (faulted ones included).
  uint64_t Calls(Call call) const;
  // Calls failed by random faults so far.
  uint64_t RandomFaultsInjected() const;
  std::optional<ClientInfo> LastClientInfo(const std::wstring& device_id) const;

  // The model as it stands (deletions included), by the ids of the current
  // connection.
  bool HasObject(const std::wstring& device_id,
                 const std::wstring& object_id) const;
  std::vector<std::wstring> Children(const std::wstring& device_id,
                                     const std::wstring& parent_id) const;

  // Faults, effective at once for every caller. The setters return false
  // when the device or object is unknown or the call does not fit the scope.
  bool SetProcessFault(Call call, Fault fault);
  bool SetDeviceFault(const std::wstring& device_id, Call call, Fault fault);
  bool SetObjectFault(const std::wstring& device_id,
                      const std::wstring& object_id, Call call, Fault fault);
  bool SetOpenResult(const std::wstring& device_id, HRESULT hresult);
  // Faults at random (random_faults.h), replacing the fixture's.
  void SetRandomFaults(RandomFaults faults);
  // Every fault above, the random ones included.
  void ClearFaults();

  // COM serves classes registered in the multithreaded apartment to that
  // apartment's threads only (Wine and the stand-in alike), so a thread that
  // joined a single-threaded apartment (say, to see how the device layer
  // copes with RPC_E_CHANGED_MODE) registers them in its own apartment too.
  // Call on that thread after it joined COM; destroy there, before it leaves.
  std::unique_ptr<ApartmentRegistration> RegisterInCurrentApartment() const;

  // The connection model, the one place plugging is decided. The setters
  // return false for an unknown device (or one already in that state, for
  // Plug and Unplug).
  //
  // Unplug: device managers created or refreshed afterwards no longer list
  // the device, Open of its id answers
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), and every call through a device
  // object opened before, and through what came from it, answers the device's
  // gone code (DeviceSpec::gone_hresult); a hung Read wakes with it. Close and
  // Release still work. Plug: a new connection under the same device id, in
  // which every object has a new id (and persistent unique id), as an iPhone's
  // all change when it is plugged in again; the first connection's ids are the
  // fixture's (DeviceSpec::reuses_ids_on_replug hands them out again, to
  // other objects). Reset ends with it; the lock does not. Replug: Unplug (if
  // plugged), Plug.
  bool Unplug(const std::wstring& device_id);
  bool Plug(const std::wstring& device_id);
  bool Replug(const std::wstring& device_id);
  // Locked: storages list no children until unlocked, on the same
  // connection (a locked or untrusted iPhone).
  bool Lock(const std::wstring& device_id);
  bool Unlock(const std::wstring& device_id);
  // As after WPD_EVENT_DEVICE_RESET: storages list no children until the
  // device is plugged in again.
  bool Reset(const std::wstring& device_id);
  bool IsPlugged(const std::wstring& device_id) const;
  // Connections so far (1 until the first replug); 0 for an unknown device.
  uint32_t Connections(const std::wstring& device_id) const;
  // The id a fixture object has on the device's current connection; empty
  // when unknown or deleted.
  std::wstring ObjectId(const std::wstring& device_id,
                        const std::wstring& fixture_id) const;
  // Reads blocked right now by a hang fault.
  int BlockedReads() const;

  // Device events. A session registered with IPortableDevice::Advise is
  // told WPD_EVENT_DEVICE_RESET on Reset and WPD_EVENT_DEVICE_REMOVED when
  // its connection ends (Unplug, Replug, an unplug fault), on a thread of the
  // Simulator's own, with WPD_EVENT_PARAMETER_EVENT_ID and
  // WPD_EVENT_PARAMETER_PNP_DEVICE_ID. Plug, Unplug, Replug and AddDevice
  // also play the system's part: WM_DEVICECHANGE (DBT_DEVICEARRIVAL,
  // DBT_DEVICEREMOVECOMPLETE) to the windows registered for
  // GUID_DEVINTERFACE_WPD, naming InterfacePath(id). Only the stand-in lets
  // a process do that: where BroadcastsDeviceChanges() is false (Windows),
  // tests send the message to their window themselves.
  static bool BroadcastsDeviceChanges();
  // Advises not undone on the device's sessions.
  int Advises(const std::wstring& device_id) const;
  // Advises still in place when their device object was closed or released
  // (the client should have undone them first).
  int64_t AdvisesLeftAtClose() const;
  // Returns once every event raised so far has been told and let go of.
  void WaitForEventDelivery() const;

  // A device never seen before arrives (false if the id is known: use
  // Plug). RemoveDevice is Unplug.
  bool AddDevice(DeviceSpec device);
  bool RemoveDevice(const std::wstring& device_id);

 private:
  std::shared_ptr<SimState> state_;
  std::unique_ptr<Registration> registration_;
  bool owns_registration_ = false;
  std::string error_;
};

// The device interface path Windows names a device by in WM_DEVICECHANGE:
// its WPD id with the letters before the class GUID in capitals.
std::wstring InterfacePath(const std::wstring& device_id);

// For whole-process runs: a Simulator over FixtureFromEnvironment(). Never
// null; a failed registration is reported on standard error.
std::unique_ptr<Simulator> StartFromEnvironment();

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_SIMULATOR_H_
