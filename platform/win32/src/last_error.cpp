// The calling thread's last-error code.
#include <winbase.h>

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}  // namespace

DWORD WINAPI GetLastError() { return last_error; }

void WINAPI SetLastError(DWORD code) { last_error = code; }
