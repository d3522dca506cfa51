// IUnknown, the root of every COM interface.
#ifndef SNAPFERRY_WIN32_UNKNWNBASE_H_
#define SNAPFERRY_WIN32_UNKNWNBASE_H_

#include <basetyps.h>
#include <guiddef.h>
#include <wtypesbase.h>

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x46);

MIDL_INTERFACE("00000000-0000-0000-C000-000000000046")
IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                                   void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

#endif  // SNAPFERRY_WIN32_UNKNWNBASE_H_
