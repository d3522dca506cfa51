// Kernel services the system calls: last error, files, ticks, modules,
// command line, local memory, debugger presence.
#ifndef SNAPFERRY_WIN32_WINBASE_H_
#define SNAPFERRY_WIN32_WINBASE_H_

#include <windef.h>
#include <winerror.h>

// ---- last error (per thread) ---------------------------------------------
EXTERN_C DWORD WINAPI GetLastError(void);
EXTERN_C void WINAPI SetLastError(DWORD dwErrCode);

// ---- files ------------------------------------------------------------------
// Paths are UTF-16 and are converted to UTF-8 for the file system. Both '\'
// and '/' separate components, as on Windows: every '\' is read as '/'. There
// are no drive letters; a path is used as a POSIX path otherwise. Share modes
// are enforced between all handles of this process.
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define DELETE 0x00010000u
#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_APPEND_DATA 0x0004u

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define FILE_FLAG_WRITE_THROUGH 0x80000000
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

EXTERN_C HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess,
                                   DWORD dwShareMode,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                   DWORD dwCreationDisposition,
                                   DWORD dwFlagsAndAttributes,
                                   HANDLE hTemplateFile);
EXTERN_C BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer,
                               DWORD nNumberOfBytesToWrite,
                               LPDWORD lpNumberOfBytesWritten,
                               LPOVERLAPPED lpOverlapped);
EXTERN_C BOOL WINAPI FlushFileBuffers(HANDLE hFile);
EXTERN_C BOOL WINAPI CloseHandle(HANDLE hObject);
EXTERN_C BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);

// ---- time -------------------------------------------------------------------
// Milliseconds since an arbitrary start; never goes back.
EXTERN_C ULONGLONG WINAPI GetTickCount64(void);
EXTERN_C void WINAPI Sleep(DWORD dwMilliseconds);

// ---- threads, modules, process ------------------------------------------
EXTERN_C DWORD WINAPI GetCurrentThreadId(void);
EXTERN_C HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
// Only "User32.dll" (any letter case) loads, and it exports
// EnableNonClientDpiScaling unless a test removed it.
EXTERN_C HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
EXTERN_C FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
EXTERN_C BOOL WINAPI FreeLibrary(HMODULE hLibModule);
EXTERN_C LPWSTR WINAPI GetCommandLineW(void);
EXTERN_C HLOCAL WINAPI LocalFree(HLOCAL hMem);
EXTERN_C BOOL WINAPI IsDebuggerPresent(void);
// number * numerator / denominator with a 64-bit intermediate, rounded half
// away from zero; -1 when denominator is 0 or the result overflows.
EXTERN_C int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator);

// The program's entry point, which the program defines; the process entry
// (snapferry_win32_entry) calls it.
int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                    LPWSTR lpCmdLine, int nShowCmd);

#endif  // SNAPFERRY_WIN32_WINBASE_H_
