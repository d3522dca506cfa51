// COM object interfaces the system uses (the streams).
#ifndef SNAPFERRY_WIN32_OBJIDL_H_
#define SNAPFERRY_WIN32_OBJIDL_H_

#include <objidlbase.h>
#include <unknwn.h>

#endif  // SNAPFERRY_WIN32_OBJIDL_H_

#include <windows.h>
#include <ole2.h>
