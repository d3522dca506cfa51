// The definitions of the system's own interface ids (Windows keeps them in
// its uuid library).
#define INITGUID
#include <combaseapi.h>
#include <objidlbase.h>
#include <unknwn.h>
