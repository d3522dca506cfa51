// Basic Windows types for the Linux stand-in. The widths follow the Windows
// x64 ABI: DWORD, ULONG, LONG, BOOL and HRESULT are 32 bits (never `long`,
// which is 64 bits here); pointer-sized types follow the pointer.
#ifndef SNAPFERRY_WIN32_WINDEF_H_
#define SNAPFERRY_WIN32_WINDEF_H_

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
#define EXTERN_C extern "C"
#else
#define EXTERN_C extern
#endif

#define WINAPI
#define WINAPIV
#define APIENTRY
#define CALLBACK
#define STDAPICALLTYPE
#define STDMETHODCALLTYPE
#define WINBASEAPI
#define WINUSERAPI
#define WINADVAPI
#define CONST const
#define VOID void
#define DECLSPEC_SELECTANY __attribute__((weak))
#define DECLSPEC_NOVTABLE
#define DECLSPEC_UUID(x)

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

typedef uint8_t BYTE, UCHAR, BOOLEAN;
typedef BYTE* PBYTE, *LPBYTE;
typedef char CHAR;
typedef int16_t SHORT;
typedef uint16_t WORD, USHORT;
typedef int32_t INT, LONG, BOOL, HRESULT;
typedef uint32_t UINT, DWORD, ULONG;
typedef int64_t LONGLONG, INT64;
typedef uint64_t ULONGLONG, UINT64, DWORD64;
typedef float FLOAT;
typedef double DOUBLE;
typedef intptr_t INT_PTR, LONG_PTR, SSIZE_T;
typedef uintptr_t UINT_PTR, ULONG_PTR, DWORD_PTR, SIZE_T;
typedef LONG* PLONG, *LPLONG;
typedef DWORD* PDWORD, *LPDWORD;
typedef ULONG* PULONG;
typedef BOOL* PBOOL, *LPBOOL;
typedef INT* LPINT;
typedef UINT* PUINT;
typedef WORD* LPWORD;
typedef void* PVOID, *LPVOID;
typedef const void* LPCVOID;
typedef LONG LSTATUS;

// One UTF-16 code unit per element, as on Windows; wchar_t is merely wider.
typedef wchar_t WCHAR;
typedef WCHAR* PWCHAR, *LPWSTR, *PWSTR, *LPWCH, *PWCH;
typedef const WCHAR* LPCWSTR, *PCWSTR, *LPCWCH, *PCWCH;
typedef CHAR* PCHAR, *LPSTR, *PSTR, *LPCH;
typedef const CHAR* LPCSTR, *PCSTR, *LPCCH;

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;

#define DECLARE_HANDLE(name) \
  struct name##__ {          \
    int unused;              \
  };                         \
  typedef struct name##__* name
typedef void* HANDLE;
typedef HANDLE* PHANDLE, *LPHANDLE;
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HMONITOR);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HRGN);
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;
typedef HANDLE HLOCAL, HGLOBAL;
typedef HKEY* PHKEY;
typedef LONG_PTR(WINAPI* FARPROC)();

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *PSIZE, *LPSIZE;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define LOBYTE(w) ((BYTE)(((DWORD_PTR)(w)) & 0xff))
#define HIBYTE(w) ((BYTE)((((DWORD_PTR)(w)) >> 8) & 0xff))
#define MAKEWORD(a, b) \
  ((WORD)(((BYTE)(((DWORD_PTR)(a)) & 0xff)) | ((WORD)((BYTE)(((DWORD_PTR)(b)) & 0xff))) << 8))
#define MAKELONG(a, b) \
  ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKELRESULT(l, h) ((LRESULT)(DWORD)MAKELONG(l, h))

#define MAX_PATH 260

#endif  // SNAPFERRY_WIN32_WINDEF_H_
