// The stand-in's control surface for tests: what the environment reports,
// failures to inject, and what the code under test did. Only tests call
// this; it exists on the Linux build alone.
#ifndef SNAPFERRY_WIN32_STANDIN_CONTROL_H_
#define SNAPFERRY_WIN32_STANDIN_CONTROL_H_

#include <windows.h>
#include <guiddef.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

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

// Task-memory blocks (CoTaskMemAlloc, CoTaskMemRealloc) handed out and not
// yet given back to CoTaskMemFree, on every thread. Reset() keeps it.
long OutstandingTaskMemoryBlocks();

// Called on the calling thread at the start of every CoUninitialize, with
// that thread's apartment before the call; none when empty. Reset() clears
// it.
void SetCoUninitializeObserver(std::function<void(ApartmentState)> observer);

// Called on the calling thread at the start of CoInitializeEx,
// CoUninitialize and CoCreateInstance with the function's name and, for
// CoCreateInstance, the class asked for (else null). A failure it returns is
// answered instead and nothing is done (CoUninitialize's is ignored). None
// when empty. Reset() clears it.
void SetComCallHook(
    std::function<HRESULT(const char* call, const CLSID* clsid)> hook);

// ---- files and time -----------------------------------------------------

// The next `times` CreateFileW calls (every call when times < 0) fail with
// `error` and create nothing.
void FailCreateFileW(DWORD error, int times = -1);

// The next `times` WriteFile calls fail with `error` and write nothing.
void FailWriteFile(DWORD error, int times = -1);

// The next `times` FlushFileBuffers calls fail with `error`.
void FailFlushFileBuffers(DWORD error, int times = -1);

// File handles open now.
int OpenFileHandleCount();

// For `milliseconds` from now (for good when negative), every CreateFileW,
// DeleteFileW and GetFileAttributesExW of `path`, and MoveFileExW from or to
// it, answers `error` and does nothing: ERROR_SHARING_VIOLATION as while a
// scanner has the file open, ERROR_ACCESS_DENIED as while it holds one whose
// deletion is pending. The path is compared as given, long-path prefix and
// separators aside.
void HoldPath(const std::wstring& path, DWORD error, int milliseconds = -1);

// GetTickCount64 answers `value` from now on, and moves only by
// AdvanceTickCount, until Reset().
void FreezeTickCount(ULONGLONG value);
void AdvanceTickCount(ULONGLONG milliseconds);

// ---- environment ----------------------------------------------------------

struct Monitor {
  RECT bounds;
  RECT work_area;
  UINT dpi;
};

// Default: one 1920x1080 monitor at 96 DPI with a 1920x1040 work area.
void SetMonitors(const std::vector<Monitor>& monitors);  // first is primary
void SetSystemDpi(UINT dpi);                             // default 96
void SetWorkArea(const RECT& work_area);  // the primary monitor's
void SetWorkAreaQueryFails(bool fails);   // SystemParametersInfoW fails

// Registry values under a root key (HKEY_CURRENT_USER...), found by
// RegGetValueW; names are matched without regard to case.
void SetRegistryDword(HKEY root, const std::wstring& subkey,
                      const std::wstring& name, DWORD value);
void SetRegistryString(HKEY root, const std::wstring& subkey,
                       const std::wstring& name, const std::wstring& value);

void SetParentConsole(bool exists);          // AttachConsole succeeds
void SetConsoleAllocationFails(bool fails);  // AllocConsole fails
void SetDebuggerPresent(bool present);       // default false
bool ConsoleAttached();
bool ConsoleAllocated();

// What GetCommandLineW returns (default: built from the process arguments).
void SetCommandLine(const std::wstring& command_line);

// Whether User32.dll exports EnableNonClientDpiScaling (default true).
void SetNonClientDpiScalingAvailable(bool available);
// Icon resources the executable holds for LoadIconW (default none).
void AddIconResource(WORD id);

// ---- windows ----------------------------------------------------------------

// The next `times` CreateWindowExW calls fail with `error` before any
// message is sent.
void FailCreateWindowExW(DWORD error, int times = -1);

struct WindowSnapshot {
  bool exists;
  bool visible;
  HWND parent;
  RECT window_rect;  // screen coordinates
  RECT client_rect;
  DWORD style;
  std::wstring title;
  std::wstring class_name;
  bool non_client_dpi_scaling;  // EnableNonClientDpiScaling was called
};
WindowSnapshot DescribeWindow(HWND hwnd);

// The value last set with DwmSetWindowAttribute; false if none was.
bool DwmAttribute(HWND hwnd, DWORD attribute, std::vector<BYTE>* value);

// Windows that exist now, on any thread.
int LiveWindowCount();

struct PostedMessage {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  DWORD thread;  // the posting thread
};
// Every message accepted by PostMessageW since the last Reset, in order.
std::vector<PostedMessage> PostedMessages();

// The next `times` PostMessageW calls (every call when times < 0) that post
// `message` (any message when 0) fail with `error` and post nothing. A full
// queue fails by itself: a thread's queue takes at most
// kPostedMessageQuota messages, as Windows's default quota, and refuses more
// with ERROR_NOT_ENOUGH_QUOTA.
void FailPostMessageW(DWORD error, int times = -1, UINT message = 0);
inline constexpr size_t kPostedMessageQuota = 10000;

// The next `times` GetMessageW calls (every call when times < 0), on any
// thread, answer -1 with `error` and take no message.
void FailGetMessageW(DWORD error, int times = -1);

// ---- device notifications ----------------------------------------------

// Registrations made with RegisterDeviceNotificationW and not yet undone,
// whether or not their windows still exist. Reset() keeps them.
int DeviceNotificationRegistrations();

// Plays the system's part when a device interface of `interface_class`
// arrives (DBT_DEVICEARRIVAL) or has gone (DBT_DEVICEREMOVECOMPLETE): every
// window registered for that class (or for all classes) is sent
// WM_DEVICECHANGE with `event` and a DEV_BROADCAST_DEVICEINTERFACE_W naming
// `path`. The message runs when the window's thread next looks at its queue,
// as a message sent from another process; the caller does not wait. Returns
// the number of windows told.
int BroadcastDeviceInterfaceChange(WPARAM event, REFGUID interface_class,
                                   const std::wstring& path);

// Whether PostQuitMessage was called since the last Reset, and its code.
bool QuitPosted(int* exit_code);

}  // namespace win32_standin

#endif  // SNAPFERRY_WIN32_STANDIN_CONTROL_H_
