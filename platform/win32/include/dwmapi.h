// Desktop window manager attributes.
#ifndef SNAPFERRY_WIN32_DWMAPI_H_
#define SNAPFERRY_WIN32_DWMAPI_H_

#include <windef.h>
#include <winerror.h>

#define DWMWA_USE_IMMERSIVE_DARK_MODE 20

EXTERN_C HRESULT WINAPI DwmSetWindowAttribute(HWND hwnd, DWORD dwAttribute,
                                              LPCVOID pvAttribute,
                                              DWORD cbAttribute);

#endif  // SNAPFERRY_WIN32_DWMAPI_H_
