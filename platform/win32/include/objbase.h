// COM: the runtime, its interfaces and property values.
#ifndef SNAPFERRY_WIN32_OBJBASE_H_
#define SNAPFERRY_WIN32_OBJBASE_H_

#include <combaseapi.h>
#include <objidl.h>
#include <propidl.h>

#endif  // SNAPFERRY_WIN32_OBJBASE_H_
