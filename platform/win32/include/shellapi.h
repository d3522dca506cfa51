// Splitting a command line into arguments.
#ifndef SNAPFERRY_WIN32_SHELLAPI_H_
#define SNAPFERRY_WIN32_SHELLAPI_H_

#include <windef.h>

// One LocalAlloc block holding the pointer array and the strings; free it
// with LocalFree. Windows's quoting and backslash rules.
EXTERN_C LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs);

#endif  // SNAPFERRY_WIN32_SHELLAPI_H_
