#include "platform/wpd/simulator/call_log.h"

#include <portabledevice.h>

#include <mutex>
#include <utility>

#include "platform/wpd/simulator/coinit_fault.h"
#include "platform/wpd/simulator/com_support.h"

namespace wpd_sim {
namespace {

struct Log {
  std::mutex mu;
  std::vector<LoggedCall> calls;
  uint64_t strike_at = 0;
  HRESULT hr = E_FAIL;
  std::optional<LoggedCall> struck;
};

Log& TheLog() {
  static Log* log = new Log;
  return *log;
}

thread_local int internal_depth = 0;

}  // namespace

namespace call_log {

std::atomic<bool> recording{false};

std::optional<HRESULT> Record(const char* method, std::string target) {
  if (internal_depth > 0) return {};
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mu);
  if (!recording.load()) return {};
  log.calls.push_back(LoggedCall{method, std::move(target)});
  if (log.calls.size() != log.strike_at ||
      log.calls.back().method == "CoUninitialize") {
    return {};
  }
  log.struck = log.calls.back();
  return log.hr;
}

Internal::Internal() { ++internal_depth; }
Internal::~Internal() { --internal_depth; }

std::string KeyName(const PROPERTYKEY& key) {
  static const struct {
    const PROPERTYKEY* key;
    const char* name;
  } kNames[] = {
      {&WPD_OBJECT_ID, "ID"},
      {&WPD_OBJECT_PARENT_ID, "PARENT_ID"},
      {&WPD_OBJECT_NAME, "NAME"},
      {&WPD_OBJECT_PERSISTENT_UNIQUE_ID, "PERSISTENT_UNIQUE_ID"},
      {&WPD_OBJECT_FORMAT, "FORMAT"},
      {&WPD_OBJECT_CONTENT_TYPE, "CONTENT_TYPE"},
      {&WPD_OBJECT_SIZE, "SIZE"},
      {&WPD_OBJECT_ORIGINAL_FILE_NAME, "ORIGINAL_FILE_NAME"},
      {&WPD_OBJECT_DATE_CREATED, "DATE_CREATED"},
      {&WPD_OBJECT_DATE_MODIFIED, "DATE_MODIFIED"},
      {&WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID, "CONTAINER"},
      {&WPD_OBJECT_CAN_DELETE, "CAN_DELETE"},
      {&WPD_STORAGE_FILE_SYSTEM_TYPE, "FILE_SYSTEM_TYPE"},
      {&WPD_STORAGE_ACCESS_CAPABILITY, "ACCESS_CAPABILITY"},
      {&WPD_CLIENT_NAME, "CLIENT_NAME"},
      {&WPD_CLIENT_MAJOR_VERSION, "CLIENT_MAJOR_VERSION"},
      {&WPD_CLIENT_MINOR_VERSION, "CLIENT_MINOR_VERSION"},
      {&WPD_CLIENT_REVISION, "CLIENT_REVISION"},
      {&WPD_CLIENT_DESIRED_ACCESS, "CLIENT_DESIRED_ACCESS"},
      {&WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, "CLIENT_QOS"},
  };
  for (const auto& entry : kNames) {
    if (SameKey(*entry.key, key)) return entry.name;
  }
  return "key";
}

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; text != nullptr && *text != 0; ++text) {
    narrow += static_cast<char>(*text);
  }
  return narrow;
}

}  // namespace call_log

CallLog::CallLog(uint64_t strike_at, HRESULT hr) {
  Log& log = TheLog();
  {
    std::lock_guard<std::mutex> lock(log.mu);
    log.calls.clear();
    log.strike_at = strike_at;
    log.hr = hr;
    log.struck.reset();
  }
  LogComRuntimeCalls(true);
  call_log::recording.store(true);
}

CallLog::~CallLog() {
  call_log::recording.store(false);
  LogComRuntimeCalls(false);
}

std::vector<LoggedCall> CallLog::calls() const {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mu);
  return log.calls;
}

std::optional<LoggedCall> CallLog::struck() const {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mu);
  return log.struck;
}

}  // namespace wpd_sim
