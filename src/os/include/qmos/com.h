// The COM core: base interfaces, class contexts and the entry points of an
// in-process server. Interfaces are abstract structs with pure virtual methods and
// no virtual destructor, so that their vtable slots follow declaration order exactly
// as COM lays them out; objects are freed by their own Release.
#pragma once

#include "qmos/guid.h"
#include "qmos/hresult.h"

namespace qmos {

struct VARIANT;
struct DISPPARAMS;
struct EXCEPINFO;
struct ITypeInfo;

struct IUnknown {
  virtual HRESULT QMOS_COM_CALL QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG QMOS_COM_CALL AddRef() = 0;
  virtual ULONG QMOS_COM_CALL Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IDispatch : IUnknown {
  virtual HRESULT QMOS_COM_CALL GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT QMOS_COM_CALL GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT QMOS_COM_CALL GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT QMOS_COM_CALL Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

// Type information, as the system's type libraries describe an interface. Only its
// reference counting is called here; the rest of its methods are the system's
// (oleaut32's), which libqmos calls on it. Where the platform has no type
// libraries there are no such objects.
struct ITypeInfo : IUnknown {
 protected:
  ~ITypeInfo() = default;
};

struct IClassFactory : IUnknown {
  virtual HRESULT QMOS_COM_CALL CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT QMOS_COM_CALL LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Class contexts. Only in-process servers exist on this platform.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER |
                                       CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The four entry points an in-process server module exports with C linkage:
//   extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID, void**);
//   extern "C" HRESULT DllCanUnloadNow();
//   extern "C" HRESULT DllRegisterServer();
//   extern "C" HRESULT DllUnregisterServer();
using PfnDllGetClassObject = HRESULT(QMOS_COM_CALL*)(REFCLSID, REFIID, void**);
using PfnDllCanUnloadNow = HRESULT(QMOS_COM_CALL*)();
using PfnDllRegisterServer = HRESULT(QMOS_COM_CALL*)();
using PfnDllUnregisterServer = HRESULT(QMOS_COM_CALL*)();

}  // namespace qmos
