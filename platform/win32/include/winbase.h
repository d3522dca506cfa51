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
// are no drive letters; a path is used as a POSIX path otherwise. A leading
// "\\?\" is dropped; of the "\\.\" device names only NUL exists (the null
// device), any other is not found. Share modes are enforced between all
// handles of this process.
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

// What a handle refers to: a regular file is FILE_TYPE_DISK, a character
// device (such as NUL) FILE_TYPE_CHAR, a pipe or FIFO FILE_TYPE_PIPE.
#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003
EXTERN_C DWORD WINAPI GetFileType(HANDLE hFile);

// The absolute form of a path, without touching the file system: '/' becomes
// '\', "." and ".." are resolved, trailing dots and spaces leave the last
// component, and a last component that is a DOS device name (CON, NUL,
// COM1, "nul.txt"...) gives "\\.\NAME". The stand-in has one root and no
// drive letters, so its full paths start with '\'. "\\?\" paths are
// returned as they are; a device has no file part. Returns the length written
// (without the NUL), or the size needed (with it) when the buffer is too small.
EXTERN_C DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength,
                                       LPWSTR lpBuffer, LPWSTR* lpFilePart);

// Only FileDispositionInfo, on a regular file opened with DELETE access.
// While the mark is set the file has no name in its folder (the stand-in
// keeps it as an unnamed file there, so it vanishes with the process however
// that ends), and this process's opens and deletions of its path fail: with
// ERROR_SHARING_VIOLATION when the holder's share mode refuses them (sharing
// is checked first), else with ERROR_ACCESS_DENIED, Windows's answer for
// a file whose deletion is pending. Clearing the mark gives the file its
// name back. A file held by
// more than one handle cannot be marked here (ERROR_NOT_SUPPORTED).
typedef enum _FILE_INFO_BY_HANDLE_CLASS {
  FileBasicInfo = 0,
  FileStandardInfo = 1,
  FileNameInfo = 2,
  FileRenameInfo = 3,
  FileDispositionInfo = 4,
} FILE_INFO_BY_HANDLE_CLASS;
typedef struct _FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO, *PFILE_DISPOSITION_INFO;
EXTERN_C BOOL WINAPI SetFileInformationByHandle(
    HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
    LPVOID lpFileInformation, DWORD dwBufferSize);

// File times in UTC. Linux keeps no creation time that can be set: a
// creation time given to SetFileTime is accepted and ignored, and
// GetFileTime reports the birth time where the file system keeps one (else
// the last-write time). A null or zero FILETIME leaves that time as it is.
EXTERN_C BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime,
                                 const FILETIME* lpLastAccessTime,
                                 const FILETIME* lpLastWriteTime);
EXTERN_C BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime,
                                 LPFILETIME lpLastAccessTime,
                                 LPFILETIME lpLastWriteTime);

// ---- time -------------------------------------------------------------------
// Milliseconds since an arbitrary start; never goes back.
EXTERN_C ULONGLONG WINAPI GetTickCount64(void);
EXTERN_C void WINAPI Sleep(DWORD dwMilliseconds);

// Calendar time <-> 100-ns intervals since 1601-01-01. Fields out of range
// fail with ERROR_INVALID_PARAMETER (the day of the week is not read).
EXTERN_C BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime,
                                          LPFILETIME lpFileTime);
EXTERN_C BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime,
                                          LPSYSTEMTIME lpSystemTime);
// Local wall-clock time in the process's zone (the TZ environment variable,
// as the C library reads it) to UTC. Only the current zone (null) is
// supported; any other answers ERROR_NOT_SUPPORTED. A local time that a
// daylight-saving change skips or repeats is resolved as the C library's
// mktime resolves it.
typedef struct _TIME_ZONE_INFORMATION TIME_ZONE_INFORMATION,
    *LPTIME_ZONE_INFORMATION;
EXTERN_C BOOL WINAPI TzSpecificLocalTimeToSystemTime(
    const TIME_ZONE_INFORMATION* lpTimeZoneInformation,
    const SYSTEMTIME* lpLocalTime, LPSYSTEMTIME lpUniversalTime);

// ---- threads, modules, process ------------------------------------------
EXTERN_C DWORD WINAPI GetCurrentThreadId(void);
EXTERN_C DWORD WINAPI GetCurrentProcessId(void);
// Ends the process at once with `uExitCode`; nothing is flushed.
EXTERN_C [[noreturn]] void WINAPI ExitProcess(UINT uExitCode);
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
