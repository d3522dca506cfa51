// Macros for declaring and implementing COM interfaces. An interface is a
// struct of pure virtual functions; there is one calling convention.
#ifndef SNAPFERRY_WIN32_BASETYPS_H_
#define SNAPFERRY_WIN32_BASETYPS_H_

#include <windef.h>

#define interface struct
#define __STRUCT__ struct
#define MIDL_INTERFACE(x) struct
#define PURE = 0
#define THIS_
#define THIS void
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODV(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI EXTERN_C HRESULT STDAPICALLTYPE
#define STDAPI_(type) EXTERN_C type STDAPICALLTYPE
#define DECLARE_INTERFACE(iface) interface DECLSPEC_NOVTABLE iface
#define DECLARE_INTERFACE_(iface, base) \
  interface DECLSPEC_NOVTABLE iface : public base
#define WINOLEAPI STDAPI
#define WINOLEAPI_(type) STDAPI_(type)
#define WINOLEAUTAPI STDAPI
#define WINOLEAUTAPI_(type) STDAPI_(type)

#endif  // SNAPFERRY_WIN32_BASETYPS_H_
