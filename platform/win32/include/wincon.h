// The console.
#ifndef SNAPFERRY_WIN32_WINCON_H_
#define SNAPFERRY_WIN32_WINCON_H_

#include <windef.h>

#define ATTACH_PARENT_PROCESS ((DWORD)-1)

EXTERN_C BOOL WINAPI AttachConsole(DWORD dwProcessId);
EXTERN_C BOOL WINAPI AllocConsole(void);
// The console's output code page: CP_UTF8 until set (terminals here take
// UTF-8); any code page from 1 to 65535 is kept and told back, whatever
// the terminal does with it.
EXTERN_C BOOL WINAPI SetConsoleOutputCP(UINT wCodePageID);
EXTERN_C UINT WINAPI GetConsoleOutputCP(void);

// Console control events. Here SIGINT is Ctrl+C and SIGTERM or SIGHUP the
// console being closed. As on Windows each event runs the handlers on a new
// thread, the last one added first, until one returns TRUE; Ctrl+C that no
// handler takes ends the process, and so does a close once the handlers
// returned.
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD CtrlType);
EXTERN_C BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine,
                                           BOOL Add);

#endif  // SNAPFERRY_WIN32_WINCON_H_
