// The calls made on the simulated devices, in order, and the one fault
// injection that fits every one of them: "the k-th call answers hr".
//
//   wpd_sim::CallLog log;                  // records
//   ... run a device operation ...
//   for (k = 1; k <= log.calls().size(); ++k) {
//     wpd_sim::CallLog strike(k, E_FAIL);  // the k-th call fails
//     ... run it again, compare the outcome for log.calls()[k - 1] ...
//   }
//
// Every method of every simulated COM object is recorded (AddRef, Release
// and QueryInterface excepted), with the class factories' CreateInstance;
// on the Linux stand-in also the COM runtime's CoInitializeEx,
// CoUninitialize and CoCreateInstance. Calls the simulator makes on objects
// handed to it (a client information set, a key collection) are not the
// caller's and are not recorded.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_CALL_LOG_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_CALL_LOG_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wpd_sim {

struct LoggedCall {
  std::string method;  // "Enum.Next", "Values.GetGuidValue", "CoInitializeEx"
  std::string target;  // the object, key or class it is about; may be empty
  bool operator==(const LoggedCall& other) const {
    return method == other.method && target == other.target;
  }
};

// Records process-wide, on every thread, while it lives; one at a time.
class CallLog {
 public:
  // With strike_at > 0 the strike_at-th call (counting from 1) answers `hr`
  // instead of doing its work: a failure code as any failure of that call;
  // a success code (S_FALSE) as the call's "less than asked": Next with no
  // ids, Read with no bytes, GetValues with every property unreadable.
  // CoUninitialize cannot fail and is never struck.
  explicit CallLog(uint64_t strike_at = 0, HRESULT hr = E_FAIL);
  ~CallLog();
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;

  std::vector<LoggedCall> calls() const;
  // The call that was struck, if the count reached it.
  std::optional<LoggedCall> struck() const;
};

// --- for the simulated objects -----------------------------------------

namespace call_log {

extern std::atomic<bool> recording;
std::optional<HRESULT> Record(const char* method, std::string target);

// Calls the simulator makes itself while one lives on this thread are not
// recorded.
class Internal {
 public:
  Internal();
  ~Internal();
  Internal(const Internal&) = delete;
  Internal& operator=(const Internal&) = delete;
};

std::string KeyName(const PROPERTYKEY& key);
std::string Narrow(const wchar_t* text);  // ids are ASCII

}  // namespace call_log

// Records the call while a CallLog lives, and answers the struck call's
// HRESULT (the caller returns it) when this is the one. `target` is only
// evaluated while recording.
template <class Target>
std::optional<HRESULT> LogCall(const char* method, Target&& target) {
  if (!call_log::recording.load(std::memory_order_relaxed)) return {};
  return call_log::Record(method, target());
}
inline std::optional<HRESULT> LogCall(const char* method) {
  return LogCall(method, [] { return std::string(); });
}
// A call about the object (or parent) `id`.
inline std::optional<HRESULT> LogCallOn(const char* method, const wchar_t* id) {
  return LogCall(method, [id] { return call_log::Narrow(id); });
}

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_CALL_LOG_H_
