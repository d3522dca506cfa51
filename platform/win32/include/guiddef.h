// GUIDs. DEFINE_GUID declares the name, or defines it (as a weak symbol, so
// several translation units may) when INITGUID is defined before inclusion.
#ifndef SNAPFERRY_WIN32_GUIDDEF_H_
#define SNAPFERRY_WIN32_GUIDDEF_H_

#include <string.h>
#include <windef.h>

typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;
typedef GUID IID, CLSID, FMTID;
typedef GUID* LPGUID, *LPIID, *LPCLSID;
typedef const GUID* LPCGUID;

#ifdef __cplusplus
#define REFGUID const GUID&
#define REFIID const IID&
#define REFCLSID const IID&
#define REFFMTID const IID&
#else
#define REFGUID const GUID*
#define REFIID const IID*
#define REFCLSID const IID*
#define REFFMTID const IID*
#endif

#ifdef __cplusplus
inline int IsEqualGUID(REFGUID a, REFGUID b) {
  return memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b) != 0; }
inline bool operator!=(REFGUID a, REFGUID b) { return !(a == b); }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#endif

#endif  // SNAPFERRY_WIN32_GUIDDEF_H_

// Outside the guard on purpose: a later inclusion with INITGUID defined turns
// the declarations that follow it into definitions.
#undef DEFINE_GUID
#ifdef INITGUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  EXTERN_C const GUID DECLSPEC_SELECTANY name = {                   \
      l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  EXTERN_C const GUID name
#endif
