// The console.
#ifndef SNAPFERRY_WIN32_WINCON_H_
#define SNAPFERRY_WIN32_WINCON_H_

#include <windef.h>

#define ATTACH_PARENT_PROCESS ((DWORD)-1)

EXTERN_C BOOL WINAPI AttachConsole(DWORD dwProcessId);
EXTERN_C BOOL WINAPI AllocConsole(void);

#endif  // SNAPFERRY_WIN32_WINCON_H_
