// The Win32 subset the system calls, under the header name it includes.
#ifndef SNAPFERRY_WIN32_WINDOWS_H_
#define SNAPFERRY_WIN32_WINDOWS_H_

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <fileapi.h>
#include <winnls.h>
#include <winuser.h>
#include <wincon.h>
#include <winreg.h>

#endif  // SNAPFERRY_WIN32_WINDOWS_H_

#ifndef WIN32_LEAN_AND_MEAN
#include <shellapi.h>
#include <ole2.h>
#endif
