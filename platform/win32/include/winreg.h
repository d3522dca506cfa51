// Reading registry values.
#ifndef SNAPFERRY_WIN32_WINREG_H_
#define SNAPFERRY_WIN32_WINREG_H_

#include <windef.h>

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_QWORD 11

#define RRF_RT_REG_NONE 0x00000001
#define RRF_RT_REG_SZ 0x00000002
#define RRF_RT_REG_BINARY 0x00000008
#define RRF_RT_REG_DWORD 0x00000010
#define RRF_RT_REG_QWORD 0x00000040
#define RRF_RT_ANY 0x0000ffff

// Missing keys and values answer ERROR_FILE_NOT_FOUND, a value of a type the
// flags exclude ERROR_UNSUPPORTED_TYPE, a short buffer ERROR_MORE_DATA.
EXTERN_C LSTATUS WINAPI RegGetValueW(HKEY hkey, LPCWSTR lpSubKey,
                                     LPCWSTR lpValue, DWORD dwFlags,
                                     LPDWORD pdwType, PVOID pvData,
                                     LPDWORD pcbData);

#endif  // SNAPFERRY_WIN32_WINREG_H_
