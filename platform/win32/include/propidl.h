// PROPVARIANT: a typed value whose type tag says what its union holds and
// who owns the memory it points to.
#ifndef SNAPFERRY_WIN32_PROPIDL_H_
#define SNAPFERRY_WIN32_PROPIDL_H_

#include <string.h>

#include <objidlbase.h>
#include <wtypes.h>

typedef struct tagCAUB {
  ULONG cElems;
  UCHAR* pElems;
} CAUB;

typedef struct tagCALPWSTR {
  ULONG cElems;
  LPWSTR* pElems;
} CALPWSTR;

typedef struct tagPROPVARIANT PROPVARIANT;

typedef struct tagCAPROPVARIANT {
  ULONG cElems;
  PROPVARIANT* pElems;
} CAPROPVARIANT;

struct tagPROPVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    CHAR cVal;
    UCHAR bVal;
    SHORT iVal;
    USHORT uiVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    LARGE_INTEGER hVal;
    ULARGE_INTEGER uhVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    FILETIME filetime;
    CLSID* puuid;
    BLOB blob;
    BSTR bstrVal;
    LPSTR pszVal;
    LPWSTR pwszVal;
    IUnknown* punkVal;
    IStream* pStream;
    CAUB caub;
    CALPWSTR calpwstr;
    CAPROPVARIANT capropvar;
  };
};
typedef PROPVARIANT* LPPROPVARIANT;
typedef const PROPVARIANT* REFPROPVARIANT;

#ifdef __cplusplus
static_assert(sizeof(PROPVARIANT) == 24, "PROPVARIANT is 24 bytes on x64");
static_assert(offsetof(PROPVARIANT, pwszVal) == 8, "the value follows vt");
#endif

static inline void PropVariantInit(PROPVARIANT* pvar) {
  memset(pvar, 0, sizeof(PROPVARIANT));
}

// Frees what the value owns (strings and buffers with CoTaskMemFree,
// interfaces with Release) and leaves it VT_EMPTY. DISP_E_BADVARTYPE for a
// type it does not know, leaving the value untouched.
WINOLEAPI PropVariantClear(PROPVARIANT* pvar);
// Deep copy: strings and buffers are duplicated, interfaces AddRef'd.
WINOLEAPI PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc);

#endif  // SNAPFERRY_WIN32_PROPIDL_H_

#include <windows.h>
#include <ole2.h>
