// Property keys: DEFINE_PROPERTYKEY follows DEFINE_GUID's INITGUID rule.
#ifndef SNAPFERRY_WIN32_PROPKEYDEF_H_
#define SNAPFERRY_WIN32_PROPKEYDEF_H_

#include <guiddef.h>
#include <wtypesbase.h>

#ifndef PID_FIRST_USABLE
#define PID_FIRST_USABLE 2
#endif

#define REFPROPERTYKEY const PROPERTYKEY&

#define IsEqualPropertyKey(a, b) \
  (((a).pid == (b).pid) && IsEqualIID((a).fmtid, (b).fmtid))

#ifdef __cplusplus
inline bool operator==(REFPROPERTYKEY a, REFPROPERTYKEY b) {
  return IsEqualPropertyKey(a, b);
}
inline bool operator!=(REFPROPERTYKEY a, REFPROPERTYKEY b) { return !(a == b); }
#endif

#endif  // SNAPFERRY_WIN32_PROPKEYDEF_H_

#undef DEFINE_PROPERTYKEY
#ifdef INITGUID
#define DEFINE_PROPERTYKEY(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8, \
                           pid)                                             \
  EXTERN_C const PROPERTYKEY DECLSPEC_SELECTANY name = {                    \
      {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}, pid}
#else
#define DEFINE_PROPERTYKEY(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8, \
                           pid)                                             \
  EXTERN_C const PROPERTYKEY name
#endif
