// IUnknown and IClassFactory.
#ifndef SNAPFERRY_WIN32_UNKNWN_H_
#define SNAPFERRY_WIN32_UNKNWN_H_

#include <unknwnbase.h>

DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xc0, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x46);

MIDL_INTERFACE("00000001-0000-0000-C000-000000000046")
IClassFactory : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter,
                                                   REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
typedef IClassFactory* LPCLASSFACTORY;

#endif  // SNAPFERRY_WIN32_UNKNWN_H_

#include <windows.h>
#include <ole2.h>
