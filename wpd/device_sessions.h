// Device sessions kept open between requests. Opening a phone costs a
// round of its own (20 ms on an iPhone) and every copy would pay it once
// per file; a session is kept instead, shared by the requests of every
// worker (the free-threaded device object allows it), and closed when it
// has been idle for a while, when its owner goes, or when a call on it
// answers that the device went away.

#ifndef SNAPFERRY_WPD_DEVICE_SESSIONS_H_
#define SNAPFERRY_WPD_DEVICE_SESSIONS_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/unplug_probe.h"

namespace snapferry {

// What a session is opened for: the same device, access and client
// information share one.
struct SessionKey {
  std::string device_id;
  DWORD desired_access = GENERIC_READ;
  DWORD client_minor_version = kClientMinorVersion;

  bool operator<(const SessionKey& other) const {
    return std::tie(device_id, desired_access, client_minor_version) <
           std::tie(other.device_id, other.desired_access,
                    other.client_minor_version);
  }
};

// The step of opening that failed, for callers that name each in their
// failure texts.
enum class OpenStep { kClientInformation, kCreateDevice, kOpen };

class DeviceSessions;

// One request's use of an open device. Give it back by destroying it (or
// with Reset); the session then stays open for the next request, or is
// closed if it was only this request's.
class SessionLease {
 public:
  SessionLease() = default;
  ~SessionLease() { Reset(); }
  SessionLease(SessionLease&& other) noexcept;
  SessionLease& operator=(SessionLease&& other) noexcept;
  SessionLease(const SessionLease&) = delete;
  SessionLease& operator=(const SessionLease&) = delete;

  // The open device; null when the open failed (see unopened()).
  IPortableDevice* device() const;
  // True when an earlier request opened the session: a failure that says
  // the device went away may be that session's age, not the device's.
  bool reused() const { return reused_; }

  // Tells the lease what a call on its device answered. A code that says the
  // device went away ends the session: no later request gets it, and it is
  // closed once every request using it has given it back.
  void Check(HRESULT hr);
  // Check, and whether the failure may be the session's age rather than the
  // device's: the code says the device went away, on a session an earlier
  // request opened. A request runs once more on a fresh session when this
  // holds on its first attempt and it has delivered nothing yet.
  bool CheckStale(HRESULT hr) {
    Check(hr);
    return reused_ && IsDeviceGone(hr);
  }

  // After a failed open: the device object that did not open, to be
  // released (and closed, where the caller wants that) by the caller.
  ComPtr<IPortableDevice>& unopened() { return unopened_; }

  void Reset();

 private:
  friend class DeviceSessions;
  struct Session;

  std::shared_ptr<Session> session_;
  DeviceSessions* owner_ = nullptr;  // null: a session of this request only
  bool reused_ = false;
  ComPtr<IPortableDevice> unopened_;
};

// The sessions of one channel handler. Thread-safe. Its lock guards only
// its table; no call into a device is made while it is held.
//
// The multithreaded apartment must outlive every device object kept here:
// a thread of the cache's own stays in it until the cache is shut down. That
// thread also closes sessions that have been idle for `idle_close`.
class DeviceSessions {
 public:
  static constexpr std::chrono::milliseconds kDefaultIdleClose{5000};

  // Called on a session just opened, before any request uses it, and on a
  // session about to be closed, after the last request gave it back; on the
  // thread that opens or closes it, without the cache's lock. For work that
  // lives as long as a session (say, a registration for the device's
  // events).
  using SessionHook =
      std::function<void(const SessionKey& key, IPortableDevice* device)>;

  explicit DeviceSessions(
      std::chrono::milliseconds idle_close = kDefaultIdleClose);
  // Shuts down.
  ~DeviceSessions();
  DeviceSessions(const DeviceSessions&) = delete;
  DeviceSessions& operator=(const DeviceSessions&) = delete;

  // Set before the first Open.
  void SetSessionHooks(SessionHook opened, SessionHook closing);
  // How long a session may stay idle before it is closed (tests shorten it).
  void SetIdleClose(std::chrono::milliseconds idle_close);
  // How long the first probe of a device waits for Windows to notice an
  // unplug (UnplugProbe; default 1 s, tests set 0).
  void SetUnplugNoticePause(std::chrono::milliseconds pause);

  // Whether a device that answered a went-away code really went away
  // (UnplugProbe): through the cache's probe, which pauses before a
  // device's first probe and again after one of its sessions ended on such
  // a code; without a cache the probe is made at once. Called in the
  // multithreaded apartment, holding no lease's lock.
  static bool DeviceGone(DeviceSessions* cache, const std::string& device_id);

  // Gives `lease` an open session for `key`: the one kept, or a new one
  // (opened with the client information "Snapferry" 0.<minor>.0 and the
  // desired access). Returns S_OK, or the HRESULT of the step that failed
  // (in *failed_step); a failed open is never kept, and the device object
  // that did not open is left in lease->unopened(). With `cache` null the
  // session is the request's own and is closed when the lease goes.
  // Called on a thread in the multithreaded apartment.
  static HRESULT Open(DeviceSessions* cache, const SessionKey& key,
                      SessionLease* lease, OpenStep* failed_step = nullptr);

  // Calls `visit` on every session kept open now (once one being opened
  // has opened), without the lock; none of them closes meanwhile. For work
  // that must reach sessions opened before it began (the hooks reach those
  // opened after). Called on a thread in the multithreaded apartment.
  void ForEachOpen(const SessionHook& visit);

  // Drops the session kept for `key` (if any), as if the device went away:
  // the next Open opens a new one.
  void Drop(const SessionKey& key);

  // Closes every idle session now; sessions in use are closed when they are
  // given back, and nothing is kept from now on. Waits for the cache's
  // thread to leave the apartment.
  void Shutdown();

  // For tests: sessions kept (idle or in use).
  size_t Kept() const;

 private:
  friend class SessionLease;
  using Session = SessionLease::Session;

  // Called by a lease when it is given back; `used` false (ForEachOpen)
  // leaves the session's idle time running.
  void GiveBack(const std::shared_ptr<Session>& session, bool used = true);
  void Ended(const std::shared_ptr<Session>& session);
  void CloseSession(const std::shared_ptr<Session>& session);
  void RunCloser();

  UnplugProbe unplug_probe_;  // its own lock
  SessionHook opened_hook_;
  SessionHook closing_hook_;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::map<SessionKey, std::shared_ptr<Session>> sessions_;
  std::chrono::milliseconds idle_close_;
  bool closer_started_ = false;
  bool apartment_ready_ = false;  // the closer thread is in the apartment
  bool shut_down_ = false;

  std::thread closer_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_DEVICE_SESSIONS_H_
