#ifndef SNAPFERRY_WPD_OBJECT_DELETION_H_
#define SNAPFERRY_WPD_OBJECT_DELETION_H_

#include <cstdint>
#include <string>

#include "wpd/device_sessions.h"
#include "wpd/listed_objects.h"
#include "wpd/object_op_result.h"

namespace snapferry {

// The answers of CanDeleteObject.
inline constexpr int32_t kCanDelete = 1;
inline constexpr int32_t kCannotDelete = 0;
inline constexpr int32_t kCanDeleteUnknown = -1;

// Both take their session from `sessions` when given. The question is
// asked once more on a new session when a kept one answers that the device
// went away; a deletion never is.
//
// With `listed` (what the last listing held under the id), the object is
// read again first, as the listing read it, and acted on only when it reads
// the same: ids all change when a phone is plugged in again, and a former
// id may name another object now. The read, not the deletion, may run once
// more on a new session. One that differs or cannot be read answers -1, or
// kError with kNotTheListedObject and "The object is not the one listed:
// list the device again"; nothing is deleted.

// Asks the device (opened read-only) whether the object may be deleted:
// 1 yes, 0 no, -1 when no answer could be had.
int32_t CanDeleteObject(const std::string& device_id,
                        const std::string& object_id,
                        DeviceSessions* sessions = nullptr,
                        const ListedObject* listed = nullptr);

// Deletes exactly the one object named, without recursing into children.
// Status kOk, kNotPermitted (the device refused: access denied, not
// implemented, not supported) or kError, each with the deciding HRESULT.
// A Delete the device answers with success is checked by reading the object
// again: kOk (with the Delete's own code, S_FALSE included) only when the
// read says there is no such object; kError with E_FAIL and "Delete object
// failed: the object is still on the device" when the read succeeds; kError
// with the read's code and "Delete object could not be confirmed (HRESULT
// 0x...)" when the check itself fails.
ObjectOpResult DeleteObject(const std::string& device_id,
                            const std::string& object_id,
                            DeviceSessions* sessions = nullptr,
                            const ListedObject* listed = nullptr);

inline constexpr char kNotTheListedObjectText[] =
    "The object is not the one listed: list the device again";

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_OBJECT_DELETION_H_
