#ifndef SNAPFERRY_WPD_OBJECT_OP_RESULT_H_
#define SNAPFERRY_WPD_OBJECT_OP_RESULT_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace snapferry {

// What became of a copy or a deletion. The values are part of the record the
// channel layer turns into its reply.
enum class ObjectOpStatus : int32_t {
  kOk = 0,
  kCancelled = 1,
  kNotPermitted = 2,
  kError = 3,
};

// The outcome of CopyObjectToFile and DeleteObject.
struct ObjectOpResult {
  ObjectOpStatus status = ObjectOpStatus::kOk;
  // Bytes written to the staging file (always 0 for a deletion).
  int64_t bytesWritten = 0;
  HRESULT hresult = 0;
  // The failure text, "Cancelled", or empty after success.
  std::string error;
  // A copy's WPD_OBJECT_SIZE as it read it from the object before the data;
  // empty when it could not read it (and always for a deletion). The caller
  // compares it with the bytes written: a phone may end a stream early.
  std::optional<uint64_t> objectSize;
};

// Called by a running copy, on its own thread, with the bytes written so far
// and the object's total size (0 when the device does not tell it).
using ProgressCallback = std::function<void(int64_t bytes, int64_t total)>;

// The Windows rule for turning a system error code into an HRESULT: codes of
// 0 or less (already HRESULTs) stay as they are; any other code becomes
// 0x8007xxxx with its low 16 bits.
constexpr HRESULT HresultFromWin32(DWORD code) {
  return static_cast<int32_t>(code) <= 0
             ? static_cast<HRESULT>(code)
             : static_cast<HRESULT>((code & 0x0000FFFFu) | 0x80070000u);
}

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_OBJECT_OP_RESULT_H_
