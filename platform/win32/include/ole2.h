// OLE: COM and OLE Automation together.
#ifndef SNAPFERRY_WIN32_OLE2_H_
#define SNAPFERRY_WIN32_OLE2_H_

#include <winerror.h>
#include <objbase.h>
#include <oleauto.h>

#endif  // SNAPFERRY_WIN32_OLE2_H_
