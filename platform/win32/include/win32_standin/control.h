// The stand-in's control surface for tests: what the environment reports,
// failures to inject, and what the code under test did. Only tests call
// this; it exists on the Linux build alone.
#ifndef SNAPFERRY_WIN32_STANDIN_CONTROL_H_
#define SNAPFERRY_WIN32_STANDIN_CONTROL_H_

#include <guiddef.h>
#include <windows.h>

namespace win32_standin {

// Restores every environment setting to its default and clears injected
// failures and recorded observations. Apartments, class registrations and
// windows belong to the code under test and are left as they are.
void Reset();

// ---- COM ----------------------------------------------------------------

enum class ApartmentModel { kNone, kSingleThreaded, kMultithreaded };

struct ApartmentState {
  ApartmentModel model;
  int depth;  // successful CoInitializeEx calls not yet balanced
};

// The calling thread's own apartment (not the implicit multithreaded one).
ApartmentState CurrentApartment();

// The next `times` calls of CoInitializeEx (every call when times < 0), on
// any thread, answer `hr` and change nothing.
void FailCoInitializeEx(HRESULT hr, int times = -1);

// The next `times` CoCreateInstance calls for `clsid` (every call when
// times < 0) answer `hr` without reaching the class factory.
void FailCoCreateInstance(REFCLSID clsid, HRESULT hr, int times = -1);

// Live class registrations made with CoRegisterClassObject.
int RegisteredClassCount();

// ---- files and time -----------------------------------------------------

// The next `times` CreateFileW calls (every call when times < 0) fail with
// `error` and create nothing.
void FailCreateFileW(DWORD error, int times = -1);

// The next `times` WriteFile calls fail with `error` and write nothing.
void FailWriteFile(DWORD error, int times = -1);

// File handles open now.
int OpenFileHandleCount();

// GetTickCount64 answers `value` from now on, and moves only by
// AdvanceTickCount, until Reset().
void FreezeTickCount(ULONGLONG value);
void AdvanceTickCount(ULONGLONG milliseconds);

}  // namespace win32_standin

#endif  // SNAPFERRY_WIN32_STANDIN_CONTROL_H_
