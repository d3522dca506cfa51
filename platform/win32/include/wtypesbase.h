// COM base types shared by the COM headers.
#ifndef SNAPFERRY_WIN32_WTYPESBASE_H_
#define SNAPFERRY_WIN32_WTYPESBASE_H_

#include <guiddef.h>
#include <windef.h>
#include <winerror.h>

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef LONG SCODE;

typedef struct _tagBLOB {
  ULONG cbSize;
  BYTE* pBlobData;
} BLOB, *LPBLOB;

// A property: a format id and a property id within it (20 bytes).
typedef struct _tagpropertykey {
  GUID fmtid;
  DWORD pid;
} PROPERTYKEY;

typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_ALL = 0x17
} CLSCTX;

#endif  // SNAPFERRY_WIN32_WTYPESBASE_H_
