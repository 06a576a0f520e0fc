// Type-library registration. On Windows a module carries its type library as a
// resource, which RegisterTypeLib hands to the system's registration; elsewhere
// modules carry none, and the library described by a TypeLibDesc is registered
// with the keys Windows writes under HKEY_CLASSES_ROOT:
//   TypeLib\{LIBID}\<major>.<minor>            (default) = help string (name if none)
//   TypeLib\{LIBID}\<major>.<minor>\FLAGS      (default) = "0"
//   TypeLib\{LIBID}\<major>.<minor>\HELPDIR    (default) = the module's folder
//   TypeLib\{LIBID}\<major>.<minor>\0\win32    (default) = the module's path
//   Interface\{IID}                            (default) = interface name
//   Interface\{IID}\ProxyStubClsid32           (default) = "{00020424-...-000000000046}"
//   Interface\{IID}\ProxyStubClsid             (default) = same
//   Interface\{IID}\TypeLib                    (default) = "{LIBID}", "Version" = "1.0"
// The Interface keys are written for dual and OLE-automation interfaces only. The
// version is written in hex as Windows does ("1.0", "1.a").
#pragma once

#include <string>
#include <vector>

#include "qmos/com.h"

namespace qmos {

struct TypeLibInterface {
  IID iid;
  std::string name;
  bool dual = false;
  bool oleAutomation = false;
};

struct TypeLibDesc {
  GUID libid;
  std::string name;
  std::string helpString;
  WORD majorVersion = 1;
  WORD minorVersion = 0;
  LCID lcid = 0;
  std::vector<TypeLibInterface> interfaces;
};

// "<major>.<minor>" in hex, the name of the version key.
std::string TypeLibVersionText(WORD major, WORD minor);

// Writes the keys above (on Windows: registers the library in the module's file,
// which must be the one described). TYPE_E_REGISTRYACCESS when the registry cannot
// be written.
HRESULT RegisterTypeLib(const TypeLibDesc& desc, const std::string& modulePath);
// Removes the version key (and the library key when no other version is left) and
// the Interface keys that name this library. TYPE_E_LIBNOTREGISTERED when the
// version is not registered.
HRESULT UnRegisterTypeLib(const TypeLibDesc& desc);
// The registered module path of a library version. TYPE_E_LIBNOTREGISTERED if none.
HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, std::string& path);

// The type information of the interface iid from the type library inside the
// module at modulePath, with one reference for the caller: what IDispatch's
// GetTypeInfo hands out. TYPE_E_CANTLOADLIBRARY where modules carry no library.
HRESULT LoadModuleTypeInfo(const std::string& modulePath, REFIID iid, ITypeInfo** typeInfo);
// Dispatch identifiers of the names (the member, then its parameters) from type
// information, as IDispatch::GetIDsOfNames answers them; E_NOTIMPL where modules
// carry no library.
HRESULT DispGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids);

}  // namespace qmos
