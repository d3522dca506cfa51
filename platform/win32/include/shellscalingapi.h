// Per-monitor DPI.
#ifndef SNAPFERRY_WIN32_SHELLSCALINGAPI_H_
#define SNAPFERRY_WIN32_SHELLSCALINGAPI_H_

#include <windef.h>
#include <winerror.h>

typedef enum MONITOR_DPI_TYPE {
  MDT_EFFECTIVE_DPI = 0,
  MDT_ANGULAR_DPI = 1,
  MDT_RAW_DPI = 2,
  MDT_DEFAULT = MDT_EFFECTIVE_DPI
} MONITOR_DPI_TYPE;

EXTERN_C HRESULT WINAPI GetDpiForMonitor(HMONITOR hmonitor,
                                         MONITOR_DPI_TYPE dpiType, UINT* dpiX,
                                         UINT* dpiY);

#endif  // SNAPFERRY_WIN32_SHELLSCALINGAPI_H_
